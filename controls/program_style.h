// TProgramStyle: the widget style of the whole program: Fusion (the same on every desktop) with
// the program's hint timing: a hint shows 50 ms after the pointer rests and stays up to
// 100000 ms.
//
// ListHintFilter: for list and tree views, the hint of an item is its complete text, shown over
// the item (its left edge one pixel left of the item), so that cut-off entries can be read;
// where no item is under the pointer no hint shows. Items with a hint of their own keep it.
//
// Main (GUI) thread only.
#pragma once

#include <QObject>
#include <QProxyStyle>

class QApplication;

namespace hm::controls {

inline constexpr int kHintPauseMs = 50;
inline constexpr int kHintHideMs = 100000;

class TProgramStyle : public QProxyStyle {
  Q_OBJECT

 public:
  TProgramStyle();

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override;
};

class ListHintFilter : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Installs both on `app` (the style is owned by the application, the filter by `app`).
void InstallProgramStyle(QApplication& app);

}  // namespace hm::controls
