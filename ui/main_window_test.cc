#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "controls/gui_test_app.h"
#include "controls/header_button.h"
#include "controls/message_dialog.h"
#include "tests/support/testing.h"
#include "ui/header_bar.h"
#include "ui/main_thread_bridge.h"
#include "ui/placeholder_page.h"

namespace hm::ui {
namespace {

using controls::MessageRequest;

// Answers every message with `answer` and keeps what was asked.
struct Answers : controls::MessageAnswerer {
  int Answer(const MessageRequest& request) override {
    asked.push_back(request);
    return answer;
  }
  std::vector<MessageRequest> asked;
  int answer = controls::kIdOk;
};

struct FakeFlows : TMainFlows {
  bool ScanRequest() override {
    ++scan_requests;
    return true;
  }
  void Repair() override { ++repairs; }
  void FillReport(int errors, int repaired) override { reports.push_back({errors, repaired}); }
  void SetCheckAll(bool checked) override { check_all = checked; }
  void SaveScanPageState() override { ++saved; }
  int scan_requests = 0;
  int repairs = 0;
  std::vector<std::pair<int, int>> reports;
  std::optional<bool> check_all;
  int saved = 0;
};

struct FakeMonitor : TMonitorControl {
  bool EnsureMonitorOff() override {
    ++asked;
    if (agree) active = false;
    return !active;
  }
  bool IsActive() const override { return active; }
  void SetActive(bool on) override { active = on; }
  void HideToTray() override { ++hidden; }
  bool active = true;
  bool agree = false;
  int asked = 0;
  int hidden = 0;
};

// A page that counts its creations and the hook's calls.
class CountingPage : public TfrHMFrame {
 public:
  CountingPage(TfmHMMain& main, QWidget* body, int* created, std::vector<bool>* hooks)
      : TfrHMFrame(main, body), hooks_(hooks) {
    ++*created;
  }
  void VisibleChanged(bool visible) override { hooks_->push_back(visible); }

 private:
  std::vector<bool>* hooks_;
};

// Checks that step until termination: a scan that runs until it is stopped.
scan::CategoryRoutines EndlessScan() {
  scan::CategoryRoutines routines;
  routines[0] = [](scan::TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (count_only) {
      thread.AddToCount(1);
      return;
    }
    while (!thread.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  return routines;
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() { controls::testing::GuiTestApp(); }

  std::unique_ptr<TfmHMMain> Make(TMainWindowSetup setup = {}) {
    setup.settings = &store_;
    setup.environment.windows_version = setup.environment.windows_version
                                            ? setup.environment.windows_version
                                            : 12;
    setup.environment.data_folder = folder_;
    setup.end_program = [this] { ++ended_; };
    setup.end_process_now = [this] { ++killed_; };
    setup.open_url = [this](const QUrl& url) {
      opened_.push_back(url);
      return true;
    };
    auto window = std::make_unique<TfmHMMain>(queue_.queue(), std::move(setup));
    auto flows = std::make_unique<FakeFlows>();
    flows_ = flows.get();
    window->SetFlows(std::move(flows));
    return window;
  }

  // Runs posted commands (and what they post in turn).
  static void Drain() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }

  // Runs a scan with no checks to its end, so that the scanner has (empty) results.
  void ScanToResults(TfmHMMain& window) {
    window.Scanner().Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Scanner().IsScanning(); }, 5000));
    ASSERT_TRUE(window.Scanner().HasResults());
  }

  hm::testing::TempDir dir_;
  app::DataFolder folder_{dir_.path(), "", dir_.path(), false};
  app::SettingsStore store_{folder_};
  QtMainThreadQueue queue_;
  Answers answers_;
  controls::ScopedMessageAnswerer scope_{&answers_};
  FakeFlows* flows_ = nullptr;
  int ended_ = 0;
  int killed_ = 0;
  std::vector<QUrl> opened_;
};

TEST(MainWindowLayoutTest, HeaderRowIsCentredByItsRule) {
  EXPECT_EQ(TfmHMMain::HeaderButtonLeft(820, 0), 266);  // 247 + (820 - 476 - 305) / 2
  EXPECT_EQ(TfmHMMain::HeaderButtonLeft(820, 1), 266 + 76);
  EXPECT_EQ(TfmHMMain::HeaderButtonLeft(820, 6), 266 + 6 * 76);
  EXPECT_EQ(TfmHMMain::HeaderButtonLeft(1200, 0), 456);
}

TEST(MainWindowLayoutTest, SizingBordersCornersFirst) {
  const QSize size(820, 600);
  struct Case {
    QPoint point;
    Qt::Edges edges;
  } cases[] = {
      {{819, 599}, Qt::BottomEdge | Qt::RightEdge},
      {{0, 599}, Qt::BottomEdge | Qt::LeftEdge},
      {{813, 0}, Qt::TopEdge | Qt::RightEdge},
      {{6, 6}, Qt::TopEdge | Qt::LeftEdge},
      {{0, 300}, Qt::LeftEdge},
      {{400, 6}, Qt::TopEdge},
      {{813, 300}, Qt::RightEdge},
      {{400, 593}, Qt::BottomEdge},
      {{7, 7}, {}},
      {{812, 592}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TfmHMMain::SizingEdges(size, c.point), c.edges) << c.point.x() << "," << c.point.y();
  }
}

TEST_F(MainWindowTest, StartsOnTheStatusPageWithTheFirstButtonSelected) {
  auto window = Make();
  Drain();
  EXPECT_EQ(window->CurrentPage(), hpPCStatus);
  EXPECT_EQ(window->SelectedHeaderButton(), kButtonPCStatus);
  EXPECT_TRUE(window->HeaderButton(kButtonPCStatus)->IsSelected());
  // PC status comes later: its page says so.
  auto* page = qobject_cast<TfrLaterRelease*>(window->Page(hpPCStatus));
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(page->isVisible() || !window->isVisible());
  EXPECT_FALSE(window->FullScanRequired());
}

TEST_F(MainWindowTest, LockedHeaderButtonsShowTheMessageAndReturnToStatus) {
  TMainWindowSetup setup;
  setup.first_run = true;
  auto window = Make(std::move(setup));
  window->show();
  Drain();
  ASSERT_TRUE(window->FullScanRequired());
  for (int index : {kButtonOptimize, kButtonMonitor, kButtonRestore, kButtonHistory}) {
    window->SendCommand(cmd::kSettingsPage);  // somewhere else first
    flows_->check_all.reset();
    answers_.asked.clear();
    QTest::mouseClick(window->HeaderButton(index), Qt::LeftButton);
    ASSERT_EQ(answers_.asked.size(), 1u) << index;
    EXPECT_EQ(answers_.asked[0].text.toStdString(), kScanRequiredText);
    EXPECT_EQ(answers_.asked[0].style, controls::kStyleInformation);
    Drain();  // the posted 615
    EXPECT_EQ(window->CurrentPage(), hpPCStatus) << index;
    EXPECT_EQ(window->SelectedHeaderButton(), kButtonPCStatus);
    EXPECT_EQ(flows_->check_all, std::optional<bool>(true));
    EXPECT_EQ(window->Page(kHeaderButtonPages[index]), nullptr) << "never created";
  }
  // Settings, Scan and PC Status still open.
  answers_.asked.clear();
  QTest::mouseClick(window->HeaderButton(kButtonSettings), Qt::LeftButton);
  EXPECT_EQ(window->CurrentPage(), hpSettings);
  QTest::mouseClick(window->HeaderButton(kButtonScan), Qt::LeftButton);
  EXPECT_EQ(window->CurrentPage(), hpScan);
  EXPECT_EQ(window->SelectedHeaderButton(), kButtonScan);
  EXPECT_TRUE(answers_.asked.empty());
  // Once the lock ends the buttons switch.
  window->SetFullScanRequired(false);
  QTest::mouseClick(window->HeaderButton(kButtonRestore), Qt::LeftButton);
  EXPECT_EQ(window->CurrentPage(), hpRestore);
}

TEST_F(MainWindowTest, StartScanArgumentLocksTooButNotOtherStarts) {
  for (const char* argument : {"startscan", "monitor", "AutoScan"}) {
    TMainWindowSetup setup;
    setup.args = {argument};
    auto window = Make(std::move(setup));
    EXPECT_EQ(window->FullScanRequired(), std::string(argument) == "startscan") << argument;
  }
}

TEST_F(MainWindowTest, MonitorStartWithoutAMonitorPageShowsTheWindow) {
  TMainWindowSetup setup;
  setup.args = {"monitor"};
  auto window = Make(std::move(setup));
  ASSERT_FALSE(window->isVisible());  // created hidden
  Drain();  // command 3
  EXPECT_EQ(window->CurrentPage(), hpMonitor);
  EXPECT_EQ(window->SelectedHeaderButton(), kButtonMonitor);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, MonitorStartWithAMonitorPageGoesToTheTray) {
  TMainWindowSetup setup;
  setup.args = {"monitor"};
  auto window = Make(std::move(setup));
  FakeMonitor monitor;
  monitor.active = false;
  window->SetMonitorControl(&monitor);
  Drain();
  EXPECT_TRUE(monitor.active);
  EXPECT_EQ(monitor.hidden, 1);
  EXPECT_FALSE(window->isVisible());
  window->SetMonitorControl(nullptr);
}

TEST_F(MainWindowTest, SizeLimitsFollowTheWorkArea) {
  auto window = Make();
  const QRect area = window->WorkArea();
  ASSERT_TRUE(area.isValid());
  const int right = area.x() + area.width();
  const int bottom = area.y() + area.height();
  EXPECT_EQ(window->minimumSize(), QSize(std::min(820, right), std::min(600, bottom)));
  EXPECT_EQ(window->maximumSize(), QSize(right, bottom));
  auto* maximize = window->findChild<THeaderBar*>()->MaximizeButton();
  EXPECT_EQ(maximize->isEnabled(), window->minimumSize() != window->maximumSize());
}

TEST_F(MainWindowTest, PressesWithinSevenPixelsOfTheEdgeResizeInsteadOfClicking) {
  auto window = Make();
  window->show();
  Drain();
  QWidget* close = window->findChild<QWidget*>("hmCloseButton");
  ASSERT_NE(close, nullptr);
  // The close image reaches into the top border strip: a press there is the border's.
  const QPoint in_border = close->mapFrom(window.get(), QPoint(close->mapTo(window.get(), QPoint(5, 0)).x(), 3));
  QTest::mouseClick(close, Qt::LeftButton, {}, in_border);
  EXPECT_EQ(ended_, 0);
  EXPECT_TRUE(window->isVisible());
  // Further in it is the close image.
  QTest::mouseClick(close, Qt::LeftButton, {}, QPoint(5, close->height() - 3));
  EXPECT_EQ(ended_, 1);
}

TEST_F(MainWindowTest, CommandsArePostedAndRunInOrder) {
  auto window = Make();
  Drain();
  std::vector<int> handled;
  QObject::connect(window.get(), &TfmHMMain::CommandHandled,
                   [&](int code, qlonglong) { handled.push_back(code); });
  window->PostCommand(cmd::kRestorePage);
  window->PostCommand(cmd::kPCStatusPage);
  EXPECT_EQ(window->CurrentPage(), hpPCStatus);  // nothing ran yet
  EXPECT_TRUE(handled.empty());
  Drain();
  EXPECT_EQ(handled, (std::vector<int>{cmd::kRestorePage, cmd::kPCStatusPage}));
  EXPECT_EQ(window->CurrentPage(), hpPCStatus);
  EXPECT_EQ(window->LastPage(), hpPCStatus);
}

TEST_F(MainWindowTest, EnsureMonitorOffIsAnsweredAtOnce) {
  auto window = Make();
  Drain();
  EXPECT_EQ(window->SendCommand(cmd::kEnsureMonitorOff), 1);  // no monitor page
  FakeMonitor monitor;
  window->SetMonitorControl(&monitor);
  EXPECT_EQ(window->SendCommand(cmd::kEnsureMonitorOff), 0);  // user declined
  monitor.agree = true;
  EXPECT_EQ(window->SendCommand(cmd::kEnsureMonitorOff), 1);
  EXPECT_FALSE(monitor.active);
  EXPECT_EQ(window->SendCommand(cmd::kEnsureMonitorOff), 1);  // already off
  EXPECT_EQ(monitor.asked, 3);
  window->SetMonitorControl(nullptr);
}

TEST_F(MainWindowTest, PagesAreCreatedOnFirstShowAndKept) {
  auto window = Make();
  int created = 0;
  std::vector<bool> hooks;
  window->RegisterPage(hpRestore, [&](TfmHMMain& main, QWidget* body) {
    return new CountingPage(main, body, &created, &hooks);
  });
  Drain();
  EXPECT_EQ(created, 0);
  window->SwitchPage(hpRestore);
  TfrHMFrame* page = window->Page(hpRestore);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Scanner(), &window->Scanner());
  EXPECT_EQ(page->parentWidget(), window->Body());
  window->SwitchPage(hpPCStatus);
  window->SwitchPage(hpRestore);
  window->SwitchPage(hpRestore);  // already shown: nothing
  EXPECT_EQ(created, 1);
  EXPECT_EQ(window->Page(hpRestore), page);
  EXPECT_EQ(hooks, (std::vector<bool>{true, false, true}));
}

TEST_F(MainWindowTest, ScanPageWithResultsShowsResultsOrReport) {
  auto window = Make();
  Drain();
  ScanToResults(*window);
  // Nothing found by the last scan: the report page, filled with the counts.
  store_.settings().last_err = 0;
  window->SetRepairedCount(0);
  window->SwitchPage(hpScan);
  EXPECT_EQ(window->CurrentPage(), hpPCStatus);  // 503 is posted
  Drain();
  EXPECT_EQ(window->CurrentPage(), hpReport);
  EXPECT_EQ(window->SelectedHeaderButton(), kButtonScan);
  EXPECT_EQ(flows_->reports, (std::vector<std::pair<int, int>>{{0, 0}}));
  // Issues found: the results page.
  store_.settings().last_err = 4;
  window->PostCommand(cmd::kScanButton);
  Drain();
  EXPECT_EQ(window->CurrentPage(), hpResults);
  // The "Back" buttons reach the scan page all the same.
  window->PostCommand(cmd::kScanPage);
  Drain();
  EXPECT_EQ(window->CurrentPage(), hpScan);
  // Clearing the results makes the scan page reachable again.
  window->PostCommand(cmd::kClearAndScanPage);
  window->SwitchPage(hpPCStatus);
  Drain();
  EXPECT_FALSE(window->Scanner().HasResults());
  window->SwitchPage(hpScan);
  EXPECT_EQ(window->CurrentPage(), hpScan);
}

TEST_F(MainWindowTest, ShowResultsTurnsAPausedMonitorBackOn) {
  auto window = Make();
  FakeMonitor monitor;
  monitor.active = false;
  window->SetMonitorControl(&monitor);
  store_.settings().last_err = 2;
  window->SendCommand(cmd::kShowResults);
  EXPECT_FALSE(monitor.active);  // not paused by a flow
  window->SetMonitorPausedByUs(true);
  window->SendCommand(cmd::kShowResults);
  EXPECT_TRUE(monitor.active);
  window->SetMonitorControl(nullptr);
}

TEST_F(MainWindowTest, ResultsAndRepairRepairsOnlyWhatIsLeft) {
  auto window = Make();
  struct Case {
    int last_err, last_repair, repairs;
  } cases[] = {{5, 0, 1}, {5, 5, 0}, {0, 0, 0}, {5, 3, 1}};
  for (const Case& c : cases) {
    flows_->repairs = 0;
    store_.settings().last_err = c.last_err;
    store_.settings().last_repair = c.last_repair;
    window->SendCommand(cmd::kResultsAndRepair);
    EXPECT_EQ(flows_->repairs, c.repairs) << c.last_err << "/" << c.last_repair;
    EXPECT_EQ(window->CurrentPage(), c.last_err > 0 ? hpResults : hpReport);
  }
}

TEST_F(MainWindowTest, HeaderStateAndLockCommands) {
  auto window = Make();
  Drain();
  window->SendCommand(cmd::kLockHeader);
  for (int i = 0; i < kHeaderButtonCount; ++i) {
    EXPECT_EQ(window->HeaderButton(i)->isEnabled(), i == kButtonScan) << i;
  }
  window->SendCommand(cmd::kHeaderState, 1);
  for (int i = 0; i < kHeaderButtonCount; ++i) EXPECT_TRUE(window->HeaderButton(i)->isEnabled());
  window->SendCommand(cmd::kHeaderState, 2);  // buttons and the whole window off
  EXPECT_FALSE(window->HeaderButton(0)->isEnabled());
  EXPECT_FALSE(window->isEnabled());
  window->SendCommand(cmd::kHeaderState, 7);
  EXPECT_TRUE(window->HeaderButton(0)->isEnabled());
  EXPECT_TRUE(window->isEnabled());
  window->SendCommand(cmd::kHeaderState, 0);  // the window's own state is left alone
  EXPECT_FALSE(window->HeaderButton(6)->isEnabled());
  EXPECT_TRUE(window->isEnabled());
  // Any page switch away from the scan page turns them on again.
  window->SwitchPage(hpRestore);
  EXPECT_TRUE(window->HeaderButton(6)->isEnabled());
}

TEST_F(MainWindowTest, CloseDuringAScanAsksAndNoKeepsItRunning) {
  TMainWindowSetup setup;
  setup.routines = EndlessScan();
  auto window = Make(std::move(setup));
  window->show();
  Drain();
  window->Scanner().Start();
  ASSERT_TRUE(window->Scanner().IsScanning());

  answers_.answer = controls::kIdNo;
  EXPECT_FALSE(window->close());
  ASSERT_EQ(answers_.asked.size(), 1u);
  EXPECT_EQ(answers_.asked[0].text.toStdString(), kScanRunningCloseText);
  EXPECT_EQ(answers_.asked[0].style, 36);
  EXPECT_EQ(answers_.asked[0].caption, "Hivemend");
  EXPECT_TRUE(window->Scanner().IsScanning());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(ended_, 0);
  EXPECT_EQ(flows_->saved, 0);

  answers_.answer = controls::kIdYes;
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(window->Scanner().IsScanning());
  EXPECT_EQ(ended_, 1);
  EXPECT_EQ(flows_->saved, 1);
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "hvmend.ini"));
}

TEST_F(MainWindowTest, CloseWithoutAScanAsksNothingAndRemovesTheScheduleFile) {
  hm::testing::WriteFileBytes(dir_.path() / "schedule.xml", "<x/>");
  auto window = Make();
  window->show();
  Drain();
  EXPECT_TRUE(window->close());
  EXPECT_TRUE(answers_.asked.empty());
  EXPECT_EQ(ended_, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "schedule.xml"));
}

TEST_F(MainWindowTest, HistoryCleanInProgressIsAskedToo) {
  struct History : THistoryControl {
    bool IsCleaning() const override { return cleaning; }
    void StopCleaning() override { cleaning = false; }
    void SaveState() override { ++saved; }
    bool cleaning = true;
    int saved = 0;
  } history;
  auto window = Make();
  window->SetHistoryControl(&history);
  window->show();
  answers_.answer = controls::kIdNo;
  EXPECT_FALSE(window->close());
  ASSERT_EQ(answers_.asked.size(), 1u);
  EXPECT_EQ(answers_.asked[0].text.toStdString(), kHistoryRunningCloseText);
  EXPECT_TRUE(history.cleaning);
  answers_.answer = controls::kIdYes;
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(history.cleaning);
  EXPECT_EQ(history.saved, 1);
  window->SetHistoryControl(nullptr);
}

TEST_F(MainWindowTest, BeforeVistaAnInteractiveStartClosesNormally) {
  store_.settings().last_err = 3;
  store_.settings().AutoRunAction = 1;
  TMainWindowSetup setup;
  setup.environment.windows_version = 6;  // XP; the timer was never started
  auto window = Make(std::move(setup));
  window->show();
  Drain();
  EXPECT_TRUE(window->close());
  EXPECT_EQ(ended_, 1);
}

TEST_F(MainWindowTest, BeforeVistaAnArmedUnattendedScanHidesInsteadOfClosing) {
  store_.settings().last_err = 3;
  store_.settings().AutoRunAction = 1;
  TMainWindowSetup setup;
  setup.environment.windows_version = 6;  // XP
  setup.args = {"autoscan"};
  auto window = Make(std::move(setup));
  window->show();
  Drain();
  EXPECT_FALSE(window->close());
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(ended_, 0);
  // After the timer's second firing nothing is armed any more: the close goes through.
  window->DelayedStartFired();
  window->DelayedStartFired();
  Drain();
  EXPECT_TRUE(window->close());
  EXPECT_EQ(ended_, 1);
}

TEST_F(MainWindowTest, SessionEndStopsTheScanWithoutAQuestion) {
  TMainWindowSetup setup;
  setup.routines = EndlessScan();
  auto window = Make(std::move(setup));
  window->show();
  window->Scanner().Start();
  window->SessionEnding();
  EXPECT_TRUE(window->Closing());
  EXPECT_TRUE(answers_.asked.empty());
  EXPECT_FALSE(window->Scanner().IsScanning());
  EXPECT_EQ(ended_, 1);
  EXPECT_EQ(killed_, 0);
}

TEST_F(MainWindowTest, StopAndEndCommandStopsTheScan) {
  TMainWindowSetup setup;
  setup.routines = EndlessScan();
  auto window = Make(std::move(setup));
  window->Scanner().Start();
  window->PostCommand(cmd::kStopAndEnd);
  Drain();
  EXPECT_FALSE(window->Scanner().IsScanning());
  EXPECT_TRUE(answers_.asked.empty());
  EXPECT_EQ(ended_, 1);
}

TEST_F(MainWindowTest, DestroyingTheWindowDuringAScanReportsToLivePagesOnly) {
  TMainWindowSetup setup;
  setup.routines = EndlessScan();
  auto window = Make(std::move(setup));
  int created = 0;
  std::vector<bool> hooks;
  window->RegisterPage(hpScan, [&](TfmHMMain& main, QWidget* body) {
    return new CountingPage(main, body, &created, &hooks);
  });
  window->SwitchPage(hpScan);
  QPointer<TfrHMFrame> page = window->Page(hpScan);
  bool page_alive_at_end = false;
  window->Scanner().OnScanComplete = [&](scan::TRegScanner*) { page_alive_at_end = !page.isNull(); };
  window->Scanner().Start();
  window.reset();
  EXPECT_TRUE(page_alive_at_end);
  EXPECT_TRUE(page.isNull());
}

TEST_F(MainWindowTest, EscapeOnTheScanPageStopsTheScan) {
  TMainWindowSetup setup;
  setup.routines = EndlessScan();
  auto window = Make(std::move(setup));
  window->show();
  window->SwitchPage(hpScan);
  window->Scanner().Start();
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_FALSE(window->Scanner().IsScanning());
}

TEST_F(MainWindowTest, DelayedStartTimerSetsBackgroundModeAndRearmsOnce) {
  TMainWindowSetup setup;
  setup.args = {"autoscan"};
  auto window = Make(std::move(setup));
  window->show();
  Drain();
  QTimer& timer = window->DelayedStartTimer();
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(timer.interval(), kDelayedStartFirstMs);

  window->DelayedStartFired();  // window shown, not minimised: no scan
  Drain();
  EXPECT_TRUE(window->BackgroundMode());
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(timer.interval(), kDelayedStartLaterMs);
  EXPECT_EQ(flows_->scan_requests, 0);

  window->hide();
  window->DelayedStartFired();  // hidden: an unattended scan; not re-armed
  Drain();
  EXPECT_FALSE(timer.isActive());
  EXPECT_EQ(flows_->scan_requests, 1);
  EXPECT_EQ(window->CurrentPage(), hpScan);
}

TEST_F(MainWindowTest, TrayOpenRestartsTheTimerAndShowsTheWindow) {
  TMainWindowSetup setup;
  setup.args = {"autoscan"};
  auto window = Make(std::move(setup));
  Drain();
  ASSERT_FALSE(window->isVisible());
  window->OpenFromTray();
  Drain();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->DelayedStartTimer().interval(), kDelayedStartLaterMs);
  EXPECT_TRUE(window->DelayedStartTimer().isActive());
}

TEST_F(MainWindowTest, HelpFallsBackToTheOnlinePage) {
  TMainWindowSetup setup;
  setup.environment.program_folder = dir_.path();
  auto window = Make(std::move(setup));
  window->OpenHelp();
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0].scheme(), "https");
  hm::testing::WriteFileBytes(dir_.path() / "hvmend.chm", "ITSF");
  window->OpenHelp();
  ASSERT_EQ(opened_.size(), 2u);
  EXPECT_TRUE(opened_[1].isLocalFile());
}

TEST_F(MainWindowTest, UpdateResultsShowTheirMessages) {
  auto window = Make();
  window->SendCommand(cmd::kUpdateResult, 1);
  window->SendCommand(cmd::kUpdateResult, 10);
  window->SendCommand(cmd::kUpdateResult, 11);
  ASSERT_EQ(answers_.asked.size(), 3u);
  EXPECT_EQ(answers_.asked[0].text, "There are no new updates. You have the latest version.");
  EXPECT_EQ(answers_.asked[1].text, "Update download interrupted by the user.");
  EXPECT_EQ(answers_.asked[2].text, "No updates available at this moment.");
}

TEST(QtMainThreadQueueTest, WorkerCallsRunOnTheGuiThreadInOrder) {
  controls::testing::GuiTestApp();
  QtMainThreadQueue bridge;
  std::vector<int> order;
  std::atomic<bool> done{false};
  const auto gui = std::this_thread::get_id();
  bool all_on_gui = true;
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      bridge.queue().RunOnMainThread([&, i] {
        order.push_back(i);
        all_on_gui = all_on_gui && std::this_thread::get_id() == gui;
      });
    }
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
  worker.join();
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_TRUE(all_on_gui);
}

}  // namespace
}  // namespace hm::ui
