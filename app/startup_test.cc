// Starts of the program as separate processes (the probe program starts as the desktop program
// does and prints what it would show).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/app_test_support.h"
#include "app/date_text.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;
using hm::testing::ReadFileBytes;
using hm::testing::TempDir;
using hm::testing::WriteFileBytes;

// A probe that keeps running (the one instance) until its standard input is closed.
struct RunningProbe {
  pid_t pid = -1;
  int stdin_fd = -1;
  fs::path output;
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testing::BuildTestInstallation(dir_);
    for (const char* folder : {"run", "config", "data"}) fs::create_directories(dir_ / folder);
    environment_ = {"XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                    "XDG_CONFIG_HOME=" + (dir_ / "config").string(),
                    "XDG_DATA_HOME=" + (dir_ / "data").string()};
  }

  // Runs the probe to its end (standard input empty); returns the exit code and fills *output
  // with what it printed (standard error included).
  int Run(const std::string& args, std::string* output) {
    std::string command = "env";
    for (const std::string& variable : environment_) command += " '" + variable + "'";
    command += std::string(" '") + HM_STARTUP_PROBE + "' " + args + " </dev/null 2>&1";
    output->clear();
    return hm::testing::RunCommand(command, output);
  }

  RunningProbe Start(const std::vector<std::string>& args) {
    RunningProbe probe;
    probe.output = dir_ / ("probe-" + std::to_string(++started_) + ".out");
    int input[2];
    EXPECT_EQ(::pipe(input), 0);
    std::vector<std::string> argv_text = {HM_STARTUP_PROBE};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    probe.pid = ::fork();
    if (probe.pid == 0) {
      ::dup2(input[0], STDIN_FILENO);
      const int out = ::open(probe.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(out, STDERR_FILENO);
      ::close(input[1]);
      for (const std::string& variable : environment_) ::putenv(strdup(variable.c_str()));
      std::vector<char*> argv;
      for (std::string& arg : argv_text) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(HM_STARTUP_PROBE, argv.data());
      ::_exit(127);
    }
    ::close(input[0]);
    probe.stdin_fd = input[1];
    return probe;
  }

  // Waits until the probe has printed `text` (a failure after a generous time, so that a hang
  // does not stall the test run).
  static bool WaitForOutput(const RunningProbe& probe, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (ReadFileBytes(probe.output).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "the probe never printed \"" << text << "\"; it printed:\n"
                  << ReadFileBytes(probe.output);
    return false;
  }

  // Ends the probe by closing its standard input; returns its exit code.
  static int Stop(RunningProbe& probe) {
    ::close(probe.stdin_fd);
    int status = 0;
    ::waitpid(probe.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path SettingsFile() const { return root_ / "Users/ann/AppData/Local/Corvexa/hvmend.ini"; }

  TempDir dir_;
  fs::path root_;
  std::vector<std::string> environment_;
  int started_ = 0;
};

TEST_F(StartupTest, ASecondStartHandsOverToTheFirstAndEnds) {
  RunningProbe first = Start({"--root", root_.string()});
  ASSERT_TRUE(WaitForOutput(first, "listening\n"));
  EXPECT_NE(ReadFileBytes(first.output).find("run splash v. "), std::string::npos);

  const std::string root = "--root '" + root_.string() + "'";
  std::string output;
  EXPECT_EQ(Run(root, &output), 0);
  EXPECT_NE(output.find("end 0\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("run "), std::string::npos) << output;
  ASSERT_TRUE(WaitForOutput(first, "listening\nannounce\nforward\nrestore 0\nrestore 2\n"));

  // "monitor" only announces itself; "autoscan" also asks for the window.
  EXPECT_EQ(Run(root + " monitor", &output), 0);
  EXPECT_EQ(Run(root + " autoscan", &output), 0);
  EXPECT_TRUE(WaitForOutput(first, "restore 2\nannounce\nannounce\nrestore 0\n"));
  EXPECT_EQ(Stop(first), 0);

  // With the first gone, the next start is the one instance again.
  EXPECT_EQ(Run(root, &output), 0);
  EXPECT_NE(output.find("listening\n"), std::string::npos) << output;
}

TEST_F(StartupTest, AKilledInstanceDoesNotBlockTheNextStart) {
  RunningProbe first = Start({"--root", root_.string()});
  ASSERT_TRUE(WaitForOutput(first, "listening\n"));
  ::kill(first.pid, SIGKILL);
  Stop(first);

  std::string output;
  EXPECT_EQ(Run("--root '" + root_.string() + "'", &output), 0);
  EXPECT_NE(output.find("run splash"), std::string::npos) << output;
  EXPECT_NE(output.find("listening\n"), std::string::npos) << output;
}

TEST_F(StartupTest, AutoscanRunsOnlyWhenDue) {
  const std::string args = "--root '" + root_.string() + "' autoscan /forceupdate";
  std::string output;
  EXPECT_EQ(Run(args, &output), 0);
  EXPECT_NE(output.find("end 0\n"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(SettingsFile()));  // not due: nothing is written

  WriteFileBytes(SettingsFile(), "[settings]\r\nAutoRunAction=1\r\nAutoRunFreq=1\r\n");
  EXPECT_EQ(Run(args, &output), 0);
  EXPECT_NE(output.find("run hidden\nmode 1\nforceupdate 1\n"), std::string::npos) << output;
  const std::string next = FormatDateText(AddDays(LocalToday(), 7));
  EXPECT_NE(ReadFileBytes(SettingsFile()).find("autorun=" + next + "\r\n"), std::string::npos);

  // The date is in the future now: the next automatic start ends at once.
  EXPECT_EQ(Run(args, &output), 0);
  EXPECT_NE(output.find("end 0\n"), std::string::npos) << output;
}

TEST_F(StartupTest, TheInstallationIsRememberedAndTheDemoBuiltOnFirstUse) {
  std::string output;
  EXPECT_EQ(Run("--root '" + root_.string() + "' --user ann", &output), 0);
  const std::string chosen = "installation " + root_.string() + " user " + testing::kAnnSid;
  EXPECT_NE(output.find(chosen), std::string::npos) << output;
  EXPECT_EQ(Run("", &output), 0);
  EXPECT_NE(output.find(chosen), std::string::npos) << output;

  // A folder that is no installation is refused and not remembered.
  EXPECT_EQ(Run("--root '" + (dir_ / "nothing").string() + "'", &output), 2);
  EXPECT_NE(output.find("hivemend: "), std::string::npos) << output;
  EXPECT_EQ(Run("", &output), 0);
  EXPECT_NE(output.find(chosen), std::string::npos) << output;

  // A remembered installation that went away is named, with the way out.
  fs::rename(root_, dir_ / "moved");
  EXPECT_EQ(Run("", &output), 2);
  EXPECT_NE(output.find("the installation of the last run cannot be opened"), std::string::npos)
      << output;

  EXPECT_EQ(Run("--demo", &output), 0);
  EXPECT_NE(output.find("installation " + (dir_ / "data/hivemend/demo").string()),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("run splash"), std::string::npos) << output;
}

TEST_F(StartupTest, BadOptionsAndHelp) {
  std::string output;
  EXPECT_EQ(Run("--user", &output), 2);
  EXPECT_EQ(output, "hivemend: --user needs a user name or SID: The parameter is incorrect.\n");
  EXPECT_EQ(Run("--root '" + root_.string() + "' --user nobody", &output), 2);
  EXPECT_NE(output.find("user 'nobody' has no profile in this installation"), std::string::npos);
  EXPECT_EQ(Run("--help", &output), 0);
  EXPECT_NE(output.find("Usage: hivemend"), std::string::npos);
}

}  // namespace
}  // namespace hm::app
