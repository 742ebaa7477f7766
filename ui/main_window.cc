#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdlib>

#include "controls/header_button.h"
#include "controls/message_dialog.h"
#include "controls/skin.h"
#include "registry/path_utils.h"
#include "repair/undo_store.h"
#include "ui/header_bar.h"
#include "ui/placeholder_page.h"
#include "ui/splash_window.h"

namespace hm::ui {
namespace {

namespace skin = controls::skin;
using controls::ShowMessage;

constexpr int kDesignWidth = 820;
constexpr int kDesignHeight = 600;
// Within this distance of an edge a point resizes the window.
constexpr int kSizingBorder = 7;
// The row of header buttons: the first button's left edge is kRowBase plus half of what the
// header has beyond kRowReserve and the buttons themselves.
constexpr int kRowBase = 247;
constexpr int kRowReserve = 305;

constexpr char kHelpFile[] = "hvmend.chm";
constexpr char kOnlineHelp[] = "https://www.hivemend.org/help/";
constexpr char kHomePage[] = "https://www.hivemend.org/";

bool IsWindowsBeforeVista(int version) { return version < 8; }

std::optional<QDateTime> ParseLastScan(const std::string& text) {
  const QDateTime time =
      QDateTime::fromString(QString::fromStdString(text), QStringLiteral("yyyyMMddHHmm"));
  if (!time.isValid()) return std::nullopt;
  return time;
}

}  // namespace

TfmHMMain::TfmHMMain(MainThreadQueue& main_thread, TMainWindowSetup setup)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      setup_(std::move(setup)),
      main_thread_(main_thread) {
  if (!setup_.end_program) setup_.end_program = [] { QCoreApplication::quit(); };
  if (!setup_.end_process_now) setup_.end_process_now = [] { std::_Exit(0); };
  if (!setup_.open_url) setup_.open_url = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  scanner_ = setup_.routines ? std::make_unique<scan::TRegScanner>(main_thread_, *setup_.routines)
                             : std::make_unique<scan::TRegScanner>(main_thread_);

  // 1. Work area, size limits, design size.
  setObjectName(QStringLiteral("hmMain"));
  if (QScreen* screen = QGuiApplication::primaryScreen()) work_area_ = screen->availableGeometry();
  ApplySizeLimits();
  resize(std::max(minimumWidth(), std::min(kDesignWidth, maximumWidth())),
         std::max(minimumHeight(), std::min(kDesignHeight, maximumHeight())));
  if (work_area_.isValid()) move(work_area_.center() - rect().center());
  setMouseTracking(true);

  // 2. Header.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(1, 0, 1, 1);
  layout->setSpacing(0);
  header_ = new THeaderBar(this);
  layout->addWidget(header_);
  body_ = new QWidget(this);
  body_->setObjectName(QStringLiteral("hmBody"));
  body_->setAttribute(Qt::WA_StyledBackground);
  layout->addWidget(body_, 1);
  for (int i = 0; i < kHeaderButtonCount; ++i) HeaderButton(i)->setMouseTracking(true);
  connect(header_, &THeaderBar::ButtonClicked, this, &TfmHMMain::HeaderButtonPressed);
  connect(header_, &THeaderBar::HelpClicked, this, &TfmHMMain::ShowHelpMenu);
  connect(header_, &THeaderBar::MinimizeClicked, this, [this] { showMinimized(); });
  connect(header_, &THeaderBar::MaximizeClicked, this, &TfmHMMain::ToggleMaximized);
  connect(header_, &THeaderBar::CloseClicked, this, [this] { close(); });
  connect(header_, &THeaderBar::DoubleClicked, this, &TfmHMMain::ToggleMaximized);
  connect(header_, &THeaderBar::MoveRequested, this, [this](QPoint press) {
    manual_move_ = false;
    if (isMaximized()) return;
    QWindow* window = windowHandle();
    if (window && window->startSystemMove()) return;
    // The platform cannot move the window for us: follow the pointer ourselves.
    manual_move_ = true;
    move_offset_ = press - pos();
  });
  connect(header_, &THeaderBar::DragMoved, this, [this](QPoint position) {
    if (manual_move_ && !isMaximized()) move(position - move_offset_);
  });
  SelectHeaderButton(kButtonPCStatus);
  // A work area no larger than the minimum leaves nothing to maximise to.
  header_->MaximizeButton()->setEnabled(minimumSize() != maximumSize());

  // 3. Borders: every mouse event of the window passes the sizing rule first.
  qApp->installEventFilter(this);
  controls::SetMessageMainWindow(this);

  // 4. The scanner's undo folder and stored health record.
  // The undo store is reached through the installation's files, where a data folder kept on the
  // host is mapped too; the scanner names files in the installation's code page.
  const std::string data = reg::Utf8ToAnsi(setup_.environment.data_folder_windows);
  if (!data.empty()) scanner_->SetBackupFolder(data + "\\" + std::string(repair::kUndoFolderName));
  scanner_->SetHealthStatusText(Settings().settings().healthstatus);

  // 5. Title, last page, last scan time.
  setWindowTitle(QString::fromLatin1(app::kApplicationTitle));
  last_page_ = hpPCStatus;
  last_scan_time_ = ParseLastScan(Settings().settings().last_scan);

  // The tray icon of unattended scans.
  tray_icon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/ui/resources/logo.svg")), this);
  tray_icon_->setToolTip(QString::fromLatin1(app::kApplicationTitle));
  tray_menu_ = new QMenu(this);
  QAction* open = tray_menu_->addAction(QStringLiteral("Open..."));
  QFont bold = open->font();
  bold.setBold(true);
  open->setFont(bold);
  connect(open, &QAction::triggered, this, &TfmHMMain::OpenFromTray);
  connect(tray_menu_->addAction(QStringLiteral("Close")), &QAction::triggered, this,
          [this] { PostCommand(cmd::kStopAndEnd); });
  tray_icon_->setContextMenu(tray_menu_);
  connect(tray_icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
              OpenFromTray();
            }
          });
  connect(tray_icon_, &QSystemTrayIcon::messageClicked, this, &TfmHMMain::OpenFromTray);

  // 7. Start-up goes on when the splash window closes, or now.
  if (!setup_.splash_showing) PostCommand(cmd::kStartupDone);
  // 8. The first page.
  SwitchPage(hpPCStatus);

  // 9. The delayed start-up timer.
  delayed_start_timer_.setSingleShot(false);
  delayed_start_timer_.setInterval(kDelayedStartFirstMs);
  connect(&delayed_start_timer_, &QTimer::timeout, this, &TfmHMMain::DelayedStartFired);

  // 10. What the start's mode asks for.
  const std::string first = FirstArgument();
  if (setup_.first_run || first == "startscan") {
    full_scan_required_ = true;
  } else if (first == "autoscan") {
    delayed_start_timer_.start();
  } else if (first == "monitor") {
    PostCommand(cmd::kMonitorStart);
  }

  // The end of the desktop session.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
    SessionEnding();
  });
}

TfmHMMain::~TfmHMMain() {
  qApp->removeEventFilter(this);
  if (resize_cursor_) QApplication::restoreOverrideCursor();
  // A running scan ends while the pages its last calls report to still exist; then nothing
  // reports any more, and the pages, the flows and the scanner go in that order.
  scanner_->Stop();
  scanner_->OnProgress = nullptr;
  scanner_->OnScanComplete = nullptr;
  delete body_;
  body_ = nullptr;
  flows_.reset();
  scanner_.reset();
}

void TfmHMMain::ApplySizeLimits() {
  if (!work_area_.isValid()) {
    setMinimumSize(kDesignWidth, kDesignHeight);
    return;
  }
  const int right = work_area_.x() + work_area_.width();
  const int bottom = work_area_.y() + work_area_.height();
  setMinimumSize(std::min(kDesignWidth, right), std::min(kDesignHeight, bottom));
  setMaximumSize(right, bottom);
}

// ---- Pages ----

void TfmHMMain::RegisterPage(THMPage id, PageFactory factory) { factories_[id] = std::move(factory); }

TfrHMFrame* TfmHMMain::Page(THMPage id) const {
  auto it = pages_.find(id);
  return it == pages_.end() ? nullptr : it->second.data();
}

void TfmHMMain::ShowPageById(THMPage id) {
  PageFactory factory;
  if (auto it = factories_.find(id); it != factories_.end()) {
    factory = it->second;
  } else {
    factory = [id](TfmHMMain& main, QWidget* body) {
      return new TfrLaterRelease(main, body, id);
    };
  }
  pages_[id] = TfrHMFrame::ShowFrame(Page(id), factory, *this, body_, scanner_.get(), true);
}

void TfmHMMain::SwitchPage(THMPage id) { ShowPageByRule(id, /*results_first=*/true); }

void TfmHMMain::ShowPageByRule(THMPage id, bool results_first) {
  if (id == current_page_) return;
  if (results_first && id == hpScan && scanner_->HasResults()) {
    PostCommand(cmd::kResultsButton);
    return;
  }
  if (id != hpScan) header_unlocked_ = true;
  if (header_unlocked_) SetHeaderButtonsEnabled(true);
  if (TfrHMFrame* current = Page(current_page_)) {
    TfrHMFrame::ShowFrame(current, nullptr, *this, body_, scanner_.get(), false);
  }
  ShowPageById(id);
  current_page_ = id;
  last_page_ = id;
}

void TfmHMMain::ShowResults() {
  const int last_err = Settings().settings().last_err;
  if (last_err <= 0) {
    SwitchPage(hpReport);
    if (flows_ && current_page_ == hpReport) flows_->FillReport(scanner_->ErrorCount(), repaired_count_);
  } else {
    SwitchPage(hpResults);
  }
  if (monitor_paused_by_us_ && monitor_) monitor_->SetActive(true);
}

// ---- Header ----

controls::THeaderButton* TfmHMMain::HeaderButton(int index) const { return header_->Button(index); }

void TfmHMMain::SelectHeaderButton(int index) {
  selected_button_ = index;
  for (int i = 0; i < kHeaderButtonCount; ++i) HeaderButton(i)->SetSelected(i == index);
}

void TfmHMMain::HeaderButtonPressed(int index) {
  if (index < 0 || index >= kHeaderButtonCount) return;
  if (full_scan_required_ && index >= kButtonOptimize && index <= kButtonHistory) {
    ShowMessage(QString::fromLatin1(kScanRequiredText), QString::fromLatin1(app::kApplicationTitle),
                controls::kStyleInformation);
    PostCommand(cmd::kScanRequired);
    return;
  }
  SelectHeaderButton(index);
  SwitchPage(kHeaderButtonPages[index]);
}

void TfmHMMain::SetHeaderButtonsEnabled(bool enabled) {
  for (int i = 0; i < kHeaderButtonCount; ++i) HeaderButton(i)->setEnabled(enabled);
}

int TfmHMMain::HeaderButtonLeft(int header_width, int index) {
  const int first =
      kRowBase + (header_width - skin::kHeaderButtonWidth * kHeaderButtonCount - kRowReserve) / 2;
  return first + index * (skin::kHeaderButtonWidth + skin::kHeaderButtonGap);
}

// ---- Commands ----

void TfmHMMain::PostCommand(int code, intptr_t argument) {
  QMetaObject::invokeMethod(
      this, [this, code, argument] { HandleCommand(code, argument); }, Qt::QueuedConnection);
}

intptr_t TfmHMMain::SendCommand(int code, intptr_t argument) { return HandleCommand(code, argument); }

intptr_t TfmHMMain::HandleCommand(int code, intptr_t argument) {
  intptr_t answer = 0;
  switch (code) {
    case cmd::kStartupDone:
      // The update check of a start comes with the update feature; the last page is shown now.
      SwitchPage(last_page_);
      break;
    case cmd::kEnd:
      EndProgram();
      break;
    case cmd::kRepaint:
      update();
      for (QWidget* child : findChildren<QWidget*>()) child->update();
      break;
    case cmd::kMonitorStart:
      if (FirstArgument() == "monitor") {
        SwitchPage(hpMonitor);
        SelectHeaderButton(kButtonMonitor);
        if (monitor_) {
          monitor_->SetActive(true);
          monitor_->HideToTray();
        } else {
          // Without a monitor page nothing would ever show this hidden window again.
          HandleCommand(cmd::kShowWindow, 0);
        }
      }
      break;
    case cmd::kUpdatePostponed:
      (void)Settings().SetNextDate(app::DateKind::kUpdateCheck, static_cast<int>(argument));
      break;
    case cmd::kUpdateResult:
      HandleUpdateResult(argument);
      break;
    case cmd::kNothing:
      break;
    case cmd::kSaveSettings:
      (void)Settings().Save();
      break;
    case cmd::kStopAndEnd:
      StopAndEnd();
      break;
    case cmd::kShowWindow:
      show();
      if (isMinimized()) showNormal();
      raise();
      activateWindow();
      break;
    case cmd::kEnsureMonitorOff:
      answer = monitor_ ? (monitor_->EnsureMonitorOff() ? 1 : 0) : 1;
      break;
    case cmd::kClearResults:
      scanner_->ClearResults();
      break;
    case cmd::kResultsAndRepair: {
      ShowResults();
      const app::Settings& s = Settings().settings();
      if (s.last_err > 0 && s.last_repair < s.last_err && flows_) flows_->Repair();
      break;
    }
    case cmd::kHeaderState:
      HandleHeaderState(argument);
      break;
    case cmd::kMonitorSettingsChanged:
      if (monitor_ && !monitor_->EnsureMonitorOff()) {
        if (ShowMessage(QString::fromLatin1(kRestartMonitorText),
                        QString::fromLatin1(app::kApplicationTitle),
                        controls::kStyleQuestion | controls::kStyleYesNo) == controls::kIdYes) {
          monitor_->SetActive(false);
          monitor_->SetActive(true);
          ShowMessage(QStringLiteral("Changes were applied successfully."),
                      QString::fromLatin1(app::kApplicationTitle), controls::kStyleInformation);
        }
      }
      break;
    case cmd::kShowResults:
      ShowResults();
      break;
    case cmd::kScanNow:
      SwitchPage(hpScan);
      if (flows_) flows_->ScanRequest();
      break;
    case cmd::kRepairOrScan:
      if (scanner_->ErrorCount() > 0) {
        ShowResults();
        if (flows_) flows_->Repair();
      } else {
        SwitchPage(hpScan);
        if (flows_) flows_->ScanRequest();
      }
      break;
    case cmd::kLockHeader:
      for (int i = 0; i < kHeaderButtonCount; ++i) HeaderButton(i)->setEnabled(i == kButtonScan);
      break;
    case cmd::kClearAndScanPage:
      scanner_->ClearResults();
      SwitchPage(hpScan);
      break;
    case cmd::kMonitorOn:
      if (monitor_) monitor_->SetActive(true);
      break;
    case cmd::kMonitorOff:
      if (monitor_) monitor_->SetActive(false);
      break;
    case cmd::kPCStatusPage:
      SwitchPage(hpPCStatus);
      SelectHeaderButton(kButtonPCStatus);
      break;
    case cmd::kScanButton:
      SwitchPage(scanner_->HasResults() ? hpResults : hpScan);
      SelectHeaderButton(kButtonScan);
      break;
    case cmd::kRescan:
      scanner_->ClearResults();
      SwitchPage(hpScan);
      QCoreApplication::processEvents();
      SelectHeaderButton(kButtonScan);
      if (flows_) flows_->ScanRequest();
      break;
    case cmd::kScanPage:
      // The "Back" buttons: the scan page even while results exist.
      ShowPageByRule(hpScan, /*results_first=*/false);
      break;
    case cmd::kResultsButton:
      ShowResults();
      SelectHeaderButton(kButtonScan);
      break;
    case cmd::kOptimizePage:
      SwitchPage(hpOptimize);
      break;
    case cmd::kRestorePage:
      SwitchPage(hpRestore);
      break;
    case cmd::kMonitorPage:
      SwitchPage(hpMonitor);
      break;
    case cmd::kSettingsPage:
      SelectHeaderButton(kButtonSettings);
      SwitchPage(hpSettings);
      if (argument != 0 && monitor_) monitor_->ShowSettingsMonitorTab();
      break;
    case cmd::kHistoryPage:
      SwitchPage(hpHistory);
      break;
    case cmd::kScanRequired:
      if (flows_) flows_->SetCheckAll(true);
      SelectHeaderButton(kButtonPCStatus);
      SwitchPage(hpPCStatus);
      break;
    default:
      break;
  }
  emit CommandHandled(code, static_cast<qlonglong>(argument));
  return answer;
}

void TfmHMMain::HandleHeaderState(intptr_t flags) {
  SetHeaderButtonsEnabled((flags & 1) != 0);
  if (flags & 2) setEnabled((flags & 4) != 0);
}

void TfmHMMain::HandleUpdateResult(intptr_t result) {
  const QString title = QString::fromLatin1(app::kApplicationTitle);
  switch (result) {
    case 0:
      if (!busy_ && (isHidden() || isMinimized())) {
        (void)Settings().SetNextDate(app::DateKind::kUpdateCheck, Settings().settings().UpdateFreq);
      }
      break;
    case 1:
      ShowMessage(QStringLiteral("There are no new updates. You have the latest version."), title,
                  controls::kStyleInformation);
      break;
    case 10:
      ShowMessage(QStringLiteral("Update download interrupted by the user."), title,
                  controls::kStyleInformation);
      break;
    case 11:
      ShowMessage(QStringLiteral("No updates available at this moment."), title,
                  controls::kStyleInformation);
      break;
    default:
      break;
  }
}

void TfmHMMain::SetFlows(std::unique_ptr<TMainFlows> flows) { flows_ = std::move(flows); }

// ---- Timers, tray, other instances ----

void TfmHMMain::DelayedStartFired() {
  background_mode_ = true;
  const bool first_firing = delayed_start_timer_.interval() == kDelayedStartFirstMs;
  delayed_start_timer_.stop();
  if (first_firing) {
    delayed_start_timer_.setInterval(kDelayedStartLaterMs);
    delayed_start_timer_.start();
  }
  if (!busy_ && (isHidden() || isMinimized())) PostCommand(cmd::kRescan);
}

void TfmHMMain::OpenFromTray() {
  tray_icon_->hide();
  if (delayed_start_timer_.isActive()) {
    delayed_start_timer_.setInterval(kDelayedStartLaterMs);
    delayed_start_timer_.start();
  }
  PostCommand(cmd::kShowWindow);
  PostCommand(cmd::kStartupDone);
}

void TfmHMMain::ReactToInstance(const app::InstanceReaction& reaction) {
  if (reaction.restart_delayed_timer && delayed_start_timer_.isActive()) {
    delayed_start_timer_.setInterval(kDelayedStartLaterMs);
    delayed_start_timer_.start();
  }
  if (reaction.show_main_window || reaction.restore_application) {
    show();
    if (isMinimized()) showNormal();
    if (QApplication::activeModalWidget() == nullptr) {
      raise();
      activateWindow();
    } else {
      QApplication::activeModalWidget()->raise();
      QApplication::activeModalWidget()->activateWindow();
    }
  }
  if (reaction.start_delayed_timer) delayed_start_timer_.start();
  if (reaction.show_status_page) {
    SwitchPage(hpPCStatus);
    SelectHeaderButton(kButtonPCStatus);
  }
}

// ---- Closing and ending ----

bool TfmHMMain::CloseAllowed() {
  const QString title = QString::fromLatin1(app::kApplicationTitle);
  const int yes_no = controls::kStyleQuestion | controls::kStyleYesNo;
  // 1. A scheduled-task file of this run is not left behind.
  if (auto schedule = setup_.environment.data_folder.Find("schedule.xml"); schedule.ok()) {
    std::error_code ignored;
    std::filesystem::remove(*schedule, ignored);
  }
  // 2., 3. Running work is ended only when the user agrees.
  if (scanner_->IsScanning() && !closing_ &&
      ShowMessage(QString::fromLatin1(kScanRunningCloseText), title, yes_no) != controls::kIdYes) {
    return false;
  }
  if (history_ && history_->IsCleaning() && !closing_ &&
      ShowMessage(QString::fromLatin1(kHistoryRunningCloseText), title, yes_no) !=
          controls::kIdYes) {
    return false;
  }
  // 4. Before Vista an armed unattended scan keeps the program running in the background. Only
  // a running timer counts: a timer that was never started would leave a hidden program that
  // nothing ever wakes and the user cannot close.
  const app::Settings& s = Settings().settings();
  if (IsWindowsBeforeVista(setup_.environment.windows_version) && s.last_err > 0 && !closing_ &&
      !setup_.first_run && s.AutoRunAction == 1 && delayed_start_timer_.isActive()) {
    hide();
    return false;
  }
  // 5. Pages keep their state; running work stops; the settings are written.
  if (history_) history_->SaveState();
  if (flows_) flows_->SaveScanPageState();
  scanner_->Stop();
  if (history_) history_->StopCleaning();
  (void)Settings().Save();
  return true;
}

void TfmHMMain::closeEvent(QCloseEvent* event) {
  if (ending_) {
    event->accept();
    return;
  }
  if (!CloseAllowed()) {
    event->ignore();
    return;
  }
  event->accept();
  EndProgram();
}

void TfmHMMain::EndProgram() {
  if (ending_) return;
  ending_ = true;
  tray_icon_->hide();
  hide();
  setup_.end_program();
}

void TfmHMMain::StopAndEnd() {
  if (IsWindowsBeforeVista(setup_.environment.windows_version) && closing_) {
    setup_.end_process_now();
    return;
  }
  scanner_->Stop();
  if (history_) history_->StopCleaning();
  EndProgram();
}

void TfmHMMain::SessionEnding() {
  closing_ = true;
  StopAndEnd();
}

void TfmHMMain::SessionEnded() {
  closing_ = true;
  setup_.end_process_now();
}

// ---- Help, About ----

void TfmHMMain::OpenHelp() {
  const QString file =
      QString::fromStdString((setup_.environment.program_folder / kHelpFile).string());
  if (QFileInfo::exists(file) && setup_.open_url(QUrl::fromLocalFile(file))) return;
  setup_.open_url(QUrl(QString::fromLatin1(kOnlineHelp)));
}

void TfmHMMain::ShowAbout() {
  TfmSplash about(QString::fromStdString(setup_.environment.program_version), TfmSplash::kAbout,
                  this);
  about.exec();
}

void TfmHMMain::ShowHelpMenu() {
  if (help_menu_ == nullptr) {
    help_menu_ = new QMenu(this);
    help_menu_->setObjectName(QStringLiteral("hmHelpMenu"));
    QAction* help = help_menu_->addAction(QStringLiteral("Help"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    connect(help, &QAction::triggered, this, &TfmHMMain::OpenHelp);
    connect(help_menu_->addAction(QStringLiteral("Visit the Hivemend Web Site")),
            &QAction::triggered, this,
            [this] { setup_.open_url(QUrl(QString::fromLatin1(kHomePage))); });
    help_menu_->addSeparator();
    connect(help_menu_->addAction(QStringLiteral("About Hivemend")), &QAction::triggered, this,
            &TfmHMMain::ShowAbout);
  }
  const QPoint corner(width() - 224, header_->HelpButton()->geometry().bottom() + 4);
  help_menu_->popup(mapToGlobal(corner));
}

void TfmHMMain::ToggleMaximized() {
  if (isMaximized()) {
    showNormal();
  } else {
    showMaximized();
    if (work_area_.isValid()) setGeometry(work_area_);
  }
  header_->SetMaximized(isMaximized());
}

// ---- Frame ----

Qt::Edges TfmHMMain::SizingEdges(QSize size, QPoint p) {
  const bool left = p.x() < kSizingBorder;
  const bool right = p.x() >= size.width() - kSizingBorder;
  const bool top = p.y() < kSizingBorder;
  const bool bottom = p.y() >= size.height() - kSizingBorder;
  if (bottom && right) return Qt::BottomEdge | Qt::RightEdge;
  if (bottom && left) return Qt::BottomEdge | Qt::LeftEdge;
  if (top && right) return Qt::TopEdge | Qt::RightEdge;
  if (top && left) return Qt::TopEdge | Qt::LeftEdge;
  if (left) return Qt::LeftEdge;
  if (top) return Qt::TopEdge;
  if (right) return Qt::RightEdge;
  if (bottom) return Qt::BottomEdge;
  return {};
}

namespace {

Qt::CursorShape CursorFor(Qt::Edges edges) {
  if (edges == (Qt::BottomEdge | Qt::RightEdge) || edges == (Qt::TopEdge | Qt::LeftEdge)) {
    return Qt::SizeFDiagCursor;
  }
  if (edges == (Qt::BottomEdge | Qt::LeftEdge) || edges == (Qt::TopEdge | Qt::RightEdge)) {
    return Qt::SizeBDiagCursor;
  }
  if (edges & (Qt::LeftEdge | Qt::RightEdge)) return Qt::SizeHorCursor;
  return Qt::SizeVerCursor;
}

}  // namespace

bool TfmHMMain::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  // Only widgets inside this window, not its popups and dialogs.
  if (widget == nullptr || widget->window() != this) return false;
  if (windowState() != Qt::WindowNoState) return false;
  auto* mouse = static_cast<QMouseEvent*>(event);
  const QPoint local = mapFromGlobal(mouse->globalPosition().toPoint());
  const Qt::Edges edges = SizingEdges(size(), local);
  if (type == QEvent::MouseMove) {
    if (edges) {
      if (!resize_cursor_) {
        QApplication::setOverrideCursor(CursorFor(edges));
        resize_cursor_ = true;
      } else {
        QApplication::changeOverrideCursor(CursorFor(edges));
      }
    } else if (resize_cursor_) {
      QApplication::restoreOverrideCursor();
      resize_cursor_ = false;
    }
    return false;
  }
  if (edges && mouse->button() == Qt::LeftButton) {
    if (QWindow* window = windowHandle()) window->startSystemResize(edges);
    return true;
  }
  return false;
}

void TfmHMMain::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && current_page_ == hpScan) {
    scanner_->Stop();
    return;
  }
  if (event->key() == Qt::Key_F1) {
    OpenHelp();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TfmHMMain::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) {
    header_->SetMaximized(isMaximized());
    if (isMinimized() && current_page_ == hpMonitor && monitor_) {
      // The monitor page goes to the tray instead of the task bar.
      setWindowState(windowState() & ~Qt::WindowMinimized);
      monitor_->HideToTray();
    }
  }
  QWidget::changeEvent(event);
}

void TfmHMMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PostCommand(cmd::kRepaint);
}

void TfmHMMain::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), skin::kBodyBackground);
  painter.setPen(QColor(0x0d, 0x15, 0x1e));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace hm::ui
