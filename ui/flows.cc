#include "ui/flows.h"

#include <QApplication>
#include <QDesktopServices>
#include <QSystemTrayIcon>

#include "controls/header_button.h"
#include "controls/message_dialog.h"
#include "registry/regedit_jump.h"
#include "registry/win_registry.h"
#include "scanner/exclusions.h"
#include "ui/registry_view.h"
#include "ui/report_page.h"
#include "ui/restore_page.h"
#include "ui/results_page.h"
#include "ui/scan_page.h"

namespace hm::ui {
namespace {

using controls::ShowMessage;

constexpr qint64 kHourSeconds = 3600;
constexpr qint64 kDaySeconds = 24 * kHourSeconds;

constexpr char kMonitorOnText[] = " detected that Registry Monitor is ON. ";
constexpr char kMonitorScanText[] =
    "It is recommended that Registry Monitor is truned OFF while scanning registry.\r\r"
    "Do you want to temporary turn OFF Registry Monitor?";
constexpr char kMonitorRepairText[] =
    "It is recommended that Registry Monitor is turned OFF while repairing registry.\r\r"
    "Do you want to temporary turn OFF Registry Monitor?";
constexpr char kFullScanFirstText[] =
    " requires at least one full registry scan in order to calculate health status.\r\r"
    "Do you want to perform full registry scan now?";
constexpr char kNoCategoryText[] = "Please select at least one option.";
constexpr char kConfirmRepairText[] =
    "Hivemend is going to optimize your PC now: the selected registry issues will be repaired, "
    "and a backup of every change is kept so that it can be restored later.\r\r"
    "Click \"Yes\" to continue.";
constexpr char kNotAdminText[] =
    "You do not appear to have admin privileges. Hivemend may be unable to repair some items";

constexpr int kStyleMonitorQuestion = controls::kStyleQuestion | controls::kStyleYesNoCancel;
constexpr int kStyleRescanQuestion = controls::kStyleWarning | controls::kStyleYesNoCancel;
// Warning, Yes and No, with the second button as the default (which the dialog does not use).
constexpr int kStyleNotResolvedQuestion = 0x100 | controls::kStyleWarning | controls::kStyleYesNo;
constexpr int kStyleRestorePointFailed = controls::kStyleError | controls::kStyleAbortRetryIgnore;

scan::TErrorCategories CategoriesOfSettings(const app::Settings& settings) {
  scan::TErrorCategories categories;
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    if (settings.scan_categories[c]) categories.Include(static_cast<scan::TErrorCategory>(c));
  }
  return categories;
}

std::vector<std::string> IgnoreFileOf(const app::DataFolder& folder) {
  Result<std::filesystem::path> file = folder.Find(scan::kIgnoreFileName);
  if (!file.ok()) return {};
  Result<std::vector<std::string>> entries = scan::IgnoreFileEntries(*file);
  return entries.ok() ? std::move(entries).value() : std::vector<std::string>();
}

}  // namespace

QString FromAnsi(std::string_view text) {
  return QString::fromStdU16String(reg::AnsiToUtf16(text));
}

QString CountText(int count) {
  return count > 100 ? QStringLiteral("100+") : QString::number(count);
}

QString IssueCountText(int count) {
  if (count > 100) return QStringLiteral("100+ Issues");
  return QStringLiteral("%1 Issue%2").arg(count).arg(count == 1 ? "" : "s");
}

QString RescanWording(std::optional<qint64> age_seconds) {
  if (!age_seconds) return QStringLiteral("several days");
  if (*age_seconds <= kHourSeconds) return {};
  if (*age_seconds > kDaySeconds) return QStringLiteral("several days");
  if (*age_seconds > 2 * kHourSeconds) return QStringLiteral("several hours");
  return QStringLiteral("more than 1 hour");
}

QString RescanQuestion(const QString& wording) {
  return QStringLiteral("It has been ") + wording +
         QStringLiteral(" since your last scan has been completed.\r"
                        "We highly recommend that you rescan your registry before making registry "
                        "repairs.\r\rWould you like to rescan your registry now?");
}

QString RestorePointFailureText(int status, int windows_version) {
  QString text = QStringLiteral("A restore point could not be created [%1].").arg(status);
  if (status != 1058) return text;
  static const char* const kVistaSteps[] = {
      "\r\rTo fix this error:",
      "\r1. Right Click on Computer and select Properties.",
      "\r2. Click on System Protection.",
      "\r3. Under the Automatic restore points section of the System Protection tab, click on the "
      "check box next to the appropriate drive containing the your Windows installation. Then "
      "click Apply.",
      "\r4. Click on the OK button to close the System Properties Window.",
      "\r5. Close the System window.  The System Restore Service should now be running."};
  static const char* const kXpSteps[] = {
      "\r\rTo fix this error:",
      "\r1. Right Click on My Computer and select Manage.",
      "\r2. Click on the + sign next to Services and Applications to expand the view.",
      "\r3. Click on services, this will display as list of all the system services currently "
      "installed in the right pane.",
      "\r4. Scroll through the services list and locate the System Restore Service.  You will be "
      "able to see the status of the System Restore service as well as the startup type.",
      "\r5. We now want to change the startup type to Automatic and also start the System "
      "Restore Service.  To do this, right click on the System Restore Service and select "
      "properties.",
      "\r6. Click on the Startup type dropdown box triangle and select Automatic.  Then click "
      "Apply.",
      "\r7. Now Click on Start under Service Status.  The system status should now display "
      "Started.",
      "\r8. Click ok to close the System Restore Service Properties window.",
      "\r9. Under the Computer Management window you should now see that the Status for the "
      "System Restore Service is listed as Started and the Startup is listed as Automatic.  If "
      "this is true you can close the Computer Management window."};
  if (windows_version >= 8 && windows_version <= 12) {
    for (const char* step : kVistaSteps) text += QString::fromLatin1(step);
  } else if (windows_version == 6) {
    for (const char* step : kXpSteps) text += QString::fromLatin1(step);
  }
  return text;
}

TScanRepairFlows::TScanRepairFlows(TfmHMMain& main)
    : main_(main),
      open_url_([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      jump_(std::make_unique<TRegistryViewJump>()) {
  scan::TRegScanner& scanner = main_.Scanner();
  scanner.OnProgress = [this](const std::string& location, scan::TErrorCategory category,
                              int category_percent, int total_percent) {
    ScanProgress(location, category, category_percent, total_percent);
  };
  scanner.OnScanComplete = [this](scan::TRegScanner*) { ScanComplete(); };
  reg::SetRegistryJump(jump_.get());
}

TScanRepairFlows::~TScanRepairFlows() {
  // The window may already have freed its scanner; its events are not called while it goes.
  if (reg::ProcessRegistryJump() == jump_.get()) reg::SetRegistryJump(nullptr);
}

QString TScanRepairFlows::Title() const {
  return QString::fromStdString(main_.Environment().title);
}

TfScan* TScanRepairFlows::ScanPage() const {
  return main_.Body() ? qobject_cast<TfScan*>(main_.Page(hpScan)) : nullptr;
}

TfResults* TScanRepairFlows::ResultsPage() const {
  return main_.Body() ? qobject_cast<TfResults*>(main_.Page(hpResults)) : nullptr;
}

// ---- Scan ----

bool TScanRepairFlows::ScanRequest() {
  if (TfScan* page = ScanPage()) return page->ScanNow(/*interactive=*/!main_.BackgroundMode());
  return ScanRequested();
}

bool TScanRepairFlows::ScanRequested() {
  scan::TRegScanner& scanner = main_.Scanner();
  const bool background = main_.BackgroundMode();
  // A scan never starts over a running scan or repair, unattended or not.
  if (main_.Busy() || scanner.IsScanning()) return false;
  if (!background && scanner.HasResults()) {
    main_.SwitchPage(hpResults);
    return false;
  }
  TfScan* page = ScanPage();
  scan::TErrorCategories categories =
      page ? page->CheckedCategories() : CategoriesOfSettings(main_.Settings().settings());
  main_.SetRepairedCount(0);
  if (!background) {
    main_.SetMonitorPausedByUs(false);
    if (!PauseMonitorForScan()) return false;
    if (scanner.HealthPercent() == -1 && categories != scan::TErrorCategories::All() &&
        ShowMessage(Title() + QString::fromLatin1(kFullScanFirstText), Title(),
                    controls::kStyleQuestion | controls::kStyleYesNo) == controls::kIdYes) {
      categories = scan::TErrorCategories::All();
    }
    if (categories.bits() == 0) {
      ShowMessage(QString::fromLatin1(kNoCategoryText), Title(), controls::kStyleError);
      return false;
    }
  } else if (categories.bits() == 0) {
    return false;  // nothing to scan; an unattended run asks nothing
  }
  scanner.SetScanCategories(categories);

  for (int i = 0; i < kHeaderButtonCount; ++i) main_.HeaderButton(i)->setEnabled(i == kButtonScan);
  if (page) page->SetScanning(true);
  QCoreApplication::processEvents();

  const app::Settings& settings = main_.Settings().settings();
  Result<std::vector<std::string>> permanent = scan::LoadPermanentIgnores();
  scanner.SetIgnoreList(scan::BuildIgnoreList(
      settings.SkippedKeys, permanent.ok() ? *permanent : std::vector<std::string>(),
      IgnoreFileOf(main_.Environment().data_folder)));
  summary_ = {};
  main_.SetBusy(true);
  scanner.Start();
  return true;
}

bool TScanRepairFlows::PauseMonitorForScan() {
  TMonitorControl* monitor = main_.MonitorControl();
  if (monitor == nullptr || !monitor->IsActive()) return true;
  const int answer = ShowMessage(Title() + QString::fromLatin1(kMonitorOnText) +
                                     QString::fromLatin1(kMonitorScanText),
                                 Title(), kStyleMonitorQuestion);
  if (answer == controls::kIdYes) {
    monitor->SetActive(false);
    main_.SetMonitorPausedByUs(true);
    return true;
  }
  return answer == controls::kIdNo;
}

void TScanRepairFlows::ScanProgress(const std::string& location, scan::TErrorCategory category,
                                    int category_percent, int total_percent) {
  TfScan* page = ScanPage();
  if (page == nullptr) return;
  page->SetProgress(total_percent, FromAnsi(location));
  page->SetCategoryProgress(category, main_.Scanner().CategoryErrorCount(category),
                            category_percent >= 100);
}

void TScanRepairFlows::ScanComplete() {
  if (main_.Body() == nullptr) return;  // the window is going
  scan::TRegScanner& scanner = main_.Scanner();
  main_.SetBusy(false);
  main_.PostCommand(cmd::kHeaderState, 1);
  main_.SetLastScanTime(QDateTime::currentDateTime());
  if (TfScan* page = ScanPage()) {
    // Progress reports may precede the last findings of a category: the final counts.
    for (int c = 0; c < scan::kCategoryCount; ++c) {
      const auto category = static_cast<scan::TErrorCategory>(c);
      if (scanner.ScanCategories().Contains(category)) {
        page->SetCategoryProgress(category, scanner.CategoryErrorCount(category), true);
      }
    }
    page->SetScanning(false);
  }

  app::SettingsStore& store = main_.Settings();
  (void)store.Load();
  app::Settings& settings = store.settings();
  settings.last_scan =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmm")).toStdString();
  settings.last_repair = 0;
  settings.last_err = scanner.ErrorCount();
  settings.total_error_found += scanner.ErrorCount();
  settings.healthstatus = scanner.HealthStatusText();
  (void)store.Save();

  main_.PostCommand(cmd::kNothing);
  if (main_.FullScanRequired()) main_.SetFullScanRequired(!scanner.FullScanDone());
  main_.ShowResults();

  if (main_.BackgroundMode()) {
    QSystemTrayIcon& tray = main_.TrayIcon();
    const QString hint = CountText(scanner.ErrorCount()) + QStringLiteral(" unresolved issues found.");
    tray.setToolTip(hint);
    tray.show();
    if (!settings.DoNotShowNoticeOnDelayedStart && QSystemTrayIcon::supportsMessages()) {
      tray.showMessage(Title(), hint, QSystemTrayIcon::Information);
    }
  }
}

// ---- Repair ----

void TScanRepairFlows::Repair() {
  // 1. Confirmation.
  if (ShowMessage(QString::fromLatin1(kConfirmRepairText), Title(),
                  controls::kStyleQuestion | controls::kStyleYesNo) != controls::kIdYes) {
    return;
  }
  // 2. Old results.
  std::optional<qint64> age;
  if (main_.LastScanTime()) age = main_.LastScanTime()->secsTo(QDateTime::currentDateTime());
  if (const QString wording = RescanWording(age); !wording.isEmpty()) {
    const int answer = ShowMessage(RescanQuestion(wording), Title(), kStyleRescanQuestion);
    if (answer == controls::kIdYes) main_.PostCommand(cmd::kRescan);
    if (answer != controls::kIdNo) return;
  }
  // 3. The first repair.
  app::SettingsStore& store = main_.Settings();
  if (store.settings().FirstTimeScan) {
    (void)store.Load();
    store.settings().FirstTimeScan = false;
    (void)store.Save();
  }
  // 4. Rights.
  if (!main_.Environment().administrator) {
    ShowMessage(QString::fromLatin1(kNotAdminText), Title(), controls::kStyleWarning);
  }
  // 5. The monitor.
  if (!PauseMonitorForRepair()) return;
  // 6. The repair runs through the results page.
  TfResults* results = ResultsPage();
  if (results == nullptr) {
    ResumeMonitor();
    return;
  }
  results->SetWorking(true);
  // 8., 9. The restore point.
  main_.SetHeaderButtonsEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  results->SetRestorePointLine(true);
  const bool go_on = !store.settings().BackupBeforeScan || MakeRestorePoint();
  results->SetWorking(false);
  main_.SetHeaderButtonsEnabled(true);
  QApplication::restoreOverrideCursor();
  results->SetRestorePointLine(false);
  if (!go_on) {
    ResumeMonitor();
    return;
  }
  // 10.
  if (auto* restore = qobject_cast<TfRestore*>(main_.Page(hpRestore))) restore->MarkOutOfDate();
  const int error_count = main_.Scanner().ErrorCount();
  main_.SetBusy(true);
  main_.SetRepairedCount(0);
  // 11.
  int repaired = 0;
  int not_resolved = 0;
  summary_ = {};
  results->Repair(&repaired, &summary_, &not_resolved);
  // 12.
  main_.SetRepairedCount(repaired);
  (void)store.Load();
  store.settings().healthstatus = main_.Scanner().HealthStatusText();
  (void)store.Save();
  ResumeMonitor();
  main_.SetBusy(false);
  results->WriteNotResolvedList();
  main_.SwitchPage(hpReport);
  FillReport(error_count, repaired);
  // 13.
  if (not_resolved > 0) {
    QCoreApplication::processEvents();
    const QString question =
        Title() + QStringLiteral(" could not resolve ") + CountText(not_resolved) +
        QStringLiteral(" issue(s). Some registry keys or files may have been used by other "
                       "applications.\r\rDo you want to see the list of not resolved issues?");
    if (ShowMessage(question, Title(), kStyleNotResolvedQuestion) == controls::kIdYes) {
      if (Result<std::filesystem::path> file = results->NotResolvedListPath(); file.ok()) {
        open_url_(QUrl::fromLocalFile(QString::fromStdString(file->string())));
      }
    }
  }
}

bool TScanRepairFlows::PauseMonitorForRepair() {
  TMonitorControl* monitor = main_.MonitorControl();
  if (monitor == nullptr || !monitor->IsActive()) return true;
  if (main_.MonitorPausedByUs()) {
    monitor->SetActive(false);
    return true;
  }
  main_.SetMonitorPausedByUs(false);
  const int answer = ShowMessage(Title() + QString::fromLatin1(kMonitorOnText) +
                                     QString::fromLatin1(kMonitorRepairText),
                                 Title(), kStyleMonitorQuestion);
  if (answer == controls::kIdYes) {
    monitor->SetActive(false);
    main_.SetMonitorPausedByUs(true);
    return true;
  }
  return answer == controls::kIdNo;
}

void TScanRepairFlows::ResumeMonitor() {
  if (main_.MonitorPausedByUs() && main_.MonitorControl()) main_.MonitorControl()->SetActive(true);
}

bool TScanRepairFlows::MakeRestorePoint() {
  if (!restore_point_) return true;  // no restore-point service: nothing to make, nothing to ask
  for (;;) {
    const std::optional<int> status = restore_point_();
    if (!status || *status == 0) return true;
    const int answer =
        ShowMessage(RestorePointFailureText(*status, main_.Environment().windows_version), Title(),
                    kStyleRestorePointFailed);
    if (answer == controls::kIdIgnore) return true;
    if (answer != controls::kIdRetry) return false;  // Abort, or no answer
  }
}

// ---- Pages ----

void TScanRepairFlows::FillReport(int error_count, int repaired_count) {
  if (main_.Body() == nullptr) return;
  if (auto* report = qobject_cast<TfReportR*>(main_.Page(hpReport))) {
    report->Fill(error_count, repaired_count, summary_);
  }
}

void TScanRepairFlows::SetCheckAll(bool checked) {
  if (TfScan* page = ScanPage()) {
    page->SetCheckAll(checked);
  } else {
    main_.Settings().settings().scan_categories.fill(checked);
  }
}

void TScanRepairFlows::SaveScanPageState() {
  if (TfScan* page = ScanPage()) page->StoreStates();
}

}  // namespace hm::ui
