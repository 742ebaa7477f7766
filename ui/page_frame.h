// TfrHMFrame: the base of every page of the main window.
//
// A page is a widget placed in the main window's body. It is created the first time it is shown
// (ShowFrame with no instance) and kept until the main window goes. The main window hands it the
// scanner each time it shows or hides it, and then calls VisibleChanged(), where a page brings
// its content up to date.
//
// Main (GUI) thread only.
#pragma once

#include <QWidget>
#include <functional>

namespace hm::scan {
class TRegScanner;
}

namespace hm::ui {

class TfmHMMain;
class TfrHMFrame;

// Creates a page inside `body` (its parent); the page is owned by `body`.
using PageFactory = std::function<TfrHMFrame*(TfmHMMain& main, QWidget* body)>;

class TfrHMFrame : public QWidget {
  Q_OBJECT

 public:
  TfrHMFrame(TfmHMMain& main, QWidget* body);

  scan::TRegScanner* Scanner() const { return scanner_; }
  TfmHMMain& Main() const { return main_; }

  // Called after every show or hide of the page by ShowFrame().
  virtual void VisibleChanged(bool visible);

  // The show operation of the pages: with no `instance`, creates the page with `create` inside
  // `body` (filling it); then hands it `scanner`, shows or hides it and calls VisibleChanged().
  // Returns the page.
  static TfrHMFrame* ShowFrame(TfrHMFrame* instance, const PageFactory& create, TfmHMMain& main,
                               QWidget* body, scan::TRegScanner* scanner, bool show);

 private:
  TfmHMMain& main_;
  scan::TRegScanner* scanner_ = nullptr;
};

}  // namespace hm::ui
