// TfmHMMain: the program's one main window.
//
// It owns the scanner, the header with its seven navigation buttons, the pages of its body
// (created the first time they are shown and kept), the tray icon of unattended scans and the
// delayed start-up timer. Pages and dialogs talk to it through main-window commands: a code and
// an argument, posted with PostCommand() (they run after the current handler returns, in order);
// only command 18 is sent with SendCommand() and answered at once.
//
// The scan and repair flows and the pages that are not the window's own reach it through
// TMainFlows, TMonitorControl and THistoryControl; until they are installed the commands that
// need them only switch pages. Pages are installed with RegisterPage() (see ui/README.md).
//
// Main (GUI) thread only.
#pragma once

#include <QDateTime>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/environment.h"
#include "app/entry.h"
#include "app/settings_store.h"
#include "platform/main_thread.h"
#include "scanner/scanner.h"
#include "ui/page_frame.h"

class QSystemTrayIcon;
class QMenu;

namespace hm::controls {
class THeaderButton;
}

namespace hm::ui {

class THeaderBar;

// Page ids.
enum THMPage : uint8_t {
  hpNone = 0,
  hpPCStatus = 1,
  hpScan = 2,
  hpRestore = 3,
  hpSettings = 5,
  hpOptimize = 6,
  hpMonitor = 8,
  hpReport = 10,
  hpResults = 11,
  hpHistory = 12,
};

// Main-window command codes.
namespace cmd {
inline constexpr int kStartupDone = 0;         // start-up finished or window shown again
inline constexpr int kEnd = 1;                 // end the program
inline constexpr int kRepaint = 2;             // repaint everything
inline constexpr int kMonitorStart = 3;        // "monitor" start: monitor page, monitoring on
inline constexpr int kUpdatePostponed = 5;     // argument: days
inline constexpr int kUpdateResult = 6;        // argument: result of the update check
inline constexpr int kNothing = 7;             // posted after scans, repairs, optimizations
inline constexpr int kSaveSettings = 8;
inline constexpr int kStopAndEnd = 16;
inline constexpr int kShowWindow = 17;         // show and bring forward
inline constexpr int kEnsureMonitorOff = 18;   // sent: 1 when the monitor is (now) off
inline constexpr int kClearResults = 19;
inline constexpr int kResultsAndRepair = 20;
inline constexpr int kHeaderState = 21;        // argument: flags (see HandleHeaderState)
inline constexpr int kMonitorSettingsChanged = 22;
inline constexpr int kShowResults = 23;
inline constexpr int kScanNow = 100;
inline constexpr int kRepairOrScan = 108;
inline constexpr int kLockHeader = 110;        // all header buttons off but "Scan"
inline constexpr int kClearAndScanPage = 152;
inline constexpr int kMonitorOn = 190;
inline constexpr int kMonitorOff = 195;
inline constexpr int kPCStatusPage = 499;
inline constexpr int kScanButton = 500;
inline constexpr int kRescan = 501;
inline constexpr int kScanPage = 502;          // the scan page even with results
inline constexpr int kResultsButton = 503;
inline constexpr int kOptimizePage = 510;
inline constexpr int kRestorePage = 530;
inline constexpr int kMonitorPage = 540;
inline constexpr int kSettingsPage = 560;      // argument != 0: the monitor tab
inline constexpr int kHistoryPage = 580;
inline constexpr int kScanRequired = 615;      // back to PC status, "Check All" set
}  // namespace cmd

// The header buttons, left to right.
inline constexpr int kHeaderButtonCount = 7;
inline constexpr int kButtonPCStatus = 0;
inline constexpr int kButtonScan = 1;
inline constexpr int kButtonOptimize = 2;
inline constexpr int kButtonMonitor = 3;
inline constexpr int kButtonRestore = 4;
inline constexpr int kButtonHistory = 5;
inline constexpr int kButtonSettings = 6;
// The page each header button opens.
inline constexpr std::array<THMPage, kHeaderButtonCount> kHeaderButtonPages = {
    hpPCStatus, hpScan, hpOptimize, hpMonitor, hpRestore, hpHistory, hpSettings};

// Texts of the window.
inline constexpr char kScanRequiredText[] =
    "Registry scan not completed.  In order to access this feature a full registry scan must be "
    "completed.  Please click \"Scan Now\" to start the registry scan.";
inline constexpr char kScanRunningCloseText[] =
    "Registry scan is in progress.\r\rDo you want to terminate it and close application?";
inline constexpr char kHistoryRunningCloseText[] =
    "History scan is in progress.\r\rDo you want to terminate it and close application?";
inline constexpr char kRestartMonitorText[] =
    "You must restart Monitor for the changes to take effect.\r\n\r\nDo you want to restart "
    "Monitor now?";

// Timers.
inline constexpr int kDelayedStartFirstMs = 300000;    // five minutes
inline constexpr int kDelayedStartLaterMs = 14400000;  // four hours

// The scan and repair flows and the pages' parts the window needs. Installed by the pages.
class TMainFlows {
 public:
  virtual ~TMainFlows() = default;
  // What "Scan Now" on the scan page does; true when a scan was started.
  virtual bool ScanRequest() = 0;
  // The repair flow.
  virtual void Repair() = 0;
  // Fills the report page (just shown) with the issue count and the repaired count.
  virtual void FillReport(int error_count, int repaired_count) = 0;
  // Checks or unchecks the scan page's "Check All/Uncheck All" box.
  virtual void SetCheckAll(bool checked) = 0;
  // The scan page keeps its state (close request).
  virtual void SaveScanPageState() = 0;
};

// The monitor page's part, once the monitor page exists.
class TMonitorControl {
 public:
  virtual ~TMonitorControl() = default;
  // True when the monitor is off or the user agreed to turn it off (it then is off).
  virtual bool EnsureMonitorOff() = 0;
  virtual bool IsActive() const = 0;
  virtual void SetActive(bool active) = 0;
  // Hides the main window to the tray as the monitor page does.
  virtual void HideToTray() = 0;
  // Opens the settings page on its monitor tab (command 560 with a non-zero argument).
  virtual void ShowSettingsMonitorTab() {}
};

// The history page's part, once the history page exists.
class THistoryControl {
 public:
  virtual ~THistoryControl() = default;
  virtual bool IsCleaning() const = 0;
  virtual void StopCleaning() = 0;
  virtual void SaveState() = 0;
};

struct TMainWindowSetup {
  // Required; outlives the window.
  app::SettingsStore* settings = nullptr;
  app::Environment environment;
  // The program's arguments without the installation options; the first one is the mode.
  std::vector<std::string> args;
  // The first-run marker said this is the first run.
  bool first_run = false;
  // The splash window is up and posts command 0 when it closes.
  bool splash_showing = false;
  // The scanner's checks (tests give their own); empty: the program's.
  std::optional<scan::CategoryRoutines> routines;
  // How the program ends (command 1, stop and end): QCoreApplication::quit by default.
  std::function<void()> end_program;
  // How the process ends at once (end of the session): _Exit(0) by default.
  std::function<void()> end_process_now;
  // Opens a file or a web page with the desktop: QDesktopServices::openUrl by default.
  std::function<bool(const QUrl&)> open_url;
};

class TfmHMMain : public QWidget {
  Q_OBJECT

 public:
  TfmHMMain(MainThreadQueue& main_thread, TMainWindowSetup setup);
  ~TfmHMMain() override;

  // Pages. A page id without a factory shows a page that says a later release brings it.
  void RegisterPage(THMPage id, PageFactory factory);
  template <typename Page>
  void RegisterPage(THMPage id) {
    RegisterPage(id, [](TfmHMMain& main, QWidget* body) { return new Page(main, body); });
  }
  // The page, once it has been shown (null before).
  TfrHMFrame* Page(THMPage id) const;
  THMPage CurrentPage() const { return current_page_; }
  THMPage LastPage() const { return last_page_; }
  QWidget* Body() const { return body_; }

  // Shows page `id` by the page rules: nothing when it is shown already; the scan page while
  // the scanner has results posts command 503 instead.
  void SwitchPage(THMPage id);
  // The report page when the last scan found nothing, else the results page; then the monitor
  // goes on again if a flow paused it.
  void ShowResults();

  // Header.
  controls::THeaderButton* HeaderButton(int index) const;
  void SelectHeaderButton(int index);
  int SelectedHeaderButton() const { return selected_button_; }
  // A click on header button `index` (the locking rule, then the page).
  void HeaderButtonPressed(int index);
  void SetHeaderButtonsEnabled(bool enabled);
  // Left edge of header button `index` in a header `header_width` pixels wide.
  static int HeaderButtonLeft(int header_width, int index);

  // Commands.
  void PostCommand(int code, intptr_t argument = 0);
  intptr_t SendCommand(int code, intptr_t argument = 0);

  // State.
  scan::TRegScanner& Scanner() { return *scanner_; }
  app::SettingsStore& Settings() { return *setup_.settings; }
  const app::Environment& Environment() const { return setup_.environment; }
  const std::vector<std::string>& Args() const { return setup_.args; }
  std::string FirstArgument() const { return setup_.args.empty() ? "" : setup_.args[0]; }
  bool Busy() const { return busy_; }
  void SetBusy(bool busy) { busy_ = busy; }
  bool BackgroundMode() const { return background_mode_; }
  bool FirstRun() const { return setup_.first_run; }
  bool FullScanRequired() const { return full_scan_required_; }
  void SetFullScanRequired(bool required) { full_scan_required_ = required; }
  bool HeaderUnlocked() const { return header_unlocked_; }
  bool MonitorPausedByUs() const { return monitor_paused_by_us_; }
  void SetMonitorPausedByUs(bool paused) { monitor_paused_by_us_ = paused; }
  bool Closing() const { return closing_; }
  const std::optional<QDateTime>& LastScanTime() const { return last_scan_time_; }
  void SetLastScanTime(std::optional<QDateTime> time) { last_scan_time_ = std::move(time); }
  int RepairedCount() const { return repaired_count_; }
  void SetRepairedCount(int count) { repaired_count_ = count; }
  QTimer& DelayedStartTimer() { return delayed_start_timer_; }
  QSystemTrayIcon& TrayIcon() { return *tray_icon_; }
  QRect WorkArea() const { return work_area_; }

  // The flows and the later pages' parts.
  void SetFlows(std::unique_ptr<TMainFlows> flows);
  TMainFlows* Flows() const { return flows_.get(); }
  void SetMonitorControl(TMonitorControl* monitor) { monitor_ = monitor; }
  TMonitorControl* MonitorControl() const { return monitor_; }
  void SetHistoryControl(THistoryControl* history) { history_ = history; }
  THistoryControl* HistoryControl() const { return history_; }

  // What a later start of the program asks of this one.
  void ReactToInstance(const app::InstanceReaction& reaction);
  // The tray icon's "Open...", double click and balloon click.
  void OpenFromTray();
  // Command 16 and the session's end query: stop what runs and end.
  void StopAndEnd();
  // The session asks whether it may end / ends.
  void SessionEnding();
  void SessionEnded();
  // The help: the help file of the program folder, else the online help.
  void OpenHelp();
  // The About window (modal).
  void ShowAbout();
  void ToggleMaximized();
  // The delayed start-up timer fired: background mode; re-armed for four hours the first time;
  // an unattended scan when the window is hidden or minimised and nothing runs.
  void DelayedStartFired();

  // Which borders a point of a normal window of `size` resizes: within 7 pixels of an edge,
  // corners first. Empty elsewhere.
  static Qt::Edges SizingEdges(QSize size, QPoint point);

 signals:
  // A command has been handled (tests wait for it).
  void CommandHandled(int code, qlonglong argument);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  intptr_t HandleCommand(int code, intptr_t argument);
  void HandleHeaderState(intptr_t flags);
  void HandleUpdateResult(intptr_t result);
  void ShowPageById(THMPage id);
  void ShowPageByRule(THMPage id, bool results_first);
  bool CloseAllowed();
  void ShowHelpMenu();
  void ApplySizeLimits();
  void EndProgram();

  TMainWindowSetup setup_;
  MainThreadQueue& main_thread_;
  std::unique_ptr<scan::TRegScanner> scanner_;
  std::unique_ptr<TMainFlows> flows_;
  TMonitorControl* monitor_ = nullptr;
  THistoryControl* history_ = nullptr;

  THeaderBar* header_ = nullptr;
  QWidget* body_ = nullptr;
  std::map<THMPage, PageFactory> factories_;
  std::map<THMPage, QPointer<TfrHMFrame>> pages_;
  int selected_button_ = -1;

  THMPage current_page_ = hpNone;
  THMPage last_page_ = hpNone;
  bool busy_ = false;
  bool background_mode_ = false;
  bool full_scan_required_ = false;
  bool header_unlocked_ = false;
  bool monitor_paused_by_us_ = false;
  bool closing_ = false;
  bool ending_ = false;  // the program ends: the close request asks nothing more
  bool resize_cursor_ = false;  // the override cursor shows a sizing border
  bool manual_move_ = false;    // the header drags the window itself
  QPoint move_offset_;
  std::optional<QDateTime> last_scan_time_;
  int repaired_count_ = 0;
  QRect work_area_;

  QTimer delayed_start_timer_;
  QSystemTrayIcon* tray_icon_ = nullptr;
  QMenu* tray_menu_ = nullptr;
  QMenu* help_menu_ = nullptr;
};

}  // namespace hm::ui
