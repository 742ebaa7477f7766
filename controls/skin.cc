#include "controls/skin.h"

#include <QApplication>
#include <QFontDatabase>

#include "controls/program_style.h"

namespace hm::controls::skin {

QString ApplicationStyleSheet() {
  // Colours are written out so that the sheet reads on its own; they follow skin.h.
  return QStringLiteral(R"(
QWidget#hmBody { background: #f3f5f8; }
QLabel { color: #1f2d3d; }
QLabel[role="title"] { font-size: 15pt; font-weight: 600; color: #1f2d3d; }
QLabel[role="subtitle"] { color: #5b6b7c; }
QPushButton {
  color: #1f2d3d; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #e8edf2);
  border: 1px solid #c4ccd6; border-radius: 4px; padding: 5px 16px; min-height: 18px;
}
QPushButton:hover { border-color: #f2a31b; }
QPushButton:pressed { background: #dfe5ec; }
QPushButton:disabled { color: #9aa6b2; border-color: #d9dee4; }
QPushButton:default, QPushButton[accent="true"] {
  color: #ffffff; border: 1px solid #c97f06;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f6b540, stop:1 #e0900c);
}
QPushButton[accent="true"]:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f8c25e, stop:1 #e99a16); }
QPushButton[accent="true"]:disabled { color: #fbe3b8; background: #ecc98a; border-color: #e2bc78; }
QCheckBox, QRadioButton { color: #1f2d3d; spacing: 6px; }
QLineEdit, QComboBox, QSpinBox, QPlainTextEdit, QTextEdit {
  background: #ffffff; border: 1px solid #c4ccd6; border-radius: 3px; padding: 3px 5px;
  selection-background-color: #f2a31b; selection-color: #ffffff;
}
QLineEdit:focus, QComboBox:focus, QSpinBox:focus { border-color: #f2a31b; }
QComboBox { padding-right: 22px; }
QComboBox::drop-down { border: none; width: 20px; subcontrol-origin: padding; subcontrol-position: center right; }
QComboBox::down-arrow { image: url(:/controls/resources/arrow-down.svg); width: 10px; height: 10px; }
QComboBox QAbstractItemView { border: 1px solid #c4ccd6; selection-background-color: #fbe6c2; selection-color: #1f2d3d; }
QListView, QTreeView, QTableView, QListWidget, QTreeWidget, QTableWidget {
  background: #ffffff; border: 1px solid #d3dae2; alternate-background-color: #f7f9fb;
  selection-background-color: #fbe6c2; selection-color: #1f2d3d;
}
QHeaderView::section {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #e9eef3);
  color: #3b4a5a; border: none; border-right: 1px solid #d3dae2; border-bottom: 1px solid #d3dae2;
  padding: 4px 6px;
}
QProgressBar {
  border: 1px solid #c4ccd6; border-radius: 4px; background: #ffffff; text-align: center;
  color: #1f2d3d; min-height: 16px;
}
QProgressBar::chunk {
  border-radius: 3px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f6b540, stop:1 #e0900c);
}
QTabWidget::pane { border: 1px solid #d3dae2; background: #ffffff; top: -1px; }
QTabBar::tab {
  background: #e9eef3; color: #3b4a5a; border: 1px solid #d3dae2; border-bottom: none;
  padding: 6px 14px; margin-right: 2px; border-top-left-radius: 4px; border-top-right-radius: 4px;
}
QTabBar::tab:selected { background: #ffffff; color: #1f2d3d; border-top: 2px solid #f2a31b; }
QScrollBar:vertical { background: transparent; width: 12px; margin: 0; }
QScrollBar::handle:vertical { background: #c4ccd6; border-radius: 5px; min-height: 24px; margin: 2px; }
QScrollBar::handle:vertical:hover { background: #a9b4c0; }
QScrollBar:horizontal { background: transparent; height: 12px; margin: 0; }
QScrollBar::handle:horizontal { background: #c4ccd6; border-radius: 5px; min-width: 24px; margin: 2px; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QToolTip { color: #1f2d3d; background: #fffdf6; border: 1px solid #e0c58f; padding: 3px; }
QMenu { background: #ffffff; border: 1px solid #c4ccd6; padding: 4px 0; }
QMenu::item { padding: 6px 28px 6px 18px; color: #1f2d3d; }
QMenu::item:selected { background: #fbe6c2; }
QMenu::separator { height: 1px; background: #e1e6ec; margin: 4px 8px; }
)");
}

void ApplyToApplication(QApplication& app) {
  InstallProgramStyle(app);
  const QStringList families = QFontDatabase::families();
  QFont font = app.font();
  if (families.contains(QStringLiteral("Segoe UI"))) {
    font.setFamily(QStringLiteral("Segoe UI"));
    if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() + 1);
  } else if (families.contains(QStringLiteral("Tahoma"))) {
    font.setFamily(QStringLiteral("Tahoma"));
  }
  app.setFont(font);
  app.setStyleSheet(ApplicationStyleSheet());
}

}  // namespace hm::controls::skin
