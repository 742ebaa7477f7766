// TImageButton: a flat button showing one SVG picture, with hover and pressed states drawn as a
// soft background and a disabled state drawn greyed. Used for the window's minimise, maximise
// and close images, the help button and the pages' picture buttons.
//
// Main (GUI) thread only.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

namespace hm::controls {

class TImageButton : public QAbstractButton {
  Q_OBJECT

 public:
  // `picture_size`: the drawn size of the picture; the button is `button_size`.
  TImageButton(const QString& picture, QSize picture_size, QSize button_size,
               QWidget* parent = nullptr);

  void SetPicture(const QString& picture);
  // Background under the pointer (default: a light veil for dark backgrounds).
  void SetHoverColor(const QColor& color) { hover_color_ = color; }
  // Colour the picture takes on hover (invalid: unchanged).
  void SetHoverInk(const QColor& color) { hover_ink_ = color; }
  QSize sizeHint() const override { return button_size_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString picture_;
  QSize picture_size_;
  QSize button_size_;
  QColor hover_color_{255, 255, 255, 38};
  QColor hover_ink_;
};

}  // namespace hm::controls
