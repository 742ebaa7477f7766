// Runs the built hivemend-cli as a user would, for the command-line tests. Test code only.
#pragma once

#include <string>

#include "tests/support/testing.h"

namespace hm::cli::testing {

struct CliRun {
  int exit_code;
  std::string out;
  std::string err;
};

// Arguments are passed through the shell in single quotes (key texts hold backslashes, spaces).
inline CliRun Cli(const std::string& args, const hm::testing::TempDir& scratch) {
  const std::string err_file = (scratch / "stderr.txt").string();
  CliRun run;
  run.exit_code = hm::testing::RunCommand(
      std::string("'") + HM_CLI_PATH + "' " + args + " 2>'" + err_file + "'", &run.out);
  run.err = hm::testing::ReadFileBytes(err_file);
  return run;
}

inline std::string Quote(const std::string& text) {
  return "'" + text + "'";
}

}  // namespace hm::cli::testing
