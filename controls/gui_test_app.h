// For GUI tests: the one QApplication of a test program, created on first use on the offscreen
// platform (unless the environment names another), so that the tests run without a display.
#pragma once

#include <QApplication>
#include <QWidget>

// Leak checking (ASan builds): fontconfig keeps caches it never frees; they are not ours.
extern "C" [[gnu::used]] inline const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace hm::controls::testing {

inline QApplication& GuiTestApp() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "hm-gui-test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's own statics made after it (the pointing devices of simulated clicks)
  // go first at exit, and destroying the application after them crashes.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// The modal dialog now open, if any.
inline QWidget* OpenModal() { return QApplication::activeModalWidget(); }

}  // namespace hm::controls::testing
