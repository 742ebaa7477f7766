// The scan, results, report and restore pages and the flows between them, driven through their
// widgets on the demo installation (offscreen). Questions are answered through the message
// dialog's test seam.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QElapsedTimer>
#include <QMenu>
#include <QPdfWriter>
#include <QPrinter>
#include <QProgressBar>
#include <QScrollBar>
#include <QPushButton>
#include <QTest>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/environment.h"
#include "app/settings_store.h"
#include "controls/gui_test_app.h"
#include "controls/header_button.h"
#include "controls/message_dialog.h"
#include "platform/files/host_files.h"
#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "registry/host_environment.h"
#include "registry/host_registry.h"
#include "registry/path_utils.h"
#include "registry/regedit_jump.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "repair/repair_engine.h"
#include "scanner/exclusions.h"
#include "tests/support/testing.h"
#include "ui/flows.h"
#include "ui/main_thread_bridge.h"
#include "ui/main_window.h"
#include "ui/program_pages.h"
#include "ui/registry_view.h"
#include "ui/report_page.h"
#include "ui/restore_page.h"
#include "ui/results_page.h"
#include "ui/scan_page.h"

namespace hm::ui {
namespace {

namespace fs = std::filesystem;
using controls::MessageRequest;
using scan::TErrorCategory;

// Answers every message with `answer` and keeps what was asked.
struct Answers : controls::MessageAnswerer {
  std::function<int(const MessageRequest&)> answer = [](const MessageRequest&) {
    return controls::kIdOk;
  };
  std::vector<MessageRequest> asked;
  int Answer(const MessageRequest& request) override {
    asked.push_back(request);
    return answer(request);
  }
  bool Asked(const QString& part) const {
    for (const MessageRequest& request : asked) {
      if (request.text.contains(part)) return true;
    }
    return false;
  }
};

bool WaitFor(const std::function<bool()>& done, int milliseconds = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The demo installation, built once per test program; each test works on its own copy.
const fs::path& DemoSources() {
  static hm::testing::TempDir* dir = new hm::testing::TempDir();
  static const fs::path root = [] {
    const fs::path built = dir->path() / "demo";
    const Status status =
        install::BuildInstallation(hm::testing::SourceDir() / "demo/win10", built);
    EXPECT_TRUE(status.ok()) << status.ToString();
    return built;
  }();
  return root;
}

// The desktop program on a copy of the demo installation, opened as the program opens it.
class DemoProgram {
 public:
  explicit DemoProgram(const hm::testing::TempDir& dir) {
    controls::testing::GuiTestApp();
    root_ = dir.path() / "c";
    fs::copy(DemoSources(), root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    auto installation = install::Installation::Open(root_);
    EXPECT_TRUE(installation.ok()) << installation.status().ToString();
    if (!installation.ok()) return;
    auto registry = reg::HostRegistry::Open(
        std::move(*installation), {});
    EXPECT_TRUE(registry.ok()) << registry.status().ToString();
    if (!registry.ok()) return;
    registry_ = std::move(registry).value();
    reg::SetProcessRegistry(registry_.get());
    reg::InitRegistryAccess(*registry_);
    environment_ = reg::HostEnvironment::Build(*registry_);
    app::EnvironmentOptions options;
    options.program_folder = dir.path() / "program";
    options.host_data_fallback = dir.path() / "host-data";
    options.local_app_data = environment_->SpecialFolder(reg::CSIDL_LOCAL_APPDATA);
    while (!options.local_app_data.empty() && options.local_app_data.back() == '\\') {
      options.local_app_data.pop_back();
    }
    app::Environment environment = app::PrepareEnvironment(*registry_, options);
    auto files = reg::OpenInstallationFiles(registry_->installation(), *environment_, {});
    EXPECT_TRUE(files.ok()) << files.status().ToString();
    if (!files.ok()) return;
    files_ = std::move(files).value();
    reg::SetProcessFiles(files_.get(), environment_.get());
    store_ = std::make_unique<app::SettingsStore>(environment.data_folder);
    (void)store_->Load();

    queue_ = std::make_unique<QtMainThreadQueue>();
    TMainWindowSetup setup;
    setup.settings = store_.get();
    setup.environment = environment;
    setup.end_program = [] {};
    setup.open_url = [this](const QUrl& url) {
      opened_.push_back(url);
      return true;
    };
    main_ = std::make_unique<TfmHMMain>(queue_->queue(), std::move(setup));
    InstallProgramPages(*main_);
    main_->show();
    QCoreApplication::processEvents();
  }

  ~DemoProgram() {
    main_.reset();
    queue_.reset();
    reg::SetProcessFiles(nullptr, nullptr);
    reg::SetProcessRegistry(nullptr);
  }

  bool ok() const { return main_ != nullptr; }
  TfmHMMain& main() { return *main_; }
  scan::TRegScanner& scanner() { return main_->Scanner(); }
  TScanRepairFlows& flows() { return *static_cast<TScanRepairFlows*>(main_->Flows()); }
  const fs::path& root() const { return root_; }
  const std::vector<QUrl>& opened() const { return opened_; }
  fs::path DataFile(const std::string& name) const {
    Result<fs::path> path = main_->Environment().data_folder.Map(name);
    return path.ok() ? *path : fs::path();
  }

  template <typename Page>
  Page* Show(THMPage id) {
    main_->SwitchPage(id);
    QCoreApplication::processEvents();
    return qobject_cast<Page*>(main_->Page(id));
  }

  // A finding added straight to the scanner's list (no scan).
  scan::TRegError* AddFinding(TErrorCategory category, const std::string& key,
                              const std::string& value = "", uint8_t kind = 1,
                              std::optional<uint8_t> action = std::nullopt) {
    scan::TRegErrorInfo info;
    info.RootKey = reg::HKEY_CURRENT_USER;
    info.Caption = "Item " + key;
    info.KeyPath = key;
    info.ValueName = value;
    info.Data = "C:\\missing.exe";
    info.Category = category;
    info.Kind = kind;
    info.Action = action.value_or(value.empty() ? scan::raDeleteKey : scan::raDeleteValue);
    return scanner().Errors().Add(std::make_unique<scan::TRegError>(info));
  }

 private:
  fs::path root_;
  std::unique_ptr<reg::HostRegistry> registry_;
  std::unique_ptr<reg::HostEnvironment> environment_;
  std::unique_ptr<files::HostFiles> files_;
  std::unique_ptr<app::SettingsStore> store_;
  std::unique_ptr<QtMainThreadQueue> queue_;
  std::unique_ptr<TfmHMMain> main_;
  std::vector<QUrl> opened_;
};

// ---- Texts ----

TEST(PageTextsTest, CountsAbove100Read100Plus) {
  struct Case {
    int count;
    const char* plain;
    const char* issues;
  } cases[] = {{0, "0", "0 Issues"},     {1, "1", "1 Issue"},           {2, "2", "2 Issues"},
               {100, "100", "100 Issues"}, {101, "100+", "100+ Issues"}, {150, "100+", "100+ Issues"}};
  for (const Case& c : cases) {
    EXPECT_EQ(CountText(c.count), QString::fromLatin1(c.plain)) << c.count;
    EXPECT_EQ(IssueCountText(c.count), QString::fromLatin1(c.issues)) << c.count;
  }
}

TEST(PageTextsTest, RescanWordingByAge) {
  struct Case {
    std::optional<qint64> age;
    const char* wording;
  } cases[] = {{30 * 60, ""},
               {3600, ""},
               {90 * 60, "more than 1 hour"},
               {3 * 3600, "several hours"},
               {2 * 86400, "several days"},
               {std::nullopt, "several days"}};
  for (const Case& c : cases) {
    EXPECT_EQ(RescanWording(c.age), QString::fromLatin1(c.wording)) << c.age.value_or(-1);
  }
  EXPECT_TRUE(RescanQuestion(QStringLiteral("several hours"))
                  .startsWith(QStringLiteral("It has been several hours since your last scan")));
}

TEST(PageTextsTest, RestorePointFailureNamesTheFixForTheWindowsVersion) {
  EXPECT_EQ(RestorePointFailureText(5, 12), QStringLiteral("A restore point could not be created [5]."));
  EXPECT_TRUE(RestorePointFailureText(1058, 12).contains(QStringLiteral("Click on System Protection.")));
  EXPECT_TRUE(RestorePointFailureText(1058, 6).contains(QStringLiteral("Right Click on My Computer")));
  EXPECT_EQ(RestorePointFailureText(1058, 5),
            QStringLiteral("A restore point could not be created [1058]."));
}

// ---- Scan page ----

TEST(ScanPageTest, CheckAllBoxFollowsTheCategories) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  auto* page = program.Show<TfScan>(hpScan);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::Checked);

  QTest::mouseClick(page->CategoryBox(5), Qt::LeftButton);
  EXPECT_FALSE(page->CategoryBox(5)->isChecked());
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::PartiallyChecked);

  // A click on the grey box checks everything; a click on the checked box clears everything.
  QTest::mouseClick(page->CheckAllBox(), Qt::LeftButton);
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::Checked);
  EXPECT_EQ(page->CheckedCategories(), scan::TErrorCategories::All());
  QTest::mouseClick(page->CheckAllBox(), Qt::LeftButton);
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::Unchecked);
  EXPECT_EQ(page->CheckedCategories().bits(), 0u);

  // A click on a caption toggles its box.
  QTest::mouseClick(page->CaptionLabel(3), Qt::LeftButton);
  EXPECT_TRUE(page->CategoryBox(3)->isChecked());
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::PartiallyChecked);

  // Nothing checked: the scan is refused with its message, and the page stays idle.
  QTest::mouseClick(page->CategoryBox(3), Qt::LeftButton);
  Answers answers;
  controls::ScopedMessageAnswerer scope(&answers);
  EXPECT_FALSE(page->ScanNow());
  EXPECT_TRUE(answers.Asked(QStringLiteral("Please select at least one option.")));
  EXPECT_FALSE(page->Scanning());
  EXPECT_FALSE(program.scanner().IsScanning());
  // The states reach the settings before a scan.
  EXPECT_FALSE(program.main().Settings().settings().scan_categories[3]);
}

TEST(ScanPageTest, FullScanWarningCancelStartsNothing) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  auto* page = program.Show<TfScan>(hpScan);
  ASSERT_NE(page, nullptr);
  program.AddFinding(scan::ecFileTypes, "Software\\Kept");
  Answers answers;
  answers.answer = [](const MessageRequest&) { return controls::kIdCancel; };
  controls::ScopedMessageAnswerer scope(&answers);

  QTest::mouseClick(page->ScanButton(), Qt::LeftButton);
  ASSERT_EQ(answers.asked.size(), 1u);
  EXPECT_EQ(answers.asked[0].style, controls::kStyleWarning | controls::kStyleOkCancel);
  EXPECT_FALSE(program.scanner().IsScanning());
  EXPECT_EQ(program.scanner().ErrorCount(), 1);  // the results are untouched

  // With a category unchecked there is no warning; the question of the first full scan comes
  // instead (no health record yet), and Cancel there is a No: the scan of the rest starts.
  QTest::mouseClick(page->CategoryBox(0), Qt::LeftButton);
  answers.asked.clear();
  answers.answer = [](const MessageRequest&) { return controls::kIdNo; };
  QTest::mouseClick(page->ScanButton(), Qt::LeftButton);
  EXPECT_FALSE(answers.Asked(QStringLiteral("full analysis")));
  EXPECT_TRUE(answers.Asked(QStringLiteral("requires at least one full registry scan")));
  EXPECT_TRUE(page->Scanning());
  EXPECT_FALSE(program.scanner().ScanCategories().Contains(scan::ecShellFolders));
  page->StopScan();
  ASSERT_TRUE(WaitFor([&] { return !program.main().Busy(); }));
  EXPECT_FALSE(page->Scanning());
}

// ---- Results page ----

TEST(ResultsPageTest, HeaderCountsAbove100Read100Plus) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  program.AddFinding(scan::ecStartup, "Software\\One");
  auto* page = program.Show<TfResults>(hpResults);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->FoundLabel()->text(), QStringLiteral("1 Issue Found"));
  EXPECT_EQ(page->SelectedLabel()->text(), QStringLiteral("1 Issue Selected"));
  for (int i = 0; i < 149; ++i) program.AddFinding(scan::ecStartup, "Software\\K" + std::to_string(i));
  QCoreApplication::processEvents();
  EXPECT_EQ(page->FoundLabel()->text(), QStringLiteral("100+ Issues Found"));
  EXPECT_EQ(page->TotalLabel()->text(), QStringLiteral("Total Registry Issues Selected: 100+"));
}

TEST(ResultsPageTest, KeysRepairButtonAndContextMenu) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  program.AddFinding(scan::ecStartup, "Software\\A", "Run1");
  program.AddFinding(scan::ecStartup, "Software\\B");
  auto* page = program.Show<TfResults>(hpResults);
  ASSERT_NE(page, nullptr);
  TRegErrorListBox* list = page->List();
  ASSERT_EQ(list->count(), scan::kGroupCount);
  EXPECT_TRUE(page->RepairButton()->isEnabled());

  // Backspace in the summary does nothing.
  const int group_row = scan::GroupOf(scan::ecStartup);
  list->setCurrentRow(group_row);
  QTest::keyClick(list, Qt::Key_Backspace);
  EXPECT_EQ(list->View(), TRegErrorListBox::vSummary);
  EXPECT_EQ(list->count(), scan::kGroupCount);
  // Enter expands the group (one category with findings), Enter on the category opens it.
  QTest::keyClick(list, Qt::Key_Return);
  ASSERT_EQ(list->count(), scan::kGroupCount + 1);
  list->setCurrentRow(group_row + 1);
  QTest::keyClick(list, Qt::Key_Return);
  ASSERT_EQ(list->View(), TRegErrorListBox::vDetails);
  EXPECT_EQ(list->ShownCategory(), scan::ecStartup);
  EXPECT_EQ(list->count(), 2);
  EXPECT_TRUE(page->TitleLabel()->text().endsWith(QStringLiteral(" - Startup")));

  // Space toggles the selected finding; with nothing selected there is nothing to repair.
  list->setCurrentRow(0);
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_FALSE(list->FindingAt(0)->Checked());
  EXPECT_EQ(page->SelectedLabel()->text(), QStringLiteral("1 Issue Selected"));
  list->setCurrentRow(1);
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_FALSE(page->RepairButton()->isEnabled());
  page->SelectAll(true);
  EXPECT_TRUE(page->RepairButton()->isEnabled());

  // The menu of a finding, then "S" ignores it for good (the ignore file keeps it).
  QStringList items;
  for (QAction* action : page->BuildContextMenu()->actions()) {
    items << (action->isSeparator() ? QStringLiteral("-") : action->text());
  }
  EXPECT_EQ(items, QStringList({"Permanently Ignore item", "-", "Select All", "Deselect All", "-",
                                "Show Key"}));
  list->setCurrentRow(0);
  QTest::keyClick(list, Qt::Key_S);
  EXPECT_TRUE(list->FindingAt(0)->Ignored());
  auto entries = scan::IgnoreFileEntries(program.DataFile("ignore.txt"));
  ASSERT_TRUE(entries.ok());
  EXPECT_EQ(*entries, std::vector<std::string>({"HKEY_CURRENT_USER\\Software\\A\\\\:Run1"}));
  QTest::keyClick(list, Qt::Key_S);
  EXPECT_FALSE(list->FindingAt(0)->Ignored());
  entries = scan::IgnoreFileEntries(program.DataFile("ignore.txt"));
  ASSERT_TRUE(entries.ok());
  EXPECT_TRUE(entries->empty());

  // "Show Key" warns first; a key that is not in the registry is said to be missing.
  {
    Answers answers;
    controls::ScopedMessageAnswerer scope(&answers);
    page->ShowKeyOfSelected();
    ASSERT_EQ(answers.asked.size(), 2u);
    EXPECT_TRUE(answers.asked[0].text.startsWith(QStringLiteral("CAUTION\rYou are about to")));
    EXPECT_EQ(answers.asked[0].style, controls::kStyleError | controls::kStyleOkCancel);
    EXPECT_EQ(answers.asked[1].text, QStringLiteral("Registry key does not exist."));
  }

  // Backspace returns to the summary, where the menu offers the group's items.
  QTest::keyClick(list, Qt::Key_Backspace);
  EXPECT_EQ(list->View(), TRegErrorListBox::vSummary);
  EXPECT_EQ(list->currentRow(), group_row + 1);
  items.clear();
  for (QAction* action : page->BuildContextMenu()->actions()) {
    items << (action->isSeparator() ? QStringLiteral("-") : action->text());
  }
  EXPECT_EQ(items, QStringList({"Select All", "Deselect All", "-", "Select All In This Category",
                                "Deselect All In This Category"}));
}

TEST(RepairFlowTest, FindingsNotResolvedAreListedAndOffered) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  // Action 5 is no repair: the finding cannot be resolved.
  program.AddFinding(scan::ecStartup, "Software\\Stuck", "Run", 1, 5);
  program.AddFinding(scan::ecStartup, "Software\\Gone Already");
  auto* page = program.Show<TfResults>(hpResults);
  ASSERT_NE(page, nullptr);
  program.main().SetLastScanTime(QDateTime::currentDateTime());
  program.flows().SetOpenUrl([&](const QUrl& url) {
    EXPECT_TRUE(url.toLocalFile().endsWith(QStringLiteral("cantremove.txt")));
    return true;
  });
  Answers answers;
  answers.answer = [](const MessageRequest&) { return controls::kIdYes; };
  controls::ScopedMessageAnswerer scope(&answers);
  QTest::mouseClick(page->RepairButton(), Qt::LeftButton);

  EXPECT_EQ(program.main().CurrentPage(), hpReport);
  EXPECT_TRUE(answers.Asked(QStringLiteral("Hivemend could not resolve 1 issue(s).")));
  EXPECT_EQ(answers.asked.back().style, 308);
  const std::string list = hm::testing::ReadFileBytes(program.DataFile("cantremove.txt"));
  EXPECT_EQ(list.substr(0, 2), "\r\n");
  EXPECT_NE(list.find("Item Software\\Stuck\r\nHKEY_CURRENT_USER\\Software\\Stuck\\\\:Run\r\n"),
            std::string::npos);
  EXPECT_EQ(program.flows().LastSummary()[scan::ecStartup].repaired, 1);
  EXPECT_EQ(program.flows().LastSummary()[scan::ecStartup].not_repaired, 1);
  EXPECT_EQ(program.main().Settings().settings().last_repair, 1);
  // The findings are gone, so the scan page no longer redirects.
  EXPECT_FALSE(program.scanner().HasResults());
  EXPECT_EQ(program.scanner().ErrorCount(), 0);
}

TEST(ScanFlowTest, UnattendedScanAsksNothingAndCountsInTheTray) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  program.main().Settings().settings().DoNotShowNoticeOnDelayedStart = true;
  program.main().DelayedStartFired();  // shown window: background mode, no scan yet
  ASSERT_TRUE(program.main().BackgroundMode());
  Answers answers;
  controls::ScopedMessageAnswerer scope(&answers);
  program.Show<TfScan>(hpScan);
  ASSERT_TRUE(program.flows().ScanRequest());
  ASSERT_TRUE(WaitFor([&] { return !program.main().Busy(); }, 120000));
  EXPECT_TRUE(answers.asked.empty());
  const int found = program.scanner().ErrorCount();
  EXPECT_GT(found, 0);
  EXPECT_EQ(program.main().TrayIcon().toolTip(), CountText(found) + " unresolved issues found.");
  EXPECT_EQ(program.main().CurrentPage(), hpResults);
}

TEST(RepairFlowTest, RescanQuestionByAgeAndAbortedRestorePoint) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  program.AddFinding(scan::ecStartup, "Software\\A", "Run1");
  auto* page = program.Show<TfResults>(hpResults);
  ASSERT_NE(page, nullptr);
  int attempts = 0;
  program.flows().SetRestorePointMaker([&attempts]() -> std::optional<int> {
    ++attempts;
    return 1058;
  });
  struct Case {
    qint64 age_seconds;
    const char* wording;
  } cases[] = {{30 * 60, nullptr},
               {90 * 60, "more than 1 hour"},
               {3 * 3600, "several hours"},
               {2 * 86400, "several days"}};
  for (const Case& c : cases) {
    Answers answers;
    answers.answer = [](const MessageRequest& request) {
      if (request.text.startsWith(QStringLiteral("It has been"))) return controls::kIdCancel;
      if (request.text.startsWith(QStringLiteral("A restore point"))) return controls::kIdAbort;
      return controls::kIdYes;
    };
    controls::ScopedMessageAnswerer scope(&answers);
    program.main().SetLastScanTime(QDateTime::currentDateTime().addSecs(-c.age_seconds));
    attempts = 0;
    QTest::mouseClick(page->RepairButton(), Qt::LeftButton);
    if (c.wording != nullptr) {
      EXPECT_TRUE(answers.Asked(QStringLiteral("It has been %1 since").arg(c.wording))) << c.wording;
      EXPECT_EQ(attempts, 0);
    } else {
      EXPECT_FALSE(answers.Asked(QStringLiteral("It has been")));
      // On to the restore point, whose Abort ends the repair.
      EXPECT_EQ(attempts, 1);
      EXPECT_TRUE(answers.Asked(QStringLiteral("Click on System Protection.")));
    }
    EXPECT_EQ(program.scanner().ErrorCount(), 1);
    EXPECT_EQ(program.main().CurrentPage(), hpResults);
    EXPECT_FALSE(program.main().Busy());
    EXPECT_TRUE(program.main().HeaderButton(kButtonRestore)->isEnabled());
  }
}

// ---- The whole road: scan, results, repair, report, restore ----

TEST(ProgramRunTest, FullScanRepairReportAndRestore) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  Answers answers;
  answers.answer = [](const MessageRequest& request) {
    if (request.text.startsWith(QStringLiteral("A restore point"))) return controls::kIdIgnore;
    if (request.text.contains(QStringLiteral("could not resolve"))) return controls::kIdNo;
    return request.style == (controls::kStyleWarning | controls::kStyleOkCancel) ? controls::kIdOk
                                                                                  : controls::kIdYes;
  };
  controls::ScopedMessageAnswerer scope(&answers);
  program.flows().SetRestorePointMaker([]() -> std::optional<int> { return 1058; });

  // Scan: the full-scan warning, then the results page.
  auto* scan_page = program.Show<TfScan>(hpScan);
  ASSERT_NE(scan_page, nullptr);
  QTest::mouseClick(scan_page->ScanButton(), Qt::LeftButton);
  EXPECT_TRUE(answers.Asked(QStringLiteral("full analysis")));
  ASSERT_TRUE(WaitFor([&] { return !program.main().Busy(); }, 120000));
  const int found = program.scanner().ErrorCount();
  ASSERT_GT(found, 0);
  EXPECT_EQ(program.main().CurrentPage(), hpResults);
  EXPECT_EQ(program.main().Settings().settings().last_err, found);
  EXPECT_FALSE(program.main().Settings().settings().last_scan.str().empty());
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    EXPECT_EQ(scan_page->CountLabel(c)->text(),
              CountText(program.scanner().CategoryErrorCount(category)));
    EXPECT_EQ(scan_page->ResultPictureOf(c), program.scanner().CategoryErrorCount(category) > 0
                                                 ? TfScan::TResultPicture::kIssues
                                                 : TfScan::TResultPicture::kClean);
  }
  // The scan page now redirects to the results.
  program.main().SwitchPage(hpScan);
  QCoreApplication::processEvents();
  EXPECT_EQ(program.main().CurrentPage(), hpResults);

  auto* results = qobject_cast<TfResults*>(program.main().Page(hpResults));
  ASSERT_NE(results, nullptr);
  EXPECT_EQ(results->FoundLabel()->text(), IssueCountText(found) + QStringLiteral(" Found"));

  // One registry finding is ignored for good, one is left unselected.
  scan::TRegError* ignored = nullptr;
  scan::TRegError* unselected = nullptr;
  scan::TRegError* deleted_key = nullptr;
  for (int i = 0; i < found; ++i) {
    scan::TRegError* error = program.scanner().Errors().Item(i);
    if (error->Action() == scan::raRecycleFile) continue;
    if (ignored == nullptr) {
      ignored = error;
    } else if (unselected == nullptr) {
      unselected = error;
    } else if (deleted_key == nullptr && error->Action() == scan::raDeleteKey &&
               error->Category() != ignored->Category()) {
      deleted_key = error;
    }
  }
  ASSERT_NE(ignored, nullptr);
  ASSERT_NE(unselected, nullptr);
  ASSERT_NE(deleted_key, nullptr);
  ignored->SetIgnored(true);
  unselected->SetChecked(false);
  const TErrorCategory ignored_category = ignored->Category();
  const std::string ignored_entry = IgnoreEntryOf(*ignored);
  const std::string unselected_entry = IgnoreEntryOf(*unselected);
  const reg::HKEY key_root = deleted_key->RootKey();
  const bool key_view64 = deleted_key->View() == 1;
  const std::string key_path = deleted_key->KeyPath();
  ASSERT_TRUE(reg::KeyExists(key_root, key_view64, key_path));
  const int selected = program.scanner().SelectedCount();

  // Repair: the restore point fails and Ignore goes on without one.
  QTest::mouseClick(results->RepairButton(), Qt::LeftButton);
  EXPECT_TRUE(answers.Asked(QStringLiteral("A restore point could not be created [1058].")));
  EXPECT_EQ(program.main().CurrentPage(), hpReport);
  EXPECT_FALSE(program.main().Busy());
  EXPECT_EQ(program.scanner().ErrorCount(), 0);  // the results are gone
  EXPECT_FALSE(reg::KeyExists(key_root, key_view64, key_path));
  const TRepairSummary& summary = program.flows().LastSummary();
  int repaired = 0;
  int not_repaired = 0;
  for (const TCategoryRepairSummary& row : summary) {
    repaired += row.repaired;
    not_repaired += row.not_repaired;
  }
  EXPECT_EQ(repaired + not_repaired, selected);  // the ignored finding is a selected one
  EXPECT_GE(summary[ignored_category].not_repaired, 1);
  EXPECT_EQ(program.main().RepairedCount(), repaired);
  EXPECT_EQ(program.main().Settings().settings().last_repair, repaired);

  auto* report = qobject_cast<TfReportR*>(program.main().Page(hpReport));
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->RepairedLabel()->text(), IssueCountText(repaired) + QStringLiteral(" Repaired"));
  EXPECT_EQ(report->FoundLabel()->text(), IssueCountText(found) + QStringLiteral(" Found"));
  EXPECT_EQ(report->Table()->RowTexts(ignored_category)[3],
            CountText(summary[ignored_category].not_repaired));

  const std::string repairs = hm::testing::ReadFileBytes(program.DataFile("repairs.htm"));
  EXPECT_NE(repairs.find("<b>"), std::string::npos);
  EXPECT_EQ(repairs.find(ignored_entry + "<br>"), std::string::npos);
  EXPECT_EQ(repairs.find(unselected_entry + "<br>"), std::string::npos);

  // The hives on disk hold the repair.
  {
    auto installation = install::Installation::Open(program.root());
    ASSERT_TRUE(installation.ok());
    reg::HostRegistry::Options read_only;
    read_only.read_only = true;
    auto fresh = reg::HostRegistry::Open(
        std::move(*installation), read_only);
    ASSERT_TRUE(fresh.ok());
    reg::HostRegistry* program_registry = reg::ProcessRegistry();
    reg::SetProcessRegistry(fresh->get());
    const bool on_disk = reg::KeyExists(key_root, key_view64, key_path);
    reg::SetProcessRegistry(program_registry);
    EXPECT_FALSE(on_disk);
  }

  // Restore everything of today's snapshot: the key comes back.
  auto* restore = program.Show<TfRestore>(hpRestore);
  ASSERT_NE(restore, nullptr);
  ASSERT_EQ(restore->Selector()->count(), 1);
  ASSERT_GT(restore->Items()->count(), 0);
  EXPECT_EQ(restore->CountLabel()->text(),
            QString::number(restore->Items()->count()) + QStringLiteral(" Items"));
  answers.asked.clear();
  QTest::mouseClick(restore->RestoreButton(), Qt::LeftButton);
  EXPECT_TRUE(answers.Asked(QStringLiteral("Restore selected items?")));
  EXPECT_TRUE(answers.Asked(QStringLiteral("Restore completed.")));
  EXPECT_TRUE(reg::KeyExists(key_root, key_view64, key_path));
  EXPECT_EQ(restore->Selector()->count(), 0);
  EXPECT_EQ(restore->CountLabel()->text(), QStringLiteral("0 Items"));
  EXPECT_FALSE(restore->RestoreButton()->isEnabled());
  EXPECT_FALSE(restore->PrintButton()->isEnabled());
}

// ---- Restore page ----

TEST(RestorePageTest, UncheckedItemsStayAndPrint) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  Answers answers;
  answers.answer = [](const MessageRequest&) { return controls::kIdYes; };
  controls::ScopedMessageAnswerer scope(&answers);
  // Two repairs of today through the engine's own backups.
  std::vector<std::string> keys = {"Software\\Hivemend Demo\\Restore\\One",
                                   "Software\\Hivemend Demo\\Restore\\Two"};
  for (const std::string& key : keys) {
    reg::HKEY created = 0;
    bool is_new = false;
    ASSERT_EQ(reg::RegCreateKeyExA(reg::HKEY_CURRENT_USER, key.c_str(), reg::KEY_ALL_ACCESS,
                                   &created, &is_new),
              0u);
    const char data[] = "x";
    reg::RegSetValueExA(created, "V", reg::REG_SZ, reinterpret_cast<const uint8_t*>(data), 2);
    reg::RegCloseKey(created);
    scan::TRegError* finding = program.AddFinding(scan::ecStartup, key);
    std::string text;
    ASSERT_TRUE(repair::RepairError(program.scanner(), *finding, &text)) << text;
    ASSERT_FALSE(reg::KeyExists(reg::HKEY_CURRENT_USER, false, key));
  }

  auto* page = program.Show<TfRestore>(hpRestore);
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(page->Items()->count(), 2);
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::Checked);
  // Restore with nothing checked says so and changes nothing.
  QTest::mouseClick(page->CheckAllBox(), Qt::LeftButton);
  EXPECT_EQ(page->Items()->item(0)->checkState(), Qt::Unchecked);
  QTest::mouseClick(page->RestoreButton(), Qt::LeftButton);
  EXPECT_TRUE(answers.Asked(QStringLiteral("Please select items to restore.")));
  EXPECT_FALSE(answers.Asked(QStringLiteral("Restore selected items?")));
  // One item checked: the box turns grey; after the restore the other item stays, unchecked.
  page->Items()->item(1)->setCheckState(Qt::Checked);
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::PartiallyChecked);
  QTest::mouseClick(page->RestoreButton(), Qt::LeftButton);
  EXPECT_TRUE(reg::KeyExists(reg::HKEY_CURRENT_USER, false, keys[1]));
  EXPECT_FALSE(reg::KeyExists(reg::HKEY_CURRENT_USER, false, keys[0]));
  ASSERT_EQ(page->Items()->count(), 1);
  EXPECT_EQ(page->Items()->item(0)->checkState(), Qt::Unchecked);
  EXPECT_EQ(page->CheckAllBox()->checkState(), Qt::Unchecked);

  // Print: the items go to the printer (a PDF file here).
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  const fs::path pdf = dir.path() / "items.pdf";
  printer.setOutputFileName(QString::fromStdString(pdf.string()));
  EXPECT_TRUE(page->PrintItems(printer));
  EXPECT_GT(fs::file_size(pdf), 0u);
}

// ---- Report ----

TEST(ReportPageTest, TableScrollsOnlyWhenRowsOverflow) {
  controls::testing::GuiTestApp();
  TReportTable table(nullptr);
  table.show();
  TRepairSummary summary{};
  summary[scan::ecStartup] = {150, 120, 30};
  table.SetSummary(summary);
  EXPECT_EQ(table.RowTexts(scan::ecStartup),
            QStringList({"Startup", "100+", "100+", "30"}));
  const int content = table.RowHeight() * (scan::kCategoryCount + 1);
  table.resize(500, content + 10);
  EXPECT_FALSE(table.ScrollBar()->isVisibleTo(&table));
  table.resize(500, content - 100);
  EXPECT_TRUE(table.ScrollBar()->isVisibleTo(&table));
  EXPECT_EQ(table.ScrollBar()->maximum(), 100 + 25);
  EXPECT_EQ(table.ScrollBar()->pageStep(), 125 / 5);
}

// ---- Show Key ----

TEST(RegistryViewTest, ShowKeyOpensTheViewAtTheKeyAndValue) {
  hm::testing::TempDir dir;
  DemoProgram program(dir);
  ASSERT_TRUE(program.ok());
  const std::string text =
      "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion" + std::string(scan::kValueSeparator) +
      "CurrentVersion";
  ASSERT_TRUE(reg::ShowKeyInRegedit(text));
  auto* jump = dynamic_cast<TRegistryViewJump*>(reg::ProcessRegistryJump());
  ASSERT_NE(jump, nullptr);
  TfRegistryView* view = jump->Window();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(view->CurrentKeyText(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
  EXPECT_EQ(view->SelectedValueName(), std::optional<std::string>("CurrentVersion"));
  // A key that is not there opens nothing.
  EXPECT_FALSE(reg::ShowKeyInRegedit("HKLM\\SOFTWARE\\No Such Key"));
}

TEST(RegistryViewTest, DataTexts) {
  EXPECT_EQ(RegistryTypeName(reg::REG_EXPAND_SZ), QStringLiteral("REG_EXPAND_SZ"));
  EXPECT_EQ(RegistryTypeName(0x1f), QStringLiteral("0x1f"));
  EXPECT_EQ(RegistryDataText(reg::REG_SZ, std::string("abc\0", 4)), QStringLiteral("abc"));
  EXPECT_EQ(RegistryDataText(reg::REG_MULTI_SZ, std::string("a\0b\0\0", 5)), QStringLiteral("a b"));
  EXPECT_EQ(RegistryDataText(reg::REG_DWORD, std::string("\x2a\0\0\0", 4)),
            QStringLiteral("0x0000002a (42)"));
  EXPECT_EQ(RegistryDataText(reg::REG_BINARY, std::string("\x01\xff", 2)), QStringLiteral("01 ff"));
}

}  // namespace
}  // namespace hm::ui
