#include "app/command_line.h"

#include <gtest/gtest.h>

namespace hm::app {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLineTest, TheFirstArgumentChoosesTheModeExactly) {
  const std::pair<Args, StartMode> kCases[] = {
      {{}, StartMode::kInteractive},
      {{"autoscan"}, StartMode::kAutoScan},
      {{"autoscan", "/forceupdate"}, StartMode::kAutoScan},
      {{"monitor"}, StartMode::kMonitor},
      {{"startscan", "x"}, StartMode::kStartScan},
      {{"AutoScan"}, StartMode::kInteractive},
      {{"-autoscan"}, StartMode::kInteractive},
      {{"x", "autoscan"}, StartMode::kInteractive},
  };
  for (const auto& [args, mode] : kCases) {
    EXPECT_EQ(ModeOf(args), mode) << (args.empty() ? "" : args[0]);
  }
}

TEST(CommandLineTest, SwitchTest) {
  const std::pair<Args, bool> kCases[] = {
      {{"/forceupdate"}, true},
      {{"autoscan", "-forceupdate"}, true},
      {{"-ForceUpdateNow"}, true},  // the name followed by more letters matches too
      {{"--forceupdate"}, false},
      {{"forceupdate"}, false},
      {{"/forceupdat"}, false},
      {{"/"}, false},
      {{""}, false},
  };
  for (const auto& [args, found] : kCases) {
    EXPECT_EQ(FindCmdLineSwitch(args, kForceUpdateSwitch), found) << args.back();
  }
}

TEST(CommandLineTest, InstallationOptionsAreTakenOutAnywhere) {
  Result<ProgramOptions> options = ParseProgramOptions(
      {"--root", "/mnt/c", "autoscan", "--user=ann", "/forceupdate", "--", "--demo"});
  ASSERT_TRUE(options.ok()) << options.status().ToString();
  EXPECT_EQ(options->root, std::filesystem::path("/mnt/c"));
  EXPECT_EQ(options->user, "ann");
  EXPECT_FALSE(options->demo);
  EXPECT_EQ(options->args, (Args{"autoscan", "/forceupdate", "--demo"}));
}

TEST(CommandLineTest, BadOptionsAreExplained) {
  const std::pair<Args, const char*> kCases[] = {
      {{"--root"}, "--root needs the folder of an installation"},
      {{"--root="}, "--root needs the folder of an installation"},
      {{"--user"}, "--user needs a user name or SID"},
      {{"--demo", "--root", "/x"}, "--root and --demo exclude each other"},
  };
  for (const auto& [args, text] : kCases) {
    Result<ProgramOptions> options = ParseProgramOptions(args);
    ASSERT_FALSE(options.ok());
    EXPECT_EQ(options.status().context(), text);
    EXPECT_EQ(options.status().code(), kErrorInvalidParameter);
  }
}

}  // namespace
}  // namespace hm::app
