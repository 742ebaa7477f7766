// TGradientPanel: a rounded panel with a vertical gradient fill and a hairline border, the
// background of the pages' content blocks.
//
// Main (GUI) thread only.
#pragma once

#include <QColor>
#include <QWidget>

namespace hm::controls {

class TGradientPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TGradientPanel(QWidget* parent = nullptr);

  void SetColors(const QColor& top, const QColor& bottom);
  void SetBorderColor(const QColor& border);
  void SetRadius(int radius);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor top_;
  QColor bottom_;
  QColor border_;
  int radius_;
};

}  // namespace hm::controls
