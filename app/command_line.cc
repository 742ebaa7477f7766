#include "app/command_line.h"

#include <algorithm>
#include <cctype>

namespace hm::app {
namespace {

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Reads "--name VALUE" or "--name=VALUE" at args[*i]; advances *i past what it used.
// nullopt when args[*i] is not that option.
std::optional<std::optional<std::string>> TakeValue(const std::vector<std::string>& args, size_t* i,
                                                    std::string_view name) {
  const std::string& arg = args[*i];
  if (arg == name) {
    if (*i + 1 >= args.size()) return std::optional<std::string>();
    return std::optional<std::string>(args[++*i]);
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    return std::optional<std::string>(arg.substr(name.size() + 1));
  }
  return std::nullopt;
}

Status BadOption(std::string text) {
  return Status::Error(kErrorInvalidParameter, std::move(text));
}

}  // namespace

StartMode ModeOf(const std::vector<std::string>& args) {
  if (args.empty()) return StartMode::kInteractive;
  if (args[0] == "autoscan") return StartMode::kAutoScan;
  if (args[0] == "monitor") return StartMode::kMonitor;
  if (args[0] == "startscan") return StartMode::kStartScan;
  return StartMode::kInteractive;
}

bool FindCmdLineSwitch(const std::vector<std::string>& args, std::string_view name) {
  return std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
    if (arg.empty() || (arg[0] != '/' && arg[0] != '-') || arg.size() - 1 < name.size()) {
      return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
      if (Lower(arg[i + 1]) != Lower(name[i])) return false;
    }
    return true;
  });
}

Result<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& argv) {
  ProgramOptions options;
  bool options_ended = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (options_ended) {
      options.args.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help") {
      options.help = true;
    } else if (arg == "--demo") {
      options.demo = true;
    } else if (auto root = TakeValue(argv, &i, "--root")) {
      if (!*root || (*root)->empty())
        return BadOption("--root needs the folder of an installation");
      options.root = std::filesystem::path(**root);
    } else if (auto user = TakeValue(argv, &i, "--user")) {
      if (!*user || (*user)->empty()) return BadOption("--user needs a user name or SID");
      options.user = **user;
    } else {
      options.args.push_back(arg);
    }
  }
  if (options.demo && options.root) return BadOption("--root and --demo exclude each other");
  return options;
}

std::string ProgramUsage() {
  return R"(Usage: hivemend [OPTIONS] [autoscan|monitor|startscan] [/forceupdate]

Hivemend works on a Windows installation on disk: a folder laid out like drive C: of a Windows
system (a mounted Windows partition or disk image). The installation chosen last is remembered;
without one, the program uses its demo installation, created on first use.

Options:
  --root DIR        work on the installation in DIR (remembered for the next start)
  --user NAME|SID   the Windows user whose settings and registry the program uses
                    (default: the first user profile of the installation)
  --demo            work on the demo installation again
  --help            show this help

Modes (first argument):
  autoscan          unattended scan, run only when an automatic scan is due
  monitor           start hidden with the registry monitor on
  startscan         start with most pages locked until a full scan has completed
)";
}

}  // namespace hm::app
