// Pictures of the program: SVG files in the Qt resources, drawn at the size and pixel density
// they are shown at, so that they stay sharp on high-density screens.
//
// Main (GUI) thread only.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace hm::controls {

// `resource` (":/...svg") drawn into a pixmap of `size` device-independent pixels for a screen
// of `device_pixel_ratio`. A missing or unreadable picture gives a transparent pixmap.
QPixmap RenderPicture(const QString& resource, QSize size, qreal device_pixel_ratio);
// The same picture with every opaque pixel in `color` (the disabled and hover states of icons).
QPixmap TintPicture(const QPixmap& picture, const QColor& color);

}  // namespace hm::controls
