#include "app/settings_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file_io.h"
#include "tests/support/testing.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;
using hm::testing::ReadFileBytes;
using hm::testing::TempDir;
using hm::testing::WriteFileBytes;
using std::chrono::day;
using std::chrono::month;
using std::chrono::year;

constexpr CivilDate kToday{year{2024}, month{3}, day{15}};

// The file a new installation writes at its first Save: the stored format, value by value.
constexpr char kNewFile[] =
    "[scan]\r\nFirstTimeScan=1\r\nRegistryIntegrity=1\r\nTypeLibrary=1\r\n"
    "WindowsAssociations=1\r\nDeepScan=1\r\nCustomControls=1\r\nApplicationIDs=1\r\n"
    "CodePages=1\r\nContentType=1\r\nApplications=1\r\nKnownDrivers=1\r\nVirtualDrivers=1\r\n"
    "OpenGLDrivers=1\r\nSharedDLLs=1\r\nStartMenu=1\r\nStartup=1\r\nHelpAndResources=1\r\n"
    "WindowsFonts=1\r\nApplicationLocations=1\r\nFileExtensions=1\r\nHTMLHelp=1\r\n"
    "InstalledFiles=1\r\nAddRemoveCache=1\r\nConfigurationCache=1\r\nFilePathReferences=1\r\n\r\n"
    "[clean]\r\nStartMenuOrderHistory=1\r\nNetworkDriveHistory=1\r\nUserAssistHistory=1\r\n"
    "SearchAssistantHistory=1\r\nRunMenuHistory=1\r\nRecentDocuments=1\r\nWindowsClipboard=1\r\n"
    "OpenSaveHistory=1\r\nLastVisitedHistory=1\r\nTrayIconHistory=0\r\nLogsAndTraces=0\r\n"
    "HistoryAndCaches=0\r\nTempFiles=1\r\nIISLogFiles=0\r\nHotFixes=0\r\n"
    "IECache=1\r\nIECookies=0\r\nIEVisitedURLHistory=1\r\nIETypedURLs=1\r\nIEAutoComplete=0\r\n"
    "IEFavoritesMenuOrderHistory=1\r\n"
    "FFCache=1\r\nFFCookies=0\r\nFFSession=1\r\nFFPassword=1\r\nFFVisitedURLHistory=1\r\n"
    "FFFormHistory=0\r\n"
    "GCHistory=1\r\nGCCache=1\r\nGCCookies=0\r\nGCDownloads=1\r\nGCFormInfo=1\r\nGCPassword=0\r\n"
    "OBHistory=1\r\nOBCache=1\r\nOBCookies=0\r\nOBDownloads=1\r\nOBFormData=1\r\nOBPassword=0\r\n"
    "ASHistory=1\r\nASCache=1\r\nASCookies=0\r\nASFormInfo=1\r\nASSession=1\r\nASPassword=0\r\n"
    "EHistory=1\r\nECookies=0\r\nETemporary=1\r\nEDownloads=1\r\nEFormData=1\r\nEPasswords="
    "0\r\n\r\n"
    "[settings]\r\nAutoRunAction=0\r\nAutoRunFreq=0\r\nDoNotShowNoticeOnDelayedStart=0\r\n"
    "UpdateFreq=1\r\nMonitorPrompt=300\r\nDeleteAfterWeek=0\r\nwindow=\r\nwindow_l=\r\n"
    "autorun=\r\nupdate=\r\nBackupBeforeScan=1\r\nlast_organize=\r\nlast_backup=\r\n"
    "last_optimize=\r\nhealthstatus=\r\ntotal_error_found=0\r\ntotal_error_repaired=0\r\n"
    "last_err=0\r\nlast_repair=0\r\nlast_scan=\r\nFullBackupOnlyOnceWeek=1\r\n\r\n"
    "[MonitoredKeys]\r\n";

class SettingsStoreTest : public ::testing::Test {
 protected:
  // The data folder "Corvexa" below AppData\Local of a temporary folder.
  SettingsStoreTest()
      : local_(dir_.path() / "Local"),
        folder_(dir_.path(), "Local\\Corvexa", dir_.path() / "Local" / "Corvexa", false) {
    fs::create_directories(local_ / "Corvexa");
  }

  SettingsStore Store() {
    SettingsStore::Options options;
    options.today = [this] { return today_; };
    return SettingsStore(folder_, options);
  }
  fs::path File() const { return local_ / "Corvexa" / "hvmend.ini"; }
  // Loads `text` as the file and returns the store.
  SettingsStore Loaded(const std::string& text) {
    WriteFileBytes(File(), text);
    SettingsStore store = Store();
    EXPECT_TRUE(store.Load().ok());
    return store;
  }

  TempDir dir_;
  fs::path local_;
  DataFolder folder_;
  CivilDate today_ = kToday;
};

TEST_F(SettingsStoreTest, NewInstallationHasDefaultsAndWritesTheStoredLayout) {
  SettingsStore store = Store();
  ASSERT_TRUE(store.Load().ok());
  const Settings& s = store.settings();
  for (bool on : s.scan_categories) EXPECT_TRUE(on);
  EXPECT_EQ(s.UpdateFreq, 1);
  EXPECT_EQ(s.update, "");
  EXPECT_TRUE(store.IsDue(DateKind::kUpdateCheck));  // the first start checks for updates
  EXPECT_EQ(s.MonitoredKeys, DefaultMonitoredKeys());
  EXPECT_EQ(s.SkippedKeys, BuiltInSkippedKeys());
  ASSERT_FALSE(s.SkippedKeys.empty());

  ASSERT_TRUE(store.Save().ok());
  std::string expected = kNewFile;
  expected.resize(expected.size() - std::string("[MonitoredKeys]\r\n").size());
  expected += "[SkippedKeys]\r\n";
  for (const std::string& entry : BuiltInSkippedKeys()) expected += entry + "\r\n";
  expected += "\r\n[MonitoredKeys]\r\n";
  for (const std::string& key : DefaultMonitoredKeys()) expected += key + "=\r\n";
  expected += "\r\n";
  EXPECT_EQ(ReadFileBytes(File()), expected);
}

TEST_F(SettingsStoreTest, ValuesSurviveSaveAndLoad) {
  SettingsStore store = Store();
  Settings& s = store.settings();
  s.scan_categories[23] = false;
  s.clean_categories[26] = false;  // FFPassword
  s.AutoRunAction = 2;
  s.window = "10,20,800,600";
  s.last_backup = "20240301";
  s.total_error_found = 2147483647;
  s.SkippedKeys = {"HKLM\\Software\\A=1", "HKCU\\B\\\\:Val=2"};
  s.MonitoredKeys = {"HKEY_CURRENT_USER\\Software\\Run"};
  ASSERT_TRUE(store.Save().ok());

  SettingsStore again = Store();
  ASSERT_TRUE(again.Load().ok());
  const Settings& t = again.settings();
  EXPECT_EQ(t.scan_categories, s.scan_categories);
  EXPECT_EQ(t.clean_categories, s.clean_categories);
  EXPECT_EQ(t.AutoRunAction, 2);
  EXPECT_EQ(t.window, "10,20,800,600");
  EXPECT_EQ(t.last_backup, ShortText("20240301"));
  EXPECT_EQ(t.total_error_found, 2147483647);
  EXPECT_EQ(t.SkippedKeys, s.SkippedKeys);
  EXPECT_EQ(t.MonitoredKeys, s.MonitoredKeys);
}

TEST_F(SettingsStoreTest, DamagedFileLoadsDefaultsWhereUnreadableAndSavesCleanly) {
  using namespace std::string_literals;
  SettingsStore store = Loaded(
      "\xff\xfe garbage\r\n"
      "[settings]\r\n"
      "UpdateFreq=99999999999999\r\n"      // too large: default
      "MonitorPrompt=12\x00\x01\x02\r\n"   // binary bytes: line dropped, default
      "AutoRunFreq=2\n"                    // LF only is fine
      "total_error_found=-4\r"             // CR only too
      "last_scan=2024031512301234567\r\n"  // cut to 12
      "just words\r\n"
      "window=  left, top  \r\n"
      "[unknown]\r\nkept=yes\r\n"
      "\x00\x00\x00\x00"s);
  const Settings& s = store.settings();
  EXPECT_EQ(s.UpdateFreq, 1);
  EXPECT_EQ(s.MonitorPrompt, 300);
  EXPECT_EQ(s.AutoRunFreq, 2);
  EXPECT_EQ(s.total_error_found, -4);
  EXPECT_EQ(s.last_scan.str(), "202403151230");
  EXPECT_EQ(s.window, "left, top");
  EXPECT_TRUE(s.FirstTimeScan);  // section "scan" missing

  ASSERT_TRUE(store.Save().ok());
  const std::string saved = ReadFileBytes(File());
  EXPECT_EQ(saved.find("garbage"), std::string::npos);
  EXPECT_EQ(saved.find("just words"), std::string::npos);
  EXPECT_EQ(saved.find('\0'), std::string::npos);
  EXPECT_NE(saved.find("[unknown]\r\nkept=yes\r\n"), std::string::npos);
  EXPECT_NE(saved.find("last_scan=202403151230\r\n"), std::string::npos);
  EXPECT_NE(saved.find("UpdateFreq=1\r\n"), std::string::npos);
  // Every line is a section header or an entry, and ends in CR LF.
  for (size_t start = 0; start < saved.size();) {
    const size_t end = saved.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = saved.substr(start, end - start);
    EXPECT_TRUE(line.empty() || line.front() == '[' || line.find('=') != std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    start = end + 2;
  }
}

TEST_F(SettingsStoreTest, NumbersAndBooleans) {
  struct Case {
    const char* value;
    int32_t number;  // UpdateFreq, default 1
    bool boolean;    // DeleteAfterWeek, default false
  };
  const Case kCases[] = {
      {"0", 0, false},
      {"7", 7, true},
      {"-3", -3, true},
      {" +12 ", 12, true},
      {"2147483647", 2147483647, true},
      {"2147483648", 1, false},
      {"12abc", 1, false},
      {"", 1, false},
      {"0x10", 1, false},
      {"true", 1, false},
  };
  for (const Case& c : kCases) {
    SettingsStore store = Loaded(std::string("[settings]\r\nUpdateFreq=") + c.value +
                                 "\r\nDeleteAfterWeek=" + c.value + "\r\n");
    EXPECT_EQ(store.settings().UpdateFreq, c.number) << c.value;
    EXPECT_EQ(store.settings().DeleteAfterWeek, c.boolean) << c.value;
  }
}

TEST_F(SettingsStoreTest, TextsTheFileCannotHoldAreNotWritten) {
  SettingsStore store = Store();
  store.settings().window = "1,2\r\n[injected]";
  store.settings().SkippedKeys = {"HKCU\\Line\nBreak=1", "=nameless", "HKCU\\Fine=1"};
  ASSERT_TRUE(store.Save().ok());
  const std::string saved = ReadFileBytes(File());
  EXPECT_EQ(saved.find("injected"), std::string::npos);
  EXPECT_NE(saved.find("window_l="), std::string::npos);
  SettingsStore again = Store();
  ASSERT_TRUE(again.Load().ok());
  EXPECT_EQ(again.settings().window, "");
  EXPECT_EQ(again.settings().SkippedKeys, std::vector<std::string>{"HKCU\\Fine=1"});
}

TEST_F(SettingsStoreTest, ShortTextsAreCutToTwelveCharacters) {
  SettingsStore store =
      Loaded("[settings]\r\nlast_organize=1234567890ABCDEF\r\nlast_optimize=short\r\n");
  EXPECT_EQ(store.settings().last_organize.str(), "1234567890AB");
  EXPECT_EQ(store.settings().last_optimize.str(), "short");
  store.settings().last_backup = "20240315-and-more";
  EXPECT_EQ(store.settings().last_backup.str(), "20240315-and");
}

TEST_F(SettingsStoreTest, SkippedKeys) {
  SettingsStore store = Loaded(
      "[SkippedKeys]\r\n"
      "HKLM\\Software\\Kept=1\r\n"
      "HKLM\\Software\\Empty=\r\n"
      "HKCU\\Software\\A=B=1\r\n");
  // The entry without a value is gone; the one with two "=" keeps both.
  EXPECT_EQ(store.settings().SkippedKeys,
            (std::vector<std::string>{"HKLM\\Software\\Kept=1", "HKCU\\Software\\A=B=1"}));
  store.settings().SkippedKeys.push_back("HKCU\\X=Y=Z");
  store.settings().SkippedKeys.push_back("NoEquals");
  ASSERT_TRUE(store.Save().ok());
  const std::string saved = ReadFileBytes(File());
  EXPECT_NE(saved.find("[SkippedKeys]\r\nHKLM\\Software\\Kept=1\r\nHKCU\\Software\\A=B=1\r\n"
                       "HKCU\\X=Y=Z\r\nNoEquals=\r\n"),
            std::string::npos);
  EXPECT_EQ(saved.find("Empty"), std::string::npos);
  // Written as name "HKCU\X=Y" and value "Z": read back as name "HKCU\X", value "Y=Z" and
  // rejoined to the same string; "NoEquals=" has no value and is dropped.
  SettingsStore again = Store();
  ASSERT_TRUE(again.Load().ok());
  EXPECT_EQ(again.settings().SkippedKeys.back(), "HKCU\\X=Y=Z");
}

TEST_F(SettingsStoreTest, AnEmptySkippedKeysSectionTakesTheBuiltInList) {
  WriteFileBytes(File(), "[SkippedKeys]\r\n[settings]\r\nUpdateFreq=3\r\n");
  SettingsStore::Options options;
  options.default_skipped_keys = [] { return std::vector<std::string>{"HKLM\\Builtin=1"}; };
  SettingsStore store(folder_, options);
  ASSERT_TRUE(store.Load().ok());
  EXPECT_EQ(store.settings().SkippedKeys, std::vector<std::string>{"HKLM\\Builtin=1"});
}

TEST_F(SettingsStoreTest, MonitoredKeysAreCutToTheLimit) {
  std::string text = "[MonitoredKeys]\r\n";
  for (int i = 0; i < 70; ++i) text += "HKLM\\Key" + std::to_string(i) + "=\r\n";
  SettingsStore store = Loaded(text);
  ASSERT_EQ(store.settings().MonitoredKeys.size(), kMaxMonitoredKeys);
  EXPECT_EQ(store.settings().MonitoredKeys.back(), "HKLM\\Key63");
  EXPECT_TRUE(ContainsMonitoredKey(store.settings().MonitoredKeys, "hklm\\KEY5"));
}

TEST_F(SettingsStoreTest, OlderCopiesAreReadAndTheFirstSaveMovesThemHome) {
  fs::remove_all(local_ / "Corvexa");
  fs::create_directories(local_ / "OrrinwellSoftware");
  fs::create_directories(local_ / "daventry labs");  // found without regard to case
  WriteFileBytes(local_ / "OrrinwellSoftware" / "hvmend.ini", "[settings]\r\nUpdateFreq=5\r\n");
  WriteFileBytes(local_ / "daventry labs" / "HVMEND.INI", "[settings]\r\nUpdateFreq=9\r\n");
  SettingsStore store = Store();
  ASSERT_TRUE(store.Load().ok());
  EXPECT_EQ(store.settings().UpdateFreq, 9);  // the second folder wins

  ASSERT_TRUE(store.Save().ok());
  EXPECT_NE(ReadFileBytes(File()).find("UpdateFreq=9\r\n"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(local_ / "daventry labs" / "HVMEND.INI"),
            "[settings]\r\nUpdateFreq=9\r\n");
  WriteFileBytes(local_ / "daventry labs" / "HVMEND.INI", "[settings]\r\nUpdateFreq=2\r\n");
  ASSERT_TRUE(store.Load().ok());
  EXPECT_EQ(store.settings().UpdateFreq, 9);  // the own file now comes first
}

TEST_F(SettingsStoreTest, DueTests) {
  struct Case {
    const char* autorun;
    bool due;
  };
  const Case kCases[] = {
      {"", true},
      {"20240315", true},  // today
      {"20240314", true},
      {"20240316", false},
      {"2024.3.15", true},  // dots, one-digit month
      {"2024.03.16", false},
      {"2024.3.9", true},
      {"202403151230", true},  // a longer text: its first eight characters
      {"2024.3", false},       // not a date: never due
      {"2024-03-1", false},
      {"20240230", false},  // no such day
      {"garbage!", false},
  };
  SettingsStore store = Store();
  for (const Case& c : kCases) {
    store.settings().autorun = c.autorun;
    EXPECT_EQ(store.IsDue(DateKind::kAutomaticScan), c.due) << c.autorun;
  }
  // The two forms of one date read the same.
  EXPECT_EQ(ParseDateText("2024.1.5"), ParseDateText("20240105"));

  store.settings().update = "20240101";
  EXPECT_TRUE(store.IsDue(DateKind::kUpdateCheck));
  store.settings().UpdateFreq = 0;  // never, whatever the date says
  EXPECT_FALSE(store.IsDue(DateKind::kUpdateCheck));
  store.settings().update = "";
  EXPECT_FALSE(store.IsDue(DateKind::kUpdateCheck));
}

TEST_F(SettingsStoreTest, SetNextDateReadsChangesAndSaves) {
  SettingsStore store = Loaded("[settings]\r\nMonitorPrompt=50\r\n");
  store.settings().MonitorPrompt = 999;  // unsaved: SetNextDate loads first
  ASSERT_TRUE(store.SetNextDate(DateKind::kUpdateCheck, 20).ok());
  EXPECT_EQ(store.settings().update, "20240404");
  EXPECT_EQ(store.settings().UpdateFreq, 20);
  EXPECT_EQ(store.settings().MonitorPrompt, 50);
  ASSERT_TRUE(store.SetNextDate(DateKind::kAutomaticScan, 0).ok());
  EXPECT_EQ(store.settings().autorun, "");
  ASSERT_TRUE(store.Load().ok());
  EXPECT_EQ(store.settings().update, "20240404");
}

TEST_F(SettingsStoreTest, AutomaticRunDue) {
  struct Case {
    const char* settings;
    bool due;
    const char* next_autorun;  // nullptr: the file must be unchanged
  };
  const Case kCases[] = {
      {"AutoRunAction=0\r\nautorun=20240101\r\n", false, nullptr},
      {"AutoRunAction=2\r\n", false, nullptr},
      {"AutoRunAction=1\r\nautorun=20240316\r\n", false, nullptr},
      {"AutoRunAction=1\r\nAutoRunFreq=1\r\nautorun=20240315\r\n", true, "20240322"},
      {"AutoRunAction=1\r\nAutoRunFreq=3\r\n", true, "20240414"},
      {"AutoRunAction=1\r\nAutoRunFreq=0\r\nautorun=20240301\r\n", true, ""},
      {"AutoRunAction=1\r\nAutoRunFreq=7\r\nautorun=20240301\r\n", true, ""},
  };
  for (const Case& c : kCases) {
    const std::string text = std::string("[settings]\r\n") + c.settings;
    SettingsStore store = Loaded(text);
    EXPECT_EQ(store.AutomaticRunDue(), c.due) << c.settings;
    SettingsStore after = Store();
    ASSERT_TRUE(after.Load().ok());
    if (c.next_autorun == nullptr) {
      EXPECT_EQ(ReadFileBytes(File()), text) << c.settings;
    } else {
      EXPECT_EQ(after.settings().autorun, c.next_autorun) << c.settings;
    }
  }
}

TEST_F(SettingsStoreTest, AFileThatCannotBeReadIsNotReplaced) {
  fs::create_directories(File());  // a folder where the file should be
  SettingsStore store = Store();
  EXPECT_FALSE(store.Load().ok());
  EXPECT_EQ(store.settings().UpdateFreq, 1);
  EXPECT_FALSE(store.Save().ok());
  EXPECT_TRUE(fs::is_directory(File()));
}

TEST_F(SettingsStoreTest, ACrashDuringSaveLeavesTheOldFile) {
  const std::string old_text = "[settings]\r\nUpdateFreq=4\r\n";
  SettingsStore store = Loaded(old_text);
  store.settings().UpdateFreq = 8;
  for (AtomicWriteStep step :
       {AtomicWriteStep::kTempCreated, AtomicWriteStep::kDataWritten, AtomicWriteStep::kFlushed}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      SettingsStore::Options options;
      options.write_options.on_step = [step](AtomicWriteStep now) {
        if (now == step) ::_exit(7);
      };
      SettingsStore crashing(folder_, options);
      crashing.settings() = store.settings();
      (void)crashing.Save();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
    EXPECT_EQ(ReadFileBytes(File()), old_text);
  }
  ASSERT_TRUE(store.Save().ok());
  EXPECT_NE(ReadFileBytes(File()).find("UpdateFreq=8\r\n"), std::string::npos);
}

}  // namespace
}  // namespace hm::app
