// Runs the built hivemend-cli as a user would: on the demo installation, on a damaged hive and on
// wrong input, checking exit codes and what it prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "platform/install/installation.h"
#include "registry/host_registry.h"
#include "cli/cli_test_support.h"
#include "tests/support/testing.h"

namespace {

using hm::cli::testing::Cli;
using hm::cli::testing::CliRun;
using hm::cli::testing::Quote;
using hm::testing::RunCommand;
using hm::testing::TempDir;


class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    demo_ = new TempDir();
    TempDir scratch;
    CliRun made = Cli("make-demo " + Quote((demo_->path() / "c").string()), scratch);
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
  static void TearDownTestSuite() { delete demo_; }

  static std::string Demo() { return Quote((demo_->path() / "c").string()); }

  TempDir scratch_;
  static TempDir* demo_;
};
TempDir* CliTest::demo_ = nullptr;

TEST_F(CliTest, DescribeTellsWhatTheLogsOfAnUncleanHiveAddWithoutWritingAnything) {
  auto hive = hm::testing::UnpackSharedHive("SYSTEM_B", scratch_.path());
  hm::testing::UnpackSharedHive("SYSTEM_B.LOG1", scratch_.path());
  hm::testing::UnpackSharedHive("SYSTEM_B.LOG2", scratch_.path());
  const std::string before = hm::testing::ReadFileBytes(hive);
  CliRun described = Cli("describe " + Quote(hive.string()), scratch_);
  EXPECT_EQ(described.exit_code, 0) << described.err;
  EXPECT_NE(described.out.find("logs:         SYSTEM_B.LOG1, SYSTEM_B.LOG2"), std::string::npos)
      << described.out;
  EXPECT_NE(described.out.find("315 dirty pages"), std::string::npos) << described.out;
  EXPECT_NE(described.out.find("keys +2472"), std::string::npos) << described.out;
  EXPECT_EQ(hm::testing::ReadFileBytes(hive), before);
}

TEST_F(CliTest, DescribesAndChecksTheDemo) {
  CliRun described = Cli("describe " + Demo(), scratch_);
  EXPECT_EQ(described.exit_code, 0) << described.err;
  EXPECT_NE(described.out.find("Windows 10 Pro 10.0 build 19045"), std::string::npos)
      << described.out;
  EXPECT_NE(described.out.find("HKU\\S-1-5-21-"), std::string::npos);
  EXPECT_NE(described.out.find("clean (sequence"), std::string::npos);

  CliRun checked = Cli("check " + Demo(), scratch_);
  EXPECT_EQ(checked.exit_code, 0) << checked.out;
  EXPECT_EQ(checked.out.find("problems"), std::string::npos) << checked.out;
}

TEST_F(CliTest, ListsKeysByTheirWindowsNames) {
  CliRun version = Cli(
      "list " + Demo() + " 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion'",
      scratch_);
  ASSERT_EQ(version.exit_code, 0) << version.err;
  EXPECT_NE(version.out.find("REG_DWORD      0x0000000a (10)"), std::string::npos) << version.out;
  EXPECT_NE(version.out.find("\"19045\""), std::string::npos);
  EXPECT_NE(version.out.find("ProfileList\\"), std::string::npos);

  // HKCU is the demo user's hive; CurrentControlSet is the set Select\Current names.
  CliRun user = Cli("list " + Demo() + " 'HKCU\\Environment'", scratch_);
  EXPECT_EQ(user.exit_code, 0) << user.err;
  EXPECT_NE(user.out.find("REG_EXPAND_SZ"), std::string::npos) << user.out;
  CliRun control = Cli(
      "list " + Demo() + " 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage'", scratch_);
  EXPECT_EQ(control.exit_code, 0) << control.err;
  EXPECT_NE(control.out.find("\"1252\""), std::string::npos) << control.out;

  // The user's classes live in their own hive (UsrClass.dat) but list as HKCU\Software\Classes.
  CliRun recursive = Cli("list -r " + Demo() + " 'HKCU\\Software\\Classes'", scratch_);
  EXPECT_EQ(recursive.exit_code, 0) << recursive.err;
  EXPECT_NE(
      recursive.out.find("HKCU\\Software\\Classes\\ContosoNotes.Note\\shell\\open\\command\n"),
      std::string::npos)
      << recursive.out;
}

// Each case lists one key and names what must (and, where given, must not) appear: the 32-bit view
// shows SOFTWARE\WOW6432Node and the 32-bit classes, the 64-bit view (the default) the real keys;
// HKEY_CLASSES_ROOT merges the user's classes over the machine's.
TEST_F(CliTest, ListsKeysInTheChosenView) {
  const std::string uninstall = " 'HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall'";
  const struct {
    std::string args;
    std::string shows;
    std::string hides;
  } kCases[] = {
      {"--view 32" + uninstall, "    Notepad++\\\n", "7-Zip"},
      {"--view 64" + uninstall, "    7-Zip\\\n", "Notepad++"},
      {uninstall, "    7-Zip\\\n", "Notepad++"},
      {"--view 32 'HKLM\\SOFTWARE\\Fabrikam\\Sync'", "\"3.4.0.112\"", ""},
      {"--view 32 'HKCR\\CLSID'", "{B41DB5C3-7F2E-4A61-9C0D-58E3A7F21B64}", "{20D04FE0"},
      {"'HKEY_CLASSES_ROOT\\CLSID'", "{20D04FE0-3AEA-1069-A2D8-08002B30309D}", "{B41DB5C3"},
      {"HKCR", "    .cnote\\\n", ""},  // the user's classes
      {"HKCR", "    .7z\\\n", ""},     // the machine's classes
      {"'HKCR\\ContosoNotes.Note\\shell\\open\\command'", "ContosoNotes.exe\" \"%1\"", ""},
      {"'HKCR\\txtfile\\shell\\open\\command'", "NOTEPAD.EXE %1", ""},
  };
  for (const auto& c : kCases) {
    CliRun run = Cli("list " + Demo() + " " + c.args, scratch_);
    EXPECT_EQ(run.exit_code, 0) << c.args << ": " << run.err;
    EXPECT_NE(run.out.find(c.shows), std::string::npos) << c.args << ":\n" << run.out;
    if (!c.hides.empty()) {
      EXPECT_EQ(run.out.find(c.hides), std::string::npos) << c.args << ":\n" << run.out;
    }
  }
}

TEST_F(CliTest, SummaryNamesTheUserAndTheStateOfEveryHive) {
  CliRun run = Cli("summary " + Demo(), scratch_);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string sid = "S-1-5-21-2946287371-1457302388-3817162951-1001";
  for (const std::string& expected :
       {std::string("Windows 10 Pro"), std::string("10.0, build 19045, 22H2"),
        std::string("two registry views"), std::string("ANSI code page: 1252"),
        std::string("CurrentControlSet is ControlSet001"), "current user:   demo  " + sid}) {
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << " in\n" << run.out;
  }
  for (const std::string& mount : {std::string("HKLM\\SOFTWARE"), std::string("HKLM\\SYSTEM"),
                                   "HKU\\" + sid, "HKU\\" + sid + "_Classes"}) {
    const size_t line = run.out.find("\n  " + mount + " ");
    ASSERT_NE(line, std::string::npos) << mount << " in\n" << run.out;
    const std::string text = run.out.substr(line, run.out.find('\n', line + 1) - line);
    EXPECT_NE(text.find(" writable "), std::string::npos) << text;
  }
  EXPECT_EQ(run.out.find("read-only"), std::string::npos) << run.out;
}

// A hive replacement scheduled by an earlier run waits while the installation is opened
// read-only, and is carried out (and reported) when it is opened writable.
TEST_F(CliTest, SummaryReportsScheduledHiveReplacements) {
  const auto root = scratch_ / "c";
  ASSERT_EQ(Cli("make-demo " + Quote(root.string()), scratch_).exit_code, 0);
  const auto hive = root / "Windows/System32/config/DEFAULT";
  const auto replacement = scratch_ / "DEFAULT.new";
  const auto kept = scratch_ / "DEFAULT.old";
  const std::string original = hm::testing::ReadFileBytes(hive);
  hm::testing::WriteFileBytes(replacement, original + std::string(4096, '\0'));
  std::filesystem::create_directories(root / "ProgramData/Corvexa");
  hm::testing::WriteFileBytes(
      root / "ProgramData/Corvexa/pending-hive-replacements.txt",
      "HKU\\.DEFAULT\t" + replacement.string() + "\t" + kept.string() + "\r\n");

  CliRun waiting = Cli("summary --read-only " + Quote(root.string()), scratch_);
  EXPECT_EQ(waiting.exit_code, 0) << waiting.err;
  EXPECT_NE(waiting.out.find("notes:\n  Hive replacements are waiting"), std::string::npos)
      << waiting.out;
  EXPECT_NE(waiting.out.find("read-only   Windows\\System32\\config\\DEFAULT\n"), std::string::npos)
      << waiting.out;
  EXPECT_EQ(hm::testing::ReadFileBytes(hive), original);

  CliRun done = Cli("summary " + Quote(root.string()), scratch_);
  EXPECT_EQ(done.exit_code, 0) << done.err;
  EXPECT_NE(done.out.find("HKU\\.DEFAULT was replaced by"), std::string::npos) << done.out;
  EXPECT_EQ(hm::testing::ReadFileBytes(kept), original);
  EXPECT_EQ(hm::testing::ReadFileBytes(hive).size(), original.size() + 4096);
}

// A hive that cannot be read is reported where it belongs, and the exit code says the answer is
// incomplete; the rest is still shown.
TEST_F(CliTest, UnreadableHiveIsReportedNotSkipped) {
  const auto root = scratch_ / "c";
  ASSERT_EQ(Cli("make-demo " + Quote(root.string()), scratch_).exit_code, 0);
  hm::testing::WriteFileBytes(root / "Windows/System32/config/SAM", std::string(8192, '\0'));

  CliRun summary = Cli("summary " + Quote(root.string()), scratch_);
  EXPECT_EQ(summary.exit_code, 1) << summary.err;
  EXPECT_NE(summary.out.find("unreadable  Windows\\System32\\config\\SAM\n"), std::string::npos)
      << summary.out;
  EXPECT_NE(summary.out.find("not in a registry file format"), std::string::npos) << summary.out;

  CliRun listed = Cli("list -r " + Quote(root.string()) + " HKLM", scratch_);
  EXPECT_EQ(listed.exit_code, 1) << listed.err;
  EXPECT_NE(listed.out.find("HKLM\\SAM\n    (key unreadable: The configuration registry database "
                            "is corrupt.)"),
            std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\n"),
            std::string::npos);
}

TEST_F(CliTest, DamagedHiveFailsTheCheck) {
  std::string hive =
      hm::testing::UnpackSharedHive("corrupted_system_hive", scratch_.path()).string();
  ASSERT_FALSE(hive.empty());
  CliRun checked = Cli("check " + Quote(hive), scratch_);
  EXPECT_EQ(checked.exit_code, 1) << checked.out << checked.err;
  EXPECT_NE(checked.out.find("  0x"), std::string::npos) << checked.out;
}

// Wrong input gets exit code 2 and exactly one line on stderr naming the problem.
TEST_F(CliTest, BadInputGetsOneLineAndExitCodeTwo) {
  hm::testing::WriteFileBytes(scratch_ / "garbage", std::string(8192, 'x'));
  const std::string garbage = Quote((scratch_ / "garbage").string());
  const std::string empty_folder = Quote(scratch_.path().string());
  const struct {
    std::string args;
    std::string says;
  } kCases[] = {
      {"describe " + garbage, "signature"},
      {"check " + garbage, "signature"},
      {"list " + garbage, "signature"},
      {"describe /no/such/place", "does not exist"},
      {"check " + empty_folder, "is not a Windows installation"},
      {"list " + Demo() + " 'HKLM\\SOFTWARE\\Nope'",
       "hivemend-cli: HKLM\\SOFTWARE\\Nope: The system cannot find the file specified.\n"},
      {"list --view 32 " + Demo() + " 'HKCU\\Software\\Nope'",
       "HKCU\\Software\\Nope: The system cannot find the file specified."},
      {"list " + Demo() + " 'HKLM\\SOFTWARE\\Fabrikam\\Sync'",  // only in the 32-bit view
       "HKLM\\SOFTWARE\\Fabrikam\\Sync: The system cannot find the file specified."},
      {"list " + Demo() + " 'HKLM\\HARDWARE'", "HKLM\\HARDWARE: The system cannot find the file"},
      {"list " + Demo() + " 'HKLM\\\\SOFTWARE'", "The specified path is invalid."},
      {"list " + Demo() + " 'HKXX\\Software'", "unknown root key in HKXX\\Software"},
      {"list --view 48 " + Demo() + " HKLM", "--view needs 32 or 64"},
      {"list --user nobody " + Demo() + " HKCU", "user 'nobody' has no profile"},
      {"summary --user nobody " + Demo(), "user 'nobody' has no profile"},
      {"summary " + garbage, "summary needs an installation folder"},
      {"list --view 32 " + garbage, "apply to an installation folder"},
      {"make-demo " + Demo(), "not an empty folder"},
      {"make-install " + Quote((scratch_ / "big").string()), "needs --keys"},
      {"frobnicate", "unknown command"},
      {"describe", "wrong number of arguments"},
      {"list --bogus x", "unknown option --bogus"},
  };
  for (const auto& c : kCases) {
    CliRun run = Cli(c.args, scratch_);
    EXPECT_EQ(run.exit_code, 2) << c.args;
    EXPECT_EQ(run.err.rfind("hivemend-cli: ", 0), 0u) << c.args << ": " << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args << ": " << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << c.args << ": " << run.err;
  }
}

TEST_F(CliTest, HelpPrintsUsage) {
  CliRun run = Cli("--help", scratch_);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("Usage: hivemend-cli"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(CliTest, ProbeJudgesReferencesAsAScanDoes) {
  CliRun run =
      Cli("probe " + Demo() +
              " 'rundll32 C:\\gone.dll,Entry' '%SystemRoot%\\System32\\cmd.exe /c' "
              "msvcp140.dll --drive 'E:removable=" +
              scratch_.path().string() + "' 'E:\\stderr.txt'",  // exists, on a removable drive
          scratch_);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("rundll32 C:\\gone.dll,Entry\n  expanded:          rundll32"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  ProbePath:         file C:\\Windows\\System32\\cmd.exe\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  found on path:     c:\\windows\\system32\\msvcp140.dll\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("program exists:    yes", run.out.find("E:\\stderr.txt")),
            std::string::npos);

  CliRun bad = Cli("probe " + Demo() + " --drive 'C=/tmp' x", scratch_);
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("C: is the installation's root folder"), std::string::npos) << bad.err;
}

}  // namespace

namespace {

// Every file of the installation's registry: the hives and their logs.
std::map<std::string, std::string> HiveBytes(const std::filesystem::path& root) {
  std::map<std::string, std::string> bytes;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file()) continue;
    if (entry.path().parent_path().filename() == "config" || name.starts_with("NTUSER.DAT") ||
        name.starts_with("UsrClass.dat")) {
      bytes[entry.path().string()] = hm::testing::ReadFileBytes(entry.path());
    }
  }
  return bytes;
}

// Registers a class whose in-process server file is missing, in the 64-bit view: a finding the
// class checks make. The file name holds a quote and a letter outside ASCII.
void PlantMissingServer(const std::filesystem::path& root) {
  auto installation = hm::install::Installation::Open(root);
  ASSERT_TRUE(installation.ok());
  auto registry = hm::reg::HostRegistry::Open(std::move(installation).value(), {});
  ASSERT_TRUE(registry.ok());
  hm::reg::HKEY key = 0;
  ASSERT_EQ((*registry)->CreateKey(
                hm::reg::HKEY_LOCAL_MACHINE,
                u"SOFTWARE\\Classes\\CLSID\\{0D5E6F70-1A2B-4C3D-8E9F-A0B1C2D3E4F5}\\InprocServer32",
                hm::reg::KEY_ALL_ACCESS | hm::reg::KEY_WOW64_64KEY, &key),
            0);
  const std::u16string data = u"C:\\Gone\\Caf\u00e9 \"x\".dll";
  std::string bytes;
  for (char16_t c : data + u'\0') {
    bytes += static_cast<char>(c & 0xff);
    bytes += static_cast<char>(c >> 8);
  }
  ASSERT_EQ((*registry)->SetValue(key, u"", hm::reg::REG_SZ, bytes), 0);
  (*registry)->CloseKey(key);
  ASSERT_TRUE((*registry)->Commit().ok());
}

TEST_F(CliTest, ScanPrintsEveryGroupAndTheTotalsAndWritesNothing) {
  const auto before = HiveBytes(demo_->path());
  ASSERT_GE(before.size(), 7u);  // the seven hives at least
  CliRun run = Cli("scan " + Demo(), scratch_);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");  // no progress line when stderr is not a terminal
  size_t at = 0;
  for (const char* heading :
       {"Operating System Issues Group\n", "COM and ActiveX Issues Group\n",
        "Windows User Profile Issues Group\n", "Software and File Issues Group\n",
        "Driver Related Issues Group\n", "Findings by category:\n", "  23  History Lists ",
        "Total findings: ", "Registry health: "}) {
    at = run.out.find(heading, at);
    ASSERT_NE(at, std::string::npos) << heading << " in order in\n" << run.out;
  }
  EXPECT_EQ(run.out.find("stopped"), std::string::npos) << run.out;
  EXPECT_EQ(HiveBytes(demo_->path()), before);
}

// The JSON form parses, and says the same as the text about what was scanned.
TEST_F(CliTest, ScanJsonParsesAndCountsTheChosenCategories) {
  const std::string script = scratch_.path() / "check.py";
  hm::testing::WriteFileBytes(
      script,
      "import json, sys\n"
      "d = json.load(sys.stdin)\n"
      "assert isinstance(d['findings'], list)\n"
      "assert [c['category'] for c in d['counts']] == [1, 3, 10], d['counts']\n"
      "assert d['total'] == len(d['findings']) and d['stopped'] is False and d['complete']\n"
      "print('ok')\n");
  std::string out;
  const int code =
      RunCommand(std::string("'") + HM_CLI_PATH + "' scan --json --categories " +
                     "'deep scan,1, VIRTUALDEVICES,3' " + Demo() + " | python3 " + Quote(script),
                 &out);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(out, "ok\n");
}

// Hive replacements left waiting by an earlier run stay waiting: the scan opens the registry
// read-only then, and says so.
TEST_F(CliTest, ScanLeavesWaitingHiveReplacementsAlone) {
  const auto root = scratch_ / "c";
  ASSERT_EQ(Cli("make-demo " + Quote(root.string()), scratch_).exit_code, 0);
  PlantMissingServer(root);
  const auto replacement = scratch_ / "DEFAULT.new";
  const auto journal = root / "ProgramData/Corvexa/pending-hive-replacements.txt";
  hm::testing::WriteFileBytes(replacement,
                              hm::testing::ReadFileBytes(root / "Windows/System32/config/DEFAULT"));
  std::filesystem::create_directories(journal.parent_path());
  hm::testing::WriteFileBytes(journal, "HKU\\.DEFAULT\t" + replacement.string() + "\t" +
                                           (scratch_ / "DEFAULT.old").string() + "\r\n");
  const auto before = HiveBytes(root);

  CliRun run = Cli("scan " + Quote(root.string()), scratch_);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  // Every finding about a key needs a key that can be changed; on read-only hives they are all
  // dropped. Only the demo's broken shortcut files, which are no keys, stay.
  size_t shortcuts = 0;
  for (size_t at = run.out.find("Invalid Shortcut: "); at != std::string::npos;
       at = run.out.find("Invalid Shortcut: ", at + 1)) {
    ++shortcuts;
  }
  EXPECT_GT(shortcuts, 0u) << run.out;
  EXPECT_NE(run.out.find("\nTotal findings: " + std::to_string(shortcuts) + "\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("were dropped because their hive is read-only"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Note: Hive replacements are waiting"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Note: the hive HKLM\\SOFTWARE is read-only"), std::string::npos)
      << run.out;
  EXPECT_EQ(HiveBytes(root), before);
  EXPECT_TRUE(std::filesystem::exists(journal));
  EXPECT_TRUE(std::filesystem::exists(replacement));
}

TEST_F(CliTest, ScanRefusesBadCategoriesWithOneLine) {
  const struct {
    std::string categories;
    std::string says;
  } kCases[] = {
      {"24", "unknown scan category '24'"},
      {"-1", "unknown scan category '-1'"},
      {"0,,1", "unknown scan category ''"},
      {"Deep Scan,Registry", "unknown scan category 'Registry'"},
      {"", "--categories needs a list"},
  };
  for (const auto& c : kCases) {
    CliRun run = Cli("scan --categories " + Quote(c.categories) + " " + Demo(), scratch_);
    EXPECT_EQ(run.exit_code, 2) << c.categories;
    EXPECT_EQ(run.out, "") << c.categories;
    EXPECT_EQ(run.err.rfind("hivemend-cli: ", 0), 0u) << c.categories;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.categories << ": " << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
  CliRun folder = Cli("scan " + Quote((scratch_ / "nothing").string()), scratch_);
  EXPECT_EQ(folder.exit_code, 2);
  EXPECT_NE(folder.err.find("scan needs an installation folder"), std::string::npos) << folder.err;
}

}  // namespace

namespace {

// A finding shows its title, key and description in its group and category, and the JSON form
// carries the code-page text as escapes.
TEST_F(CliTest, ScanShowsAPlantedFindingAsTextAndJson) {
  const auto root = scratch_ / "c";
  ASSERT_EQ(Cli("make-demo " + Quote(root.string()), scratch_).exit_code, 0);
  PlantMissingServer(root);
  const std::string key =
      "HKLM\\Software\\Classes\\CLSID\\{0D5E6F70-1A2B-4C3D-8E9F-A0B1C2D3E4F5}\\InprocServer32";

  CliRun text = Cli("scan --categories 3 " + Quote(root.string()), scratch_);
  ASSERT_EQ(text.exit_code, 0) << text.err;
  const size_t group = text.out.find("COM and ActiveX Issues Group\n  Deep Scan\n    ");
  ASSERT_NE(group, std::string::npos) << text.out;
  const size_t line = text.out.find(": " + key + "\n      ", group);
  EXPECT_NE(line, std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Caf\u00e9 \"x\".dll", line), std::string::npos) << text.out;

  const std::string script = scratch_.path() / "check.py";
  hm::testing::WriteFileBytes(
      script,
      "import json, sys\n"
      "raw = sys.stdin.read()\n"
      "assert raw.isascii()\n"
      "f = [x for x in json.loads(raw)['findings'] if '{0D5E6F70-' in x['key']]\n"
      "assert len(f) == 1, f\n"
      "assert f[0]['data'] == 'C:\\\\Gone\\\\Caf\\u00e9 \"x\".dll', f[0]\n"
      "assert f[0]['root'] == 'HKLM' and f[0]['view'] == 64 and f[0]['category'] == 3, f[0]\n"
      "assert f[0]['key'].endswith('\\\\InprocServer32') and f[0]['value'] is None, f[0]\n"
      "assert f[0]['group_name'] == 'COM and ActiveX Issues' and f[0]['title'], f[0]\n"
      "print('ok')\n");
  std::string out;
  EXPECT_EQ(RunCommand(std::string("'") + HM_CLI_PATH + "' scan --json --categories 3 " +
                           Quote(root.string()) + " | python3 " + Quote(script),
                       &out),
            0)
      << out;
  EXPECT_EQ(out, "ok\n");

  // The user's ignore file in the data folder keeps the finding out; the others stay.
  const auto data = root / "Users/demo/AppData/Local/Corvexa";
  std::filesystem::create_directories(data);
  hm::testing::WriteFileBytes(data / "ignore.txt", "[" + key + "]\r\n");
  CliRun ignored = Cli("scan --categories 3 " + Quote(root.string()), scratch_);
  ASSERT_EQ(ignored.exit_code, 0) << ignored.err;
  EXPECT_EQ(ignored.out.find(key), std::string::npos) << ignored.out;
  EXPECT_NE(ignored.out.find("  Deep Scan\n    "), std::string::npos) << ignored.out;
}

}  // namespace
