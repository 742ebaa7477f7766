// THeaderBar: the main window's own title area: the logo, the row of seven navigation buttons,
// the help button and the minimise, maximise and close images, over a dark gradient.
//
// The button row is centred by the rule of TfmHMMain::HeaderButtonLeft(). A press on the
// background asks to move the window, a double click to toggle maximised.
//
// Main (GUI) thread only.
#pragma once

#include <QWidget>
#include <array>

#include "controls/header_button.h"
#include "controls/image_button.h"

namespace hm::ui {

class THeaderBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kButtonCount = 7;

  explicit THeaderBar(QWidget* parent = nullptr);

  controls::THeaderButton* Button(int index) const { return buttons_[index]; }
  controls::TImageButton* HelpButton() const { return help_; }
  controls::TImageButton* MaximizeButton() const { return maximize_; }
  // Shows the maximise or the restore picture.
  void SetMaximized(bool maximized);

 signals:
  void ButtonClicked(int index);
  void HelpClicked();
  void MinimizeClicked();
  void MaximizeClicked();
  void CloseClicked();
  void MoveRequested(QPoint global_press);
  void DragMoved(QPoint global_position);
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void PlaceChildren();

  std::array<controls::THeaderButton*, kButtonCount> buttons_{};
  controls::TImageButton* help_ = nullptr;
  controls::TImageButton* minimize_ = nullptr;
  controls::TImageButton* maximize_ = nullptr;
  controls::TImageButton* close_ = nullptr;
};

}  // namespace hm::ui
