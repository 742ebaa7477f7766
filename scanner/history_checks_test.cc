// The history list, start menu and full path checks over a small installation with planted
// faults beside valid entries of the same shape that must not be reported.
#include "scanner/history_checks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/files/shell_link_writer.h"
#include "registry/files_test_support.h"
#include "scanner/scan_test_support.h"
#include "scanner/scanner.h"

namespace hm::scan {
namespace {

namespace fs = std::filesystem;

// "view kind action key \\: value = data | caption" for every finding of `category`.
std::multiset<std::string> Findings(TRegScanner& scanner, TErrorCategory category) {
  std::multiset<std::string> findings;
  for (int i = 0; i < scanner.CategoryErrorCount(category); ++i) {
    const TRegError& f = *scanner.GetError(category, i);
    findings.insert(std::to_string(f.View()) + " " + std::to_string(f.Kind()) + " " +
                    std::to_string(f.Action()) + " " + f.KeyText() + "\\\\:" + f.ValueName() + "=" +
                    f.Data() + " | " + f.Caption());
  }
  return findings;
}

std::multiset<std::string> Scan(TErrorCategory category) {
  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(testing::Categories({category}));
  testing::ScanToEnd(scanner, queue);
  return Findings(scanner, category);
}

#define EXPLORER "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
#define APPLETS "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\"

constexpr char kHistory[] =
    // The list key's own entries are judged by their folder.
    EXPLORER
    "ComDlg32\\OpenSaveMRU]\n"
    "\"MRUList\"=\"abc\"\n"
    "\"a\"=\"C:\\\\Program Files\\\\App One\\\\gone but the folder is there.txt\"\n"
    "\"b\"=\"C:\\\\Gone\\\\x.txt\"\n"
    "\"c\"=\"no folder.txt\"\n"
    // The entries below it are files; a letter without a value is reported once per list.
    EXPLORER
    "ComDlg32\\OpenSaveMRU\\txt]\n"
    "\"MRUList\"=\"aybzb\"\n"
    "\"a\"=\"C:\\\\Windows\\\\notepad.exe\"\n"
    "\"b\"=\"C:\\\\Gone\\\\report.txt\"\n"
    "\"d\"=\"C:\\\\Gone\\\\not in the list.txt\"\n" EXPLORER
    "ComDlg32\\OpenSaveMRU\\txt\\deeper]\n"
    "\"MRUList\"=\"ab\"\n"
    "\"a\"=\"C:\\\\Gone\\\\deep.txt\"\n"
    "\"b\"=dword:00000001\n"
    // Commands of the Run dialog: "\1" is not part of the command.
    EXPLORER
    "RunMRU]\n"
    "\"MRUList\"=\"abcd\"\n"
    "\"a\"=\"notepad\\\\1\"\n"
    "\"b\"=\"C:\\\\Gone\\\\tool.exe -x\\\\1\"\n"
    "\"c\"=\"http://example.com/\\\\1\"\n"
    "\"d\"=\"C:\\\\Program Files\\\\App One\\\\app.exe\\\\1\"\n"
    // Only values named "File..." are recent files.
    APPLETS
    "Paint\\Recent File List]\n"
    "\"File1\"=\"C:\\\\Windows\\\\notepad.exe\"\n"
    "\"File2\"=\"C:\\\\Gone\\\\picture.png\"\n"
    "\"File3\"=\"\"\n"
    "\"File4\"=dword:00000001\n"
    "\"Settings\"=\"C:\\\\Gone\\\\not a file entry\"\n" APPLETS
    "Wordpad\\Recent File List]\n"
    "\"file1\"=\"C:\\\\Gone\\\\letter.rtf\"\n";

TEST(HistoryChecksTest, HistoryListsReportBrokenEntriesAndBrokenLists) {
  reg::testing::FilesInstallation installation({}, kHistory);
  const std::string mru = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
  const std::string applets = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\";
  const std::multiset<std::string> expected = {
      "0 22 10 " + mru + "ComDlg32\\OpenSaveMRU\\\\:b=C:\\Gone\\x.txt | OpenSaveMRU",
      "0 22 10 " + mru + "ComDlg32\\OpenSaveMRU\\txt\\\\:b=C:\\Gone\\report.txt | OpenSaveMRU\\txt",
      "0 25 9 " + mru + "ComDlg32\\OpenSaveMRU\\txt\\\\:MRUList=aybzb | OpenSaveMRU\\txt",
      "0 22 10 " + mru + "ComDlg32\\OpenSaveMRU\\txt\\deeper\\\\:a=C:\\Gone\\deep.txt | " +
          "OpenSaveMRU\\txt\\deeper",
      // The finding shows the entry as stored.
      "0 22 10 " + mru + "RunMRU\\\\:b=C:\\Gone\\tool.exe -x\\1 | RunMRU",
      "0 22 1 " + applets + "Paint\\Recent File List\\\\:File2=C:\\Gone\\picture.png | " +
          "Paint Recent File List",
      "0 22 1 " + applets + "Paint\\Recent File List\\\\:File3= | Paint Recent File List",
      "0 0 1 " + applets + "Paint\\Recent File List\\\\:File4=REG_SZ or REG_EXPAND_SZ | File4",
      "0 22 1 " + applets + "Wordpad\\Recent File List\\\\:file1=C:\\Gone\\letter.rtf | " +
          "Wordpad Recent File List",
  };
  EXPECT_EQ(Scan(ecHistoryLists), expected);
}

#define MENU_ORDER EXPLORER "MenuOrder\\Start Menu2\\Programs\\"

constexpr char kMenuOrder[] =
    MENU_ORDER "User Group]\n" MENU_ORDER "User Group\\Gone Subgroup]\n" MENU_ORDER
               "Common Group]\n" MENU_ORDER "Gone Group]\n"
    // Below a reported group: not visited.
    MENU_ORDER "Gone Group\\Sub]\n" EXPLORER "MenuOrder\\Start Menu\\Programs\\Old Group]\n";

TEST(HistoryChecksTest, StartMenuReportsBrokenShortcutsAndMissingProgramGroups) {
  reg::testing::FilesInstallation installation({}, kMenuOrder);
  const fs::path user = installation.root() / "Users/ann/AppData/Roaming/Microsoft/Windows";
  const fs::path common = installation.root() / "ProgramData/Microsoft/Windows/Start Menu";
  fs::create_directories(user / "Start Menu/Programs/User Group");
  fs::create_directories(common / "Programs/Common Group");
  fs::create_directories(user / "Recent/Older");
  fs::create_directories(installation.root() / "Users/ann/Desktop");
  auto link = [](const fs::path& file, std::string target) {
    files::ShellLinkSpec spec;
    if (target.starts_with("\\\\")) {
      spec.network_share = std::move(target);
    } else if (target.find('%') != std::string::npos) {
      spec.environment_target = std::move(target);
    } else {
      spec.local_path = std::move(target);
    }
    ASSERT_TRUE(files::WriteShellLink(file, spec).ok()) << file;
  };
  link(installation.root() / "Users/ann/Desktop/App.lnk", "C:\\Program Files\\App One\\app.exe");
  link(installation.root() / "Users/ann/Desktop/Gone.lnk", "C:\\Gone\\gone.exe");
  link(installation.root() / "Users/ann/Desktop/Share.lnk", "\\\\srv\\docs");
  link(installation.root() / "Users/ann/Desktop/Stick.LNK", "E:\\photos\\a.jpg");
  link(installation.root() / "Users/ann/Desktop/Env.lnk", "%windir%\\gone.exe");
  link(installation.root() / "Users/ann/Desktop/Gone.lnk.txt", "C:\\Gone\\ignored.exe");
  link(user / "Recent/Older/report.lnk", "C:\\Gone\\report.docx");
  link(user / "Recent/folder.lnk", "C:\\Program Files\\App One\\");
  link(common / "Programs/Common Group/Tool.lnk", "C:\\Gone\\Tool\\tool.exe");
  hm::testing::WriteFileBytes(user / "Recent/damaged.lnk", "not a shortcut");
  // Nothing outside the installation is read, a link to a parent folder is not entered, and a
  // named pipe is never opened.
  hm::testing::TempDir outside;
  link(outside.path() / "outside.lnk", "C:\\Gone\\outside.exe");
  fs::create_symlink(outside.path() / "outside.lnk",
                     installation.root() / "Users/ann/Desktop/Outside.lnk");
  fs::create_directory_symlink(user / "Recent", user / "Recent/Older/Loop");
  ASSERT_EQ(mkfifo((installation.root() / "Users/ann/Desktop/pipe.lnk").c_str(), 0600), 0);

  const std::string menu =
      "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\";
  const std::multiset<std::string> expected = {
      "0 29 11 C:\\Users\\ann\\Desktop\\Gone.lnk\\\\:=C:\\Gone\\gone.exe | Gone.lnk",
      "0 29 11 C:\\Users\\ann\\AppData\\Roaming\\Microsoft\\Windows\\Recent\\Older\\"
      "report.lnk\\\\:=C:\\Gone\\report.docx | report.lnk",
      "0 29 11 C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Common Group\\"
      "Tool.lnk\\\\:=C:\\Gone\\Tool\\tool.exe | Tool.lnk",
      "0 6 0 " + menu + "Start Menu2\\Programs\\User Group\\Gone Subgroup\\\\:= | " +
          "User Group\\Gone Subgroup",
      "0 6 0 " + menu + "Start Menu2\\Programs\\Gone Group\\\\:= | Gone Group",
      "0 6 0 " + menu + "Start Menu\\Programs\\Old Group\\\\:= | Old Group",
  };
  EXPECT_EQ(Scan(ecStartMenu), expected);
}

#define VENDOR "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App]\n"

std::string PathValues() {
  using reg::testing::ExpandSz;
  return VENDOR
         "\"Good\"=\"C:\\\\Program Files\\\\App One\\\\app.exe\"\n"
         "\"Gone\"=\"C:\\\\Gone\\\\app.exe\"\n"
         "\"Quoted\"=\"\\\"C:\\\\Gone Dir\\\\app.exe\\\" /run\"\n"
         "\"ProgramWithArgument\"=\"C:\\\\Windows\\\\notepad.exe C:\\\\Gone\\\\doc.txt\"\n"
         "\"List\"=\"C:\\\\Windows;C:\\\\Gone;C:\\\\Program Files\"\n"
         "\"Multi\"=hex(7):43,00,3a,00,5c,00,57,00,69,00,6e,00,64,00,6f,00,77,00,73,00,00,00,43,00,"
         "3a,00,5c,00,47,00,6f,00,6e,00,65,00,00,00,43,00,3a,00,5c,00,50,00,72,00,6f,00,67,00,72,"
         "00,"
         "61,00,6d,00,20,00,46,00,69,00,6c,00,65,00,73,00,00,00,00,00\n"
         "\"Temp\"=" +
         ExpandSz(u"%TEMP%\\gone.tmp") +
         "\n\"Expand\"=" + ExpandSz(u"%ProgramFiles%\\Gone\\x.exe") +
         "\n\"ExpandGood\"=" + ExpandSz(u"%ProgramFiles%\\App One\\app.exe") +
         "\n"
         // Not on a fixed drive, or not judged at all.
         "\"Removable\"=\"E:\\\\gone.exe\"\n"
         "\"Unmapped\"=\"Q:\\\\gone.exe\"\n"
         "\"Network\"=\"\\\\\\\\srv\\\\share\\\\gone.exe\"\n"
         "\"Resource\"=\"ms-resource:C:\\\\Gone\\\\strings\"\n"
         "\"Setup\"=\"C:\\\\$WIN_NT$.~BT\\\\gone.inf\"\n"
         "\"Help\"=\"mk:@MSITStore:C:\\\\Gone\\\\help.chm::/index.htm\"\n"
         "\"Short\"=\"C:\\\\\"\n"
         "\"Number\"=dword:00000001\n"
         // Skipped keys are neither tested nor entered.
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\n"
         "\"Gone\"=\"C:\\\\Gone\\\\run.exe\"\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\Below]\n"
         "\"Gone\"=\"C:\\\\Gone\\\\below.exe\"\n"
         // A key whose path the word filter refuses.
         "[HKEY_CURRENT_USER\\Software\\Vendor\\shell:Folders]\n"
         "\"Gone\"=\"C:\\\\Gone\\\\filtered.exe\"\n"
         "[HKEY_CURRENT_USER\\Software\\Vendor\\Deep\\1\\2\\3\\4\\5\\6\\7\\8]\n"
         "\"Gone\"=\"C:\\\\Gone\\\\deep.exe\"\n";
}

TEST(HistoryChecksTest, FilePathRefsReportMissingPathsOnFixedDrives) {
  files::HostFiles::Options options;
  hm::testing::TempDir stick;
  options.drives.push_back({'E', stick.path(), install::kDriveRemovable});
  reg::testing::FilesInstallation installation(options, PathValues());
  const std::string app = "HKLM\\SOFTWARE\\Vendor\\App\\\\:";
  const std::multiset<std::string> expected = {
      // The 64-bit view holds the key; the 32-bit one sees WOW6432Node.
      "1 22 1 " + app + "Gone=C:\\Gone\\app.exe | Gone",
      "1 22 1 " + app + "Quoted=\"C:\\Gone Dir\\app.exe\" /run | Quoted",
      "1 24 3 " + app + "List=C:\\Gone | List",
      "1 23 3 " + app + "Multi=C:\\Gone | Multi",
      "1 22 1 " + app + "Expand=%ProgramFiles%\\Gone\\x.exe | Expand",
      // Keys deeper than the progress goes are still tested.
      "0 22 1 HKCU\\Software\\Vendor\\Deep\\1\\2\\3\\4\\5\\6\\7\\8\\\\:Gone=C:\\Gone\\deep.exe | "
      "Gone",
  };
  EXPECT_EQ(Scan(ecFilePathRefs), expected);
}

TEST(HistoryChecksTest, OpenGlDriversCompleteWithoutItems) {
  reg::testing::FilesInstallation installation;
  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(testing::Categories({ecOpenGLDrivers}));
  std::vector<int> percents;
  scanner.OnProgress = [&](const std::string& location, TErrorCategory category, int percent, int) {
    if (category == ecOpenGLDrivers) percents.push_back(percent);
  };
  testing::ScanToEnd(scanner, queue);
  EXPECT_EQ(percents, std::vector<int>{100});
  EXPECT_EQ(scanner.Tests(ecOpenGLDrivers), 0);
  EXPECT_EQ(scanner.CategoryErrorCount(ecOpenGLDrivers), 0);
}

}  // namespace
}  // namespace hm::scan
