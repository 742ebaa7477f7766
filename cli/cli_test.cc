// Runs the built hivemend-cli as a user would: on the demo installation, on a damaged hive and on
// wrong input, checking exit codes and what it prints.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/testing.h"

namespace {

using hm::testing::RunCommand;
using hm::testing::TempDir;

struct CliRun {
  int exit_code;
  std::string out;
  std::string err;
};

// Arguments are passed through the shell in single quotes (key texts hold backslashes, spaces).
CliRun Cli(const std::string& args, const TempDir& scratch) {
  const std::string err_file = (scratch / "stderr.txt").string();
  CliRun run;
  run.exit_code =
      RunCommand(std::string("'") + HM_CLI_PATH + "' " + args + " 2>'" + err_file + "'", &run.out);
  run.err = hm::testing::ReadFileBytes(err_file);
  return run;
}

std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

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

  CliRun recursive = Cli("list -r " + Demo() + " 'HKCU\\Software\\Classes'", scratch_);
  EXPECT_EQ(recursive.exit_code, 0) << recursive.err;
  EXPECT_NE(recursive.out.find("_Classes\\"), std::string::npos) << recursive.out;
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
      {"list " + Demo() + " 'HKLM\\SOFTWARE\\No Such Key'", "no key HKLM\\SOFTWARE\\No Such Key"},
      {"list " + Demo() + " 'HKLM\\HARDWARE'", "no hive is mounted at HKLM\\HARDWARE"},
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
