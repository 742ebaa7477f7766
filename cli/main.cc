// hivemend-cli: inspects and checks Windows registry hives and installations on disk, and builds
// the demo installation.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"

#ifndef HM_DEMO_SOURCES
#define HM_DEMO_SOURCES "demo/win10"
#endif

namespace hm::cli {
namespace {

constexpr const char* kUsage = R"(Usage: hivemend-cli COMMAND [OPTIONS] ARGUMENTS

PATH is a hive file or the root folder of a Windows installation (laid out like drive C:).

Commands:
  describe PATH                 format, state, root, size and counts of a hive, or of each hive
                                of an installation
  list PATH [KEY] [-r]          a key with its values and subkeys; KEY is a path below the root
                                of a hive file, or a key text such as HKLM\SOFTWARE\Microsoft
                                for an installation. -r, --recursive: the whole subtree
  check PATH                    structure check; exit code 0 when intact, 1 when damaged
  make-demo DIR                 build the demo Windows installation into DIR
  make-install --keys N DIR     build the demo installation with N generated keys added
                                (benchmark size); --seed S chooses the keys

Options:
  --sources DIR                 installation sources for make-demo and make-install
                                (default: the project's demo/win10)
  -h, --help                    show this help

Exit codes: 0 success, 1 damage found (check) or a hive unreadable (describe), 2 bad input.
)";

struct Arguments {
  std::string command;
  std::vector<std::string> positional;
  bool recursive = false;
  std::string sources = HM_DEMO_SOURCES;
  uint64_t keys = 0;
  bool keys_given = false;
  uint64_t seed = 1;
};

bool ParseNumber(std::string_view text, uint64_t* number) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *number);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Returns an error text, or an empty string when the arguments are well-formed.
std::string Parse(const std::vector<std::string>& args, Arguments* out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto next = [&](std::string* value) {
      if (i + 1 >= args.size()) return false;
      *value = args[++i];
      return true;
    };
    std::string value;
    if (arg == "-r" || arg == "--recursive") {
      out->recursive = true;
    } else if (arg == "--sources") {
      if (!next(&out->sources)) return "--sources needs a folder";
    } else if (arg == "--keys") {
      if (!next(&value) || !ParseNumber(value, &out->keys)) return "--keys needs a number";
      out->keys_given = true;
    } else if (arg == "--seed") {
      if (!next(&value) || !ParseNumber(value, &out->seed)) return "--seed needs a number";
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option " + arg;
    } else if (out->command.empty()) {
      out->command = arg;
    } else {
      out->positional.push_back(arg);
    }
  }
  return {};
}

// Checks the number of positional arguments of a command.
bool Count(const Arguments& args, size_t low, size_t high) {
  return args.positional.size() >= low && args.positional.size() <= high;
}

int Run(const Arguments& args) {
  const std::string& c = args.command;
  const auto& p = args.positional;
  if (c == "describe" && Count(args, 1, 1)) return Describe(p[0]);
  if (c == "list" && Count(args, 1, 2)) return List(p[0], p.size() > 1 ? p[1] : "", args.recursive);
  if (c == "check" && Count(args, 1, 1)) return Check(p[0]);
  if (c == "make-demo" && Count(args, 1, 1)) return MakeDemo(p[0], args.sources);
  if (c == "make-install" && Count(args, 1, 1)) {
    if (!args.keys_given) return Fail("make-install needs --keys N");
    return MakeInstall(p[0], args.sources, args.keys, args.seed);
  }
  if (c == "describe" || c == "list" || c == "check" || c == "make-demo" || c == "make-install") {
    return Fail("wrong number of arguments for " + c + " (see --help)");
  }
  if (c.empty()) return Fail("no command given (see --help)");
  return Fail("unknown command '" + c + "' (see --help)");
}

}  // namespace

int Fail(const std::string& message) {
  std::fprintf(stderr, "hivemend-cli: %s\n", message.c_str());
  return kExitBadInput;
}

}  // namespace hm::cli

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::fputs(hm::cli::kUsage, stdout);
      return hm::cli::kExitOk;
    }
  }
  hm::cli::Arguments parsed;
  std::string error = hm::cli::Parse(args, &parsed);
  if (!error.empty()) return hm::cli::Fail(error);
  return hm::cli::Run(parsed);
}
