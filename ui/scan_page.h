// TfScan: the scan page. The 24 scan categories as check boxes with their captions in two
// columns, the three-state "Check All/Uncheck All" box, "Scan Now" and the stop button, and
// while a scan runs the number of findings per category, a progress bar and the location being
// checked. "Scan Now" hands the decision to the scan flow (TScanRequestHandler, ui/flows.h).
//
// The check boxes mirror the `scan` settings: loaded when the page is created, written back
// (StoreStates) before each scan, when a scan is stopped and when the main window closes.
//
// Main (GUI) thread only.
#pragma once

#include <QCheckBox>
#include <array>

#include "scanner/issue_types.h"
#include "ui/page_frame.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace hm::ui {

class TScanSpinner;

// A check box whose click never makes it grey: grey and unchecked go to checked, checked to
// unchecked. The program sets the grey state itself.
class TThreeStateBox : public QCheckBox {
  Q_OBJECT

 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override;
};

class TfScan : public TfrHMFrame {
  Q_OBJECT

 public:
  // What a category's result picture shows.
  enum class TResultPicture { kNone, kIssues, kClean };

  TfScan(TfmHMMain& main, QWidget* body);

  // "Scan Now". `interactive`: the full-scan warning may be asked (not for unattended scans).
  // True when a scan was started.
  bool ScanNow(bool interactive = true);
  // The stop button.
  void StopScan();

  // Writes the 24 check boxes into the settings (saving the file is the caller's business).
  void StoreStates();
  // The categories whose boxes are checked.
  scan::TErrorCategories CheckedCategories() const;
  // Sets every category box (as the user clicking "Check All/Uncheck All" would).
  void SetCheckAll(bool checked);

  void SetScanning(bool scanning);
  bool Scanning() const { return scanning_; }
  void SetProgress(int total_percent, const QString& location);
  // A category's count so far; `finished` shows its result picture.
  void SetCategoryProgress(scan::TErrorCategory category, int count, bool finished);

  // For tests and the flows.
  QCheckBox* CategoryBox(int category) const { return rows_[category].box; }
  QCheckBox* CheckAllBox() const { return check_all_; }
  QPushButton* ScanButton() const { return scan_button_; }
  QPushButton* StopButton() const { return stop_button_; }
  QLabel* CountLabel(int category) const { return rows_[category].count; }
  QLabel* CaptionLabel(int category) const { return rows_[category].caption; }
  QLabel* DescriptionLabel() const { return description_; }
  QProgressBar* ProgressBar() const { return progress_; }
  QLabel* ProgressText() const { return progress_text_; }
  TResultPicture ResultPictureOf(int category) const { return rows_[category].result; }

  void VisibleChanged(bool visible) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Row {
    QWidget* panel = nullptr;
    QLabel* picture = nullptr;
    QCheckBox* box = nullptr;
    QLabel* count = nullptr;
    QLabel* caption = nullptr;
    TResultPicture result = TResultPicture::kNone;
  };

  void BuildRows(QWidget* parent);
  void LoadStates();
  void CategoryBoxChanged();
  void CheckAllClicked();
  void UpdateCheckAll();
  void ShowResultPicture(int category, TResultPicture picture);
  int CategoryOfWidget(QObject* object) const;

  std::array<Row, scan::kCategoryCount> rows_;
  TThreeStateBox* check_all_ = nullptr;
  QPushButton* scan_button_ = nullptr;
  QPushButton* stop_button_ = nullptr;
  QLabel* scanning_now_ = nullptr;
  TScanSpinner* spinner_ = nullptr;
  QLabel* description_title_ = nullptr;
  QLabel* description_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* progress_text_ = nullptr;
  QLabel* hint_ = nullptr;
  bool scanning_ = false;
  bool setting_all_ = false;  // SetCheckAll is changing the boxes
};

}  // namespace hm::ui
