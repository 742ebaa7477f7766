// TfmSplash: the splash window of an interactive start and, created anew, the About box.
//
// As the splash it is a borderless window on top, 484 by 259 pixels, showing the program's
// picture, "v. " and the version, and "Loading . . .". Shown without blocking, it closes itself
// 2000 ms later, tells the main window to go on with its start (command 0) and is deleted when
// closed. As the About box it is modal and shows a close button instead of "Loading . . .".
//
// Main (GUI) thread only.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>

namespace hm::ui {

class TfmSplash : public QDialog {
  Q_OBJECT

 public:
  enum Mode { kSplash, kAbout };

  TfmSplash(const QString& version, Mode mode, QWidget* parent = nullptr);

  // Shows the splash without blocking, centred on `center_on` (or the screen), and arms its
  // close timer; `closed` runs when the timer fires, before the window closes. The window
  // deletes itself when closed.
  static TfmSplash* ShowSplash(const QString& version, QWidget* center_on,
                               std::function<void()> closed);

  QTimer& CloseTimer() { return close_timer_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  Mode mode_;
  QTimer close_timer_;
  std::function<void()> closed_;
  QPoint drag_offset_;
};

}  // namespace hm::ui
