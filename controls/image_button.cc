#include "controls/image_button.h"

#include <QPainter>
#include <QPainterPath>

#include "controls/picture.h"

namespace hm::controls {

TImageButton::TImageButton(const QString& picture, QSize picture_size, QSize button_size,
                           QWidget* parent)
    : QAbstractButton(parent),
      picture_(picture),
      picture_size_(picture_size),
      button_size_(button_size) {
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
  setFixedSize(button_size);
}

void TImageButton::SetPicture(const QString& picture) {
  picture_ = picture;
  update();
}

void TImageButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const bool hovered = isEnabled() && underMouse();
  if (hovered || isDown()) {
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    QColor fill = hover_color_;
    if (isDown()) fill.setAlpha(std::min(255, fill.alpha() * 2));
    painter.fillPath(path, fill);
  }
  QPixmap pixmap = RenderPicture(picture_, picture_size_, devicePixelRatioF());
  if (!isEnabled()) {
    painter.setOpacity(0.35);
  } else if (hovered && hover_ink_.isValid()) {
    pixmap = TintPicture(pixmap, hover_ink_);
  }
  painter.drawPixmap(QPointF((width() - picture_size_.width()) / 2.0,
                             (height() - picture_size_.height()) / 2.0),
                     pixmap);
}

}  // namespace hm::controls
