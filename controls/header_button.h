// THeaderButton: one navigation button of the main window's header: an icon over a caption,
// drawn in four states (normal, hover, disabled, selected). The selected button carries a bar
// skin::kSelectedBarHeight pixels high along its bottom edge.
//
// Main (GUI) thread only.
#pragma once

#include <QAbstractButton>
#include <QString>

namespace hm::controls {

class THeaderButton : public QAbstractButton {
  Q_OBJECT

 public:
  // `icon` is an SVG resource drawn white on the dark header.
  THeaderButton(const QString& caption, const QString& icon, QWidget* parent = nullptr);

  bool IsSelected() const { return selected_; }
  void SetSelected(bool selected);
  bool IsHovered() const { return hovered_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QString icon_;
  bool selected_ = false;
  bool hovered_ = false;
};

}  // namespace hm::controls
