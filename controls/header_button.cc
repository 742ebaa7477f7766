#include "controls/header_button.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>

#include "controls/picture.h"
#include "controls/skin.h"

namespace hm::controls {

THeaderButton::THeaderButton(const QString& caption, const QString& icon, QWidget* parent)
    : QAbstractButton(parent), icon_(icon) {
  setText(caption);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
  setFixedSize(sizeHint());
}

void THeaderButton::SetSelected(bool selected) {
  if (selected_ == selected) return;
  selected_ = selected;
  update();
}

QSize THeaderButton::sizeHint() const {
  return QSize(skin::kHeaderButtonWidth, skin::kHeaderButtonHeight);
}

void THeaderButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF area = QRectF(rect()).adjusted(1, 0, -1, 0);
  const bool enabled = isEnabled();
  if (enabled && (hovered_ || isDown() || selected_)) {
    QLinearGradient fill(area.topLeft(), area.bottomLeft());
    QColor top = skin::kHover.lighter(selected_ ? 125 : 110);
    fill.setColorAt(0, top);
    fill.setColorAt(1, skin::kHover);
    QPainterPath path;
    path.addRoundedRect(area, 5, 5);
    painter.fillPath(path, fill);
  }
  QColor ink = enabled ? (hovered_ || selected_ ? QColor(Qt::white) : skin::kHeaderText)
                       : skin::kHeaderTextMuted.darker(130);
  const int icon_size = 28;
  QPixmap icon = RenderPicture(icon_, QSize(icon_size, icon_size), devicePixelRatioF());
  if (!enabled) icon = TintPicture(icon, ink);
  if (selected_ && enabled) icon = TintPicture(icon, skin::kAccent);
  painter.drawPixmap(QPointF((width() - icon_size) / 2.0, area.top() + 6), icon);

  QFont font = this->font();
  font.setPointSizeF(std::max(7.5, font.pointSizeF() - 0.5));
  font.setBold(selected_);
  painter.setFont(font);
  painter.setPen(ink);
  const QRectF caption(area.left(), area.top() + 6 + icon_size + 3, area.width(),
                       area.bottom() - (area.top() + 6 + icon_size + 3) - skin::kSelectedBarHeight);
  painter.drawText(caption, Qt::AlignHCenter | Qt::AlignTop, text());

  if (selected_) {
    painter.fillRect(QRectF(4, height() - skin::kSelectedBarHeight, width() - 8,
                            skin::kSelectedBarHeight),
                     enabled ? skin::kAccent : skin::kHeaderTextMuted);
  }
}

void THeaderButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void THeaderButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void THeaderButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) update();
  QAbstractButton::changeEvent(event);
}

}  // namespace hm::controls
