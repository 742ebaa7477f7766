// TScanRepairFlows: the scan flow and the repair flow of the main window.
//
// The scan flow checks what a scan needs (nothing running, no results waiting, the monitor, a
// first full scan, at least one category), builds the ignore list and starts the scanner; the
// scanner's progress and its end come back here and are shown on the scan page, and the end of a
// scan stores the counters and the health record in the settings and shows the results. The
// repair flow confirms with the user, suggests a rescan when the results are old, pauses the
// monitor, offers the restore-point step, lets the results page repair the selected findings and
// shows the report.
//
// The flows own the scanner's OnProgress and OnScanComplete and the "Show Key" registry view of
// the process (RegistryJump). Installed into the main window with SetFlows(); they live as long
// as the window.
//
// Main (GUI) thread only.
#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "scanner/issue_types.h"
#include "ui/main_window.h"

namespace hm::ui {

class TfScan;
class TfResults;
class TRegistryViewJump;

// Text of the installation's code page (names, paths, texts of findings) for display.
QString FromAnsi(std::string_view text);
// A plain count as the pages write it: the number, or "100+" above 100.
QString CountText(int count);
// "1 Issue", "7 Issues", "100+ Issues" (above 100).
QString IssueCountText(int count);
// The words of the rescan question for results `age_seconds` old: empty when they are at most
// one hour old (no question), "more than 1 hour", "several hours" (more than two hours) or
// "several days" (more than one day, or no scan time at all).
QString RescanWording(std::optional<qint64> age_seconds);
// The rescan question built with RescanWording().
QString RescanQuestion(const QString& wording);
// The message of a restore point that failed with `status`, with the steps that switch System
// Restore on when the service is disabled (1058) on Windows XP (6) and Vista to 10 (8..12).
QString RestorePointFailureText(int status, int windows_version);

// What the repair of one category did, for the report.
struct TCategoryRepairSummary {
  int found = 0;
  int repaired = 0;
  int not_repaired = 0;  // ignored findings and failed repairs
};
using TRepairSummary = std::array<TCategoryRepairSummary, scan::kCategoryCount>;

// The scan page hands its "Scan Now" to this after its own steps; the flows implement it.
class TScanRequestHandler {
 public:
  virtual ~TScanRequestHandler() = default;
  // True when the scan was started.
  virtual bool ScanRequested() = 0;
};

class TScanRepairFlows : public TMainFlows, public TScanRequestHandler {
 public:
  // The system restore point step. nullopt: there is no restore-point service (nothing is
  // asked, the repair goes on); 0: a restore point was made; other values: the failure status.
  using RestorePointMaker = std::function<std::optional<int>()>;

  explicit TScanRepairFlows(TfmHMMain& main);
  ~TScanRepairFlows() override;

  // TMainFlows.
  bool ScanRequest() override;
  void Repair() override;
  void FillReport(int error_count, int repaired_count) override;
  void SetCheckAll(bool checked) override;
  void SaveScanPageState() override;

  // TScanRequestHandler: the scan request proper (preconditions, questions, start).
  bool ScanRequested() override;

  // The scanner's events.
  void ScanProgress(const std::string& location, scan::TErrorCategory category,
                    int category_percent, int total_percent);
  void ScanComplete();

  // The summary of the last repair (zero after a scan).
  const TRepairSummary& LastSummary() const { return summary_; }

  // Replaces the restore-point step (tests; a platform that has one).
  void SetRestorePointMaker(RestorePointMaker maker) { restore_point_ = std::move(maker); }
  // How files are opened with the desktop (the not-resolved list); QDesktopServices by default.
  void SetOpenUrl(std::function<bool(const QUrl&)> open_url) { open_url_ = std::move(open_url); }

 private:
  TfScan* ScanPage() const;
  TfResults* ResultsPage() const;
  // The restore-point step with its Abort / Retry / Ignore message; false on Abort.
  bool MakeRestorePoint();
  // The monitor questions of the two flows; false when the user cancelled.
  bool PauseMonitorForScan();
  bool PauseMonitorForRepair();
  void ResumeMonitor();
  QString Title() const;

  TfmHMMain& main_;
  TRepairSummary summary_{};
  RestorePointMaker restore_point_;
  std::function<bool(const QUrl&)> open_url_;
  std::unique_ptr<TRegistryViewJump> jump_;
};

}  // namespace hm::ui
