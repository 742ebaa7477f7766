// The command line: the mode of a start, the program's switches, and the options that choose the
// Windows installation the program works on. Stateless: thread-safe.
//
// Options are taken out first, wherever they stand: --root DIR, --user NAME|SID, --demo and
// --help (also in the form --root=DIR); "--" ends them. What remains are the program's
// arguments: the first selects the mode, compared exactly ("autoscan", "monitor", "startscan"),
// and a switch ("/forceupdate", "-forceupdate") may stand anywhere.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hm::app {

enum class StartMode {
  kInteractive,  // no recognised first argument
  kAutoScan,     // "autoscan": an unattended scan, only when one is due
  kMonitor,      // "monitor": hidden, monitoring on
  kStartScan,    // "startscan": most pages locked until a full scan completed
};

StartMode ModeOf(const std::vector<std::string>& args);

// True when an argument is a switch (it begins with "/" or "-") whose characters from the second
// on begin with `name`, both compared in lower case: "-ForceUpdateNow" matches "forceupdate".
bool FindCmdLineSwitch(const std::vector<std::string>& args, std::string_view name);

inline constexpr char kForceUpdateSwitch[] = "forceupdate";

struct ProgramOptions {
  std::optional<std::filesystem::path> root;  // --root
  std::optional<std::string> user;            // --user
  bool demo = false;                          // --demo
  bool help = false;                          // --help
  std::vector<std::string> args;              // everything else, in order
};

// Fails with ERROR_INVALID_PARAMETER and a text for the user ("--root needs a folder", "--root
// and --demo exclude each other").
Result<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& argv);

// The text --help shows.
std::string ProgramUsage();

}  // namespace hm::app
