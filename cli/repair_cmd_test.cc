// The repair and undo commands end to end: a repair of everything a scan finds, undone by
// restoring every snapshot, gives back every hive as reglookup lists it; also on the real hives
// of the shared data, and when the repair run is killed at any moment.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "cli/cli_test_support.h"
#include "tests/support/testing.h"

namespace hm::cli {
namespace {

namespace fs = std::filesystem;
using testing::Cli;
using testing::CliRun;
using testing::Quote;
using hm::testing::TempDir;

bool IsHive(const fs::path& file) {
  return hm::testing::ReadFileBytes(file).rfind("regf", 0) == 0;
}

// Every hive of the installation as reglookup lists it: keys, values, types and data, sorted
// (a restored value may come back at another place in its key's list), without the keys' times.
std::map<std::string, std::string> Listings(const fs::path& root) {
  std::map<std::string, std::string> listings;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.path().extension() != "" || !IsHive(entry.path())) {
      continue;
    }
    std::string listing;
    EXPECT_EQ(hm::testing::RunCommand("reglookup -H " + Quote(entry.path().string()) +
                                          " 2>/dev/null | sed 's/,[^,]*$//' | LC_ALL=C sort",
                                      &listing),
              0);
    listings[fs::relative(entry.path(), root).string()] = listing;
  }
  return listings;
}

class RepairCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CliRun made = Cli("make-demo " + Quote(Root().string()), scratch_);
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
  fs::path Root() const { return dir_.path() / "c"; }
  std::string Demo() const { return Quote(Root().string()); }

  // Repairs everything, restores everything, and expects the hives as they were.
  void RoundTrip() {
    const std::map<std::string, std::string> before = Listings(Root());
    CliRun repaired = Cli("repair " + Demo(), scratch_);
    EXPECT_EQ(repaired.exit_code, 0) << repaired.out << repaired.err;
    EXPECT_NE(repaired.out.find("Repaired "), std::string::npos);
    EXPECT_NE(Listings(Root()), before);
    CliRun restored = Cli("undo restore " + Demo() + " --all", scratch_);
    EXPECT_EQ(restored.exit_code, 0) << restored.out << restored.err;
    EXPECT_EQ(restored.out, "Restore completed.\n");
    EXPECT_EQ(Listings(Root()), before);
    CliRun listed = Cli("undo list " + Demo(), scratch_);
    EXPECT_NE(listed.out.find("No snapshots"), std::string::npos) << listed.out;
  }

  TempDir dir_;
  TempDir scratch_;
};

TEST_F(RepairCommandTest, RepairOfTheDemoIsUndoneExactly) {
  CliRun dry = Cli("repair " + Demo() + " --dry-run", scratch_);
  EXPECT_EQ(dry.exit_code, 0) << dry.err;
  EXPECT_NE(dry.out.find("would delete key HKLM\\Software\\Classes\\"), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("nothing was changed"), std::string::npos);
  EXPECT_EQ(Cli("undo list " + Demo(), scratch_).out.find("item"), std::string::npos);
  RoundTrip();
}

TEST_F(RepairCommandTest, RepairOfRealHivesIsUndoneExactly) {
  // The demo's user and system hives replaced by hives of real Windows machines.
  const fs::path user = Root() / "Users" / "demo";
  const fs::path system = Root() / "Windows" / "System32" / "config";
  for (const auto& [name, folder] :
       {std::pair{"NTUSER.DAT", user}, std::pair{"SYSTEM", system},
        std::pair{"UsrClass.dat", user / "AppData" / "Local" / "Microsoft" / "Windows"}}) {
    const fs::path unpacked = hm::testing::UnpackSharedHive(name, scratch_.path());
    ASSERT_FALSE(unpacked.empty());
    fs::copy_file(unpacked, folder / name, fs::copy_options::overwrite_existing);
  }
  RoundTrip();
}

// The hives are written once, at the end of a run, and each backup before its change: whenever
// the run is killed, restoring what the undo store holds gives back the hives as they were.
TEST_F(RepairCommandTest, AKilledRepairRunLeavesNothingThatCannotBeUndone) {
  const std::map<std::string, std::string> before = Listings(Root());
  const fs::path pristine = dir_.path() / "pristine";
  fs::copy(Root(), pristine, fs::copy_options::recursive);
  for (const char* delay : {"0.02", "0.08", "0.15", "0.3"}) {
    fs::remove_all(Root());
    fs::copy(pristine, Root(), fs::copy_options::recursive);
    std::string ignored;
    hm::testing::RunCommand(std::string("'") + HM_CLI_PATH + "' repair " + Demo() +
                                " >/dev/null 2>&1 & pid=$!; sleep " + delay +
                                "; kill -9 $pid 2>/dev/null; wait $pid",
                            &ignored);
    CliRun restored = Cli("undo restore " + Demo() + " --all", scratch_);
    EXPECT_EQ(restored.exit_code, 0) << restored.out << restored.err;
    EXPECT_EQ(Listings(Root()), before) << "killed after " << delay << " s";
  }
}

}  // namespace
}  // namespace hm::cli
