#include "controls/picture.h"

#include <QPainter>
#include <QSvgRenderer>

namespace hm::controls {

QPixmap RenderPicture(const QString& resource, QSize size, qreal device_pixel_ratio) {
  const qreal ratio = device_pixel_ratio > 0 ? device_pixel_ratio : 1.0;
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(resource);
  if (renderer.isValid()) {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  }
  return pixmap;
}

QPixmap TintPicture(const QPixmap& picture, const QColor& color) {
  QPixmap tinted = picture;
  QPainter painter(&tinted);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(QRectF(QPointF(0, 0), tinted.deviceIndependentSize()), color);
  return tinted;
}

}  // namespace hm::controls
