// The check primitives, run inside a scan as the category checks run them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "registry/files_test_support.h"
#include "scanner/scan_test_support.h"
#include "scanner/scanner.h"

namespace hm::scan {
namespace {

namespace fs = std::filesystem;

constexpr char kClasses[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Prog.App]
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Only64]

[HKEY_LOCAL_MACHINE\SOFTWARE\Checks]
"Text"="abc"
"Empty"=""
"Number"=dword:00000001
"Cut"=hex(2):61,00,00,00,62,00,00,00
)reg";

class CheckPrimitivesTest : public ::testing::Test {
 protected:
  // Runs `check` once, in the checking pass of one category in the 32-bit view, and serves the
  // scan to its end.
  void RunCheck(std::function<void(TScanThread&)> check) {
    CategoryRoutines routines;
    routines[ecAppIDs] = [check](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
      if (!count_only && thread.View() == 0) check(thread);
    };
    TRegScanner scanner(queue_, routines);
    TErrorCategories only;
    only.Include(ecAppIDs);
    scanner.SetScanCategories(only);
    testing::ScanToEnd(scanner, queue_);
  }

  reg::testing::FilesInstallation installation_{{}, kClasses};
  MainThreadQueue queue_;
};

TEST_F(CheckPrimitivesTest, ClassExistsStripsVersionsOnlyWhenAsked) {
  std::vector<bool> found;
  RunCheck([&](TScanThread& thread) {
    found.push_back(thread.ClassExists("Prog.App.12", /*strip=*/false));
    found.push_back(thread.ClassExists("Prog.App.12", /*strip=*/true));  // Prog.App. , Prog.App
    found.push_back(thread.ClassExists("Prog.Apps", /*strip=*/true));    // ends in a letter
    found.push_back(thread.ClassExists("Only64", /*strip=*/false));      // 64-bit view too
    found.push_back(thread.ClassExists("", /*strip=*/true));
  });
  EXPECT_EQ(found, (std::vector<bool>{false, true, false, true, false}));
}

TEST_F(CheckPrimitivesTest, ReadTextTakesOnlyTextValues) {
  std::vector<std::string> texts;
  RunCheck([&](TScanThread& thread) {
    thread.Access().SetRootKey(reg::HKEY_LOCAL_MACHINE);
    thread.Access().SetView64(true);  // the key is stored for 64-bit programs
    ASSERT_TRUE(thread.OpenPlain("SOFTWARE\\Checks"));
    for (const char* name : {"Text", "Empty", "Number", "Cut", "Missing"}) {
      std::string text = "unchanged";
      const bool read = thread.ReadText(name, &text);
      texts.push_back(std::string(read ? "yes:" : "no:") + text);
    }
  });
  EXPECT_EQ(texts, (std::vector<std::string>{"yes:abc", "yes:", "no:", "yes:a", "no:"}));
}

TEST_F(CheckPrimitivesTest, FileReferencesOfPackagesAreLookedUpByName) {
  const fs::path packages = installation_.root() / "Users/ann/AppData/Local/Packages";
  fs::create_directories(packages / "Contoso.Notes_8wekyb3d8bbwe/LocalState");
  std::vector<bool> found;
  RunCheck([&](TScanThread& thread) {
    for (const char* reference :
         {"@{Contoso.Notes_8wekyb3d8bbwe?ms-resource://Contoso.Notes/Files/logo.png}",
          "contoso.notes_8wekyb3d8bbwe!App", "@{Gone.App_1234?ms-resource://x}", "shell32.dll,-21",
          "C:\\Windows\\notepad.exe", "C:\\Nowhere\\x.exe", ""}) {
      found.push_back(thread.FileReferenceExists(reference));
    }
  });
  EXPECT_EQ(found, (std::vector<bool>{true, true, false, true, true, false, false}));
}

TEST_F(CheckPrimitivesTest, NothingIsHandedOverAfterTermination) {
  int findings = 0;
  CategoryRoutines routines;
  routines[ecAppIDs] = [](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (count_only || thread.View() != 0) return;
    thread.Terminate();
    thread.Report(reg::HKEY_LOCAL_MACHINE, 0, raDeleteKey, 13, "{A}", "", "SOFTWARE\\Checks",
                  "late");
  };
  TRegScanner scanner(queue_, routines);
  bool complete = false;
  scanner.OnScanComplete = [&](TRegScanner* sender) {
    complete = true;
    findings = sender->ErrorCount();
  };
  scanner.Start();
  queue_.ServeUntil([&] { return complete; });
  EXPECT_EQ(findings, 0);
}

TEST(CheckPrimitivesViewTest, TheSecondViewIsNeverOpenedWithoutTwoViews) {
  // A 32-bit installation: no WOW6432Node, so no reflection query and no 64-bit pass.
  hm::testing::TempDir dir;
  fs::create_directories(dir.path() / "src/registry");
  hm::testing::WriteFileBytes(dir.path() / "src/registry/10.reg",
                              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n"
                              "\"Current\"=dword:00000001\n\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Checks]\n");
  hm::testing::WriteFileBytes(dir.path() / "src/files.txt", "");
  ASSERT_TRUE(install::BuildInstallation(dir.path() / "src", dir.path() / "c").ok());
  auto installation = install::Installation::Open(dir.path() / "c");
  ASSERT_TRUE(installation.ok());
  auto registry = reg::HostRegistry::Open(std::move(*installation), {});
  ASSERT_TRUE(registry.ok());
  reg::SetProcessRegistry(registry->get());
  reg::InitRegistryAccess(**registry);

  std::vector<int> views;
  CategoryRoutines routines;
  routines[ecAppIDs] = [&](TScanThread& thread, reg::TRegistryAccess&, bool count_only) {
    if (count_only) return;
    views.push_back(thread.View());
    thread.Access().SetRootKey(reg::HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(thread.OpenForCheck("SOFTWARE\\Checks"));
  };
  MainThreadQueue queue;
  TRegScanner scanner(queue, routines);
  testing::ScanToEnd(scanner, queue);
  EXPECT_EQ(views, std::vector<int>{0});
  reg::SetProcessRegistry(nullptr);
}

}  // namespace
}  // namespace hm::scan
