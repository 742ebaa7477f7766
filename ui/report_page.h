// TfReportR: the report page. After a repair it shows the counts of the run and a table of the
// 24 categories with what was found, repaired and left (ignored or failed); it also stands in for
// the results page when a scan found nothing.
//
// Main (GUI) thread only.
#pragma once

#include <QWidget>

#include "ui/flows.h"
#include "ui/page_frame.h"

class QLabel;
class QScrollBar;

namespace hm::ui {

// The table of the report: a caption column and three number columns, scrolled by its own bar.
class TReportTable : public QWidget {
  Q_OBJECT

 public:
  explicit TReportTable(QWidget* parent);

  void SetSummary(const TRepairSummary& summary);
  const TRepairSummary& Summary() const { return summary_; }
  // The texts of row `category`: caption, found, repaired, ignored.
  QStringList RowTexts(int category) const;
  QScrollBar* ScrollBar() const { return bar_; }
  // Height of a row: the text "Wg" plus 8 pixels.
  int RowHeight() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void UpdateScrollBar();

  TRepairSummary summary_{};
  QScrollBar* bar_ = nullptr;
};

class TfReportR : public TfrHMFrame {
  Q_OBJECT

 public:
  TfReportR(TfmHMMain& main, QWidget* body);

  void VisibleChanged(bool visible) override;
  // The repaired line and the table.
  void Fill(int error_count, int repaired_count, const TRepairSummary& summary);

  QLabel* LastScanLabel() const { return last_scan_; }
  QLabel* FoundLabel() const { return found_; }
  QLabel* RepairedLabel() const { return repaired_; }
  TReportTable* Table() const { return table_; }

 private:
  QLabel* last_scan_ = nullptr;
  QLabel* found_ = nullptr;
  QLabel* repaired_ = nullptr;
  TReportTable* table_ = nullptr;
};

}  // namespace hm::ui
