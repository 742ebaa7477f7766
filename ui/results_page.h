// TfResults: the results page. The findings of the last scan in the results list
// (TRegErrorListBox): a summary view of the five groups, which open into their categories, and a
// details view of one category's findings with their check boxes. The user selects and deselects
// findings, ignores them permanently, opens their key in the registry view, and starts the repair
// flow. The repair itself runs here (Repair): every selected finding of every category, in list
// order, through the repair engine, with the report lines of `repairs.htm` and the list of
// findings that could not be resolved (`cantremove.txt`), both in the data folder.
//
// Main (GUI) thread only.
#pragma once

#include <QListWidget>
#include <QStyledItemDelegate>
#include <filesystem>
#include <set>
#include <string>

#include "platform/status.h"
#include "scanner/error_list.h"
#include "ui/flows.h"
#include "ui/page_frame.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace hm::ui {

// The ignore entry of a finding: "HKEY_...\KeyPath\\:ValueName" ("(DEFAULT)" for the default
// value); empty for a finding about a file (it has no registry entry).
std::string IgnoreEntryOf(const scan::TRegError& error);

// The results list. Rows of the summary view are groups (collapsed or expanded) and the
// categories of expanded groups; rows of the details view are the findings of one category.
class TRegErrorListBox : public QListWidget {
  Q_OBJECT

 public:
  enum TView { vSummary = 0, vDetails = 1 };
  enum TRowKind { rkGroupCollapsed = 1, rkGroupExpanded = 2, rkCategory = 3, rkFinding = 4 };
  // Item data roles.
  static constexpr int kKindRole = Qt::UserRole + 1;
  static constexpr int kCategoryRole = Qt::UserRole + 2;
  static constexpr int kGroupRole = Qt::UserRole + 3;
  static constexpr int kIndexRole = Qt::UserRole + 4;  // a finding's index in its category

  explicit TRegErrorListBox(QWidget* parent);
  ~TRegErrorListBox() override;

  // Observes `scanner`'s findings (null: none).
  void Attach(scan::TRegScanner* scanner);
  void Detach() { Attach(nullptr); }
  scan::TRegScanner* AttachedScanner() const { return scanner_; }

  TView View() const { return view_; }
  int ShownCategory() const { return category_; }
  void ShowSummary();
  // Opens the details of `category`; a category without findings leaves the summary shown.
  void ShowDetails(int category);
  // Expands or collapses the group row at `row`.
  void ToggleGroup(int row);
  // Builds the rows again from the scanner (expanded groups and the selection are kept).
  void Rebuild();

  // The finding of the selected row of the details view, or null.
  scan::TRegError* SelectedFinding() const;
  scan::TRegError* FindingAt(int row) const;
  // Toggles the selection for repair of the finding at `row`.
  void ToggleChecked(int row);

 signals:
  // Selection or view changed: the page refreshes its counters.
  void CountersChanged();
  // "S" with a finding selected.
  void IgnoreRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void AddGroupRow(int group, bool expanded);
  void AddCategoryRows(int after_row, int group);
  void ScheduleRebuild();
  void ActivateRow(int row);

  scan::TRegScanner* scanner_ = nullptr;
  scan::TRegScannerChangeLink link_;
  TView view_ = vSummary;
  int category_ = -1;
  // Where the summary was when the details were opened.
  int summary_row_ = -1;
  int summary_scroll_ = 0;
  bool rebuild_pending_ = false;
};

class TfResults : public TfrHMFrame {
  Q_OBJECT

 public:
  TfResults(TfmHMMain& main, QWidget* body);

  void VisibleChanged(bool visible) override;

  // The repair loop. Fills the repaired count, the per-category summary and the count of
  // findings that could not be resolved.
  void Repair(int* repaired, TRepairSummary* summary, int* not_resolved);
  // "Repairing...": buttons off, the selected line hidden, the hourglass.
  void SetWorking(bool working);
  // The line "Creating restore point ...".
  void SetRestorePointLine(bool shown);
  // Rewrites `cantremove.txt` with the findings the last repair could not resolve (nothing when
  // there were none) and forgets them.
  void WriteNotResolvedList();
  Result<std::filesystem::path> NotResolvedListPath() const;

  // The context menu's actions.
  void PermanentlyIgnoreSelected();
  void SelectAll(bool checked);
  void SelectAllInGroup(bool checked);
  void ShowKeyOfSelected();
  // The context menu for the current row and view (not shown).
  QMenu* BuildContextMenu();
  // "Back".
  void Back();

  // For tests.
  TRegErrorListBox* List() const { return list_; }
  QPushButton* RepairButton() const { return repair_button_; }
  QPushButton* BackButton() const { return back_button_; }
  QLabel* FoundLabel() const { return found_; }
  QLabel* SelectedLabel() const { return selected_; }
  QLabel* TitleLabel() const { return title_; }
  QLabel* TotalLabel() const { return total_; }
  const std::string& NotResolvedText() const { return not_resolved_text_; }

 private:
  void UpdateCounters();
  void AppendReportLine(const std::string& line);

  TRegErrorListBox* list_ = nullptr;
  QLabel* title_ = nullptr;
  QLabel* found_ = nullptr;
  QLabel* selected_ = nullptr;
  QLabel* total_ = nullptr;
  QLabel* working_ = nullptr;
  QLabel* restore_point_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* back_button_ = nullptr;
  QPushButton* repair_button_ = nullptr;
  QMenu* menu_ = nullptr;
  std::string not_resolved_text_;
  bool working_state_ = false;
};

}  // namespace hm::ui
