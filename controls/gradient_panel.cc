#include "controls/gradient_panel.h"

#include <QPainter>

#include "controls/skin.h"

namespace hm::controls {

TGradientPanel::TGradientPanel(QWidget* parent)
    : QWidget(parent),
      top_(skin::kPanelTop),
      bottom_(skin::kPanelBottom),
      border_(skin::kPanelBorder),
      radius_(skin::kCornerRadius) {}

void TGradientPanel::SetColors(const QColor& top, const QColor& bottom) {
  top_ = top;
  bottom_ = bottom;
  update();
}

void TGradientPanel::SetBorderColor(const QColor& border) {
  border_ = border;
  update();
}

void TGradientPanel::SetRadius(int radius) {
  radius_ = radius;
  update();
}

void TGradientPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient fill(0, 0, 0, height());
  fill.setColorAt(0, top_);
  fill.setColorAt(1, bottom_);
  painter.setBrush(fill);
  painter.setPen(border_.isValid() ? QPen(border_, 1) : Qt::NoPen);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
}

}  // namespace hm::controls
