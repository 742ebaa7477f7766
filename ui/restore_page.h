// TfRestore: the restore page. The snapshots of the undo store (one per day of repairs) in a
// selector, the keys of the chosen snapshot with check boxes, "Check / Uncheck All", the box that
// deletes snapshots older than a week, and Restore, Print and "Show Key". The decisions are
// TRestorePageModel's (repair/restore_page.h); this page shows its state, forwards the clicks,
// asks the questions and writes the registry after a restore.
//
// Main (GUI) thread only.
#pragma once

#include <QWidget>
#include <optional>

#include "repair/restore_page.h"
#include "ui/page_frame.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPrinter;
class QPushButton;

namespace hm::ui {

class TThreeStateBox;

class TfRestore : public TfrHMFrame {
  Q_OBJECT

 public:
  TfRestore(TfmHMMain& main, QWidget* body);

  void VisibleChanged(bool visible) override;
  // A repair wrote new backups: the lists are read again the next time the page is shown.
  void MarkOutOfDate();

  // The page's handlers.
  void SnapshotSelected(int index);
  void CheckAllClicked();
  void RestoreClicked();
  void PrintClicked();
  void ShowKeyClicked();
  // Prints the item texts, one per line; false (after the message) when the printer failed.
  bool PrintItems(QPrinter& printer);

  // For tests.
  QComboBox* Selector() const { return selector_; }
  QListWidget* Items() const { return list_; }
  QCheckBox* CheckAllBox() const;
  QCheckBox* AutoDeleteBox() const { return auto_delete_; }
  QLabel* CountLabel() const { return count_; }
  QPushButton* RestoreButton() const { return restore_; }
  QPushButton* PrintButton() const { return print_; }
  const repair::TRestorePageModel* Model() const { return model_ ? &*model_ : nullptr; }

 private:
  // The widgets from the model.
  void ShowLists();
  void ShowItems();
  void UpdateState();
  void ItemChanged(QListWidgetItem* item);

  std::optional<repair::TRestorePageModel> model_;
  QComboBox* selector_ = nullptr;
  QListWidget* list_ = nullptr;
  TThreeStateBox* check_all_ = nullptr;
  QCheckBox* auto_delete_ = nullptr;
  QLabel* count_ = nullptr;
  QPushButton* restore_ = nullptr;
  QPushButton* print_ = nullptr;
  bool filling_ = false;  // the item list is being filled: its changes are the program's
};

}  // namespace hm::ui
