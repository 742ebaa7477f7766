// hivemend-cli show-key on the demo installation: what the registry view would open, one line,
// or "Registry key does not exist." with exit code 1.
#include <gtest/gtest.h>

#include <string>

#include "cli/cli_test_support.h"
#include "tests/support/testing.h"

namespace hm::cli {
namespace {

using testing::Cli;
using testing::CliRun;
using testing::Quote;

TEST(ShowKeyCommandTest, PrintsWhatTheJumpReceives) {
  hm::testing::TempDir scratch;
  const std::string root = (scratch.path() / "c").string();
  ASSERT_EQ(Cli("make-demo " + Quote(root), scratch).exit_code, 0);
  struct Case {
    const char* text;
    int exit_code;
    const char* out;
  };
  const Case cases[] = {
      {"hklm\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\\\:ProgramFilesDir", 0,
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion (64-bit view), value "
       "ProgramFilesDir\n"},
      // Only 32-bit programs have this one registered.
      {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\notepad++.exe", 0,
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
       "Paths\\notepad++.exe (32-bit view)\n"},
      {"HKLM\\SOFTWARE\\No Such Vendor", 1, "Registry key does not exist.\n"},
      {"HKLM", 1, "Registry key does not exist.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CliRun run = Cli("show-key " + Quote(root) + " " + Quote(c.text), scratch);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace hm::cli
