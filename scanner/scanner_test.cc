#include "scanner/scanner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/hive/hive.h"
#include "platform/install/builder.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::scan {
namespace {

namespace fs = std::filesystem;

constexpr char kSources[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1-2-3-1001]
"ProfileImagePath"="C:\\Users\\ann"

[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Broken]
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Guarded]
[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Vendor\Broken]
[HKEY_CURRENT_USER\Software\Demo]
)";

// A self-relative security descriptor whose owner is TrustedInstaller.
std::string TrustedInstallerOwned() {
  std::string descriptor = {1, 0, 0, static_cast<char>(0x80), 20, 0, 0, 0};
  descriptor.append(12, '\0');  // no group, SACL or DACL
  const unsigned char sid[] = {1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,
                               0,    0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C,
                               0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
  descriptor.append(reinterpret_cast<const char*>(sid), sizeof sid);
  return descriptor;
}

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(sources_.path() / "registry");
    hm::testing::WriteFileBytes(sources_.path() / "registry" / "10.reg", kSources);
    hm::testing::WriteFileBytes(sources_.path() / "files.txt", "Users\\ann\\\n");
    root_ = dir_.path() / "c";
    ASSERT_TRUE(install::BuildInstallation(sources_.path(), root_).ok());
    auto software = hive::Hive::Open(root_ / "Windows/System32/config/SOFTWARE");
    ASSERT_TRUE(software.ok());
    ASSERT_TRUE((*software)->Find(u"Vendor\\Guarded")->SetSecurity(TrustedInstallerOwned()).ok());
    ASSERT_TRUE((*software)->Save().ok());
  }
  void TearDown() override { reg::SetProcessRegistry(nullptr); }

  void OpenRegistry(bool read_only = false) {
    auto installation = install::Installation::Open(root_);
    ASSERT_TRUE(installation.ok());
    reg::HostRegistry::Options options;
    options.read_only = read_only;
    auto registry = reg::HostRegistry::Open(std::move(*installation), options);
    ASSERT_TRUE(registry.ok());
    registry_ = std::move(*registry);
    reg::SetProcessRegistry(registry_.get());
    reg::InitRegistryAccess(*registry_);
  }

  // Runs a scan to its end, serving its calls.
  void Scan(TRegScanner& scanner) {
    bool complete = false;
    scanner.OnScanComplete = [&](TRegScanner*) { complete = true; };
    scanner.Start();
    queue_.ServeUntil([&] { return complete; });
  }

  hm::testing::TempDir sources_, dir_;
  fs::path root_;
  std::unique_ptr<reg::HostRegistry> registry_;
  MainThreadQueue queue_;
};

TRegErrorInfo Finding(uint8_t view, const std::string& key, const std::string& value = "") {
  TRegErrorInfo info;
  info.View = view;
  info.RootKey = reg::HKEY_LOCAL_MACHINE;
  info.KeyPath = key;
  info.ValueName = value;
  info.Kind = 17;
  return info;
}

TEST_F(ScannerTest, ProgressIsReportedAsTheStepsGo) {
  OpenRegistry();
  CategoryRoutines routines;
  routines[ecTypeLib] = [](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (thread.View() != 0) return;  // items in one view only
    if (count_only) return thread.AddToCount(4);
    for (const char* item : {"a", "b", "c", "d"}) thread.StepProgress(item);
  };
  TRegScanner scanner(queue_, routines);
  TErrorCategories categories;
  categories.Include(ecTypeLib);
  categories.Include(ecCLSIDs);
  scanner.SetScanCategories(categories);
  std::vector<std::pair<std::string, int>> reports;
  scanner.OnProgress = [&](const std::string& location, TErrorCategory category, int percent, int) {
    reports.emplace_back(location + "@" + std::to_string(category), percent);
  };
  Scan(scanner);
  EXPECT_EQ(reports, (std::vector<std::pair<std::string, int>>{
                         {"a@1", 50}, {"b@1", 75}, {"c@1", 100}, {"d@1", 100}, {"@3", 100}}));
  EXPECT_FALSE(scanner.FullScanDone());  // not every category was scanned
  EXPECT_EQ(scanner.Tests(ecTypeLib), 0);
  EXPECT_EQ(scanner.Tests(ecStartup), -1);
  EXPECT_EQ(scanner.HealthPercent(), -1);
}

TEST_F(ScannerTest, FindingsAreFilteredBeforeTheyAreStored) {
  OpenRegistry();
  CategoryRoutines routines;
  routines[ecCLSIDs] = [](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (count_only) return;
    auto report = [&](TRegErrorInfo info) {
      thread.CountTest();
      thread.HandOver(std::move(info));
    };
    if (thread.View() == 0) {
      report(Finding(0, "SOFTWARE\\Vendor\\Broken"));   // the 32-bit key: stored
      report(Finding(0, "SOFTWARE\\Vendor\\Ignored"));  // on the ignore list
      report(Finding(0, "SOFTWARE\\Vendor\\Guarded"));  // no such key in the 32-bit view
      TRegErrorInfo shortcut;
      shortcut.Kind = 29;
      shortcut.KeyPath = "C:\\Users\\ann\\gone.lnk";
      report(shortcut);  // about a file, not a key: stored
    } else {
      report(Finding(1, "SOFTWARE\\Vendor\\Broken"));   // as in view 0: a duplicate
      report(Finding(1, "SOFTWARE\\Vendor\\Guarded"));  // protected by Windows
    }
  };
  TRegScanner scanner(queue_, routines);
  scanner.SetIgnoreList({"HKLM\\SOFTWARE\\Vendor\\Ignored"});
  Scan(scanner);
  std::vector<std::string> stored;
  for (int i = 0; i < scanner.CategoryErrorCount(ecCLSIDs); ++i) {
    const TRegError* error = scanner.GetError(ecCLSIDs, i);
    stored.push_back(std::to_string(error->View()) + ":" + error->KeyPath());
  }
  EXPECT_EQ(stored,
            (std::vector<std::string>{"0:SOFTWARE\\Vendor\\Broken", "0:C:\\Users\\ann\\gone.lnk"}));
  // Six tests, less the ignored, the missing and the protected finding; the duplicate is the
  // same test seen twice and takes nothing away.
  EXPECT_EQ(scanner.Tests(ecCLSIDs), 6 - 3);
  EXPECT_EQ(scanner.Found(ecCLSIDs), 2);
  EXPECT_EQ(scanner.ReadOnlyDrops(), 0);
}

TEST_F(ScannerTest, AReadOnlyInstallationKeepsNoFindingAndSaysWhy) {
  OpenRegistry(/*read_only=*/true);
  CategoryRoutines routines;
  routines[ecStartup] = [](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (!count_only && thread.View() == 0) thread.HandOver(Finding(0, "SOFTWARE\\Vendor\\Broken"));
  };
  TRegScanner scanner(queue_, routines);
  Scan(scanner);
  EXPECT_EQ(scanner.ErrorCount(), 0);
  EXPECT_EQ(scanner.ReadOnlyDrops(), 1);
}

TEST_F(ScannerTest, StopEndsTheScanAndKeepsUnfinishedStatistics) {
  OpenRegistry();
  CategoryRoutines routines;
  routines[ecTypeLib] = [](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (thread.View() != 0) return;
    if (count_only) return thread.AddToCount(1);
    thread.CountTest();
    thread.StepProgress("typelib");
  };
  routines[ecCLSIDs] = [](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (count_only) return thread.AddToCount(1000000);
    while (!thread.Terminated()) thread.StepProgress("endless");
  };
  TRegScanner scanner(queue_, routines);
  scanner.SetHealthStatusText("5,1;9,2;7,3;8,4");
  bool complete = false, endless = false;
  scanner.OnScanComplete = [&](TRegScanner*) { complete = true; };
  scanner.OnProgress = [&](const std::string& location, TErrorCategory, int, int) {
    endless = endless || location == "endless";
  };
  scanner.Start();
  queue_.ServeUntil([&] { return endless; });
  scanner.Stop();
  EXPECT_TRUE(complete);  // handled before Stop returned
  EXPECT_FALSE(scanner.IsScanning());
  EXPECT_EQ(scanner.Tests(ecTypeLib), 1);  // finished: updated
  EXPECT_EQ(scanner.Tests(ecCLSIDs), 8);   // interrupted: kept
  EXPECT_EQ(scanner.Found(ecCLSIDs), 4);
  EXPECT_EQ(scanner.Tests(ecStartup), -1);  // never reached
  EXPECT_FALSE(scanner.FullScanDone());
  // Changing the categories of a running scan is ignored. Stop asked from inside a progress
  // report only asks; the scan ends when the report returns.
  complete = false;
  scanner.OnProgress = [&](const std::string& location, TErrorCategory, int, int) {
    if (location == "endless") scanner.Stop();
  };
  scanner.Start();
  scanner.SetScanCategories(TErrorCategories());
  EXPECT_EQ(scanner.ScanCategories(), TErrorCategories::All());
  queue_.ServeUntil([&] { return complete; });
  EXPECT_FALSE(scanner.IsScanning());
}

TEST(ScannerHealthTest, PercentAndStatusText) {
  MainThreadQueue queue;
  TRegScanner scanner(queue, CategoryRoutines{});
  std::string initial;
  for (int c = 0; c < kCategoryCount; ++c) initial += (c ? ";" : "") + std::string("-1,0");
  EXPECT_EQ(scanner.HealthStatusText(), initial);
  EXPECT_EQ(scanner.HealthPercent(), -1);

  std::string text = "100,50;100,25";
  for (int c = 2; c < kCategoryCount; ++c) text += ";0,0";
  scanner.SetHealthStatusText(text);
  EXPECT_EQ(scanner.HealthPercent(), 37);
  EXPECT_EQ(scanner.HealthStatusText(), text);

  scanner.SetHealthStatusText("3,1;garbage,x;99999999999999,2");
  EXPECT_EQ(scanner.Tests(ecShellFolders), 3);
  EXPECT_EQ(scanner.Tests(ecTypeLib), 0);  // unreadable numbers read as 0
  EXPECT_EQ(scanner.Found(ecFileTypes), 2);
  EXPECT_EQ(scanner.Tests(ecCLSIDs), -1);  // not in the text
}

}  // namespace
}  // namespace hm::scan
