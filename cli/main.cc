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
  summary DIR                   the installation's registry as the program sees it: Windows
                                product and version, 64-bit or not (two registry views), ANSI
                                code page, current control set, the user of HKEY_CURRENT_USER,
                                each hive with its file and whether it can be written, and notes
                                on hive replacements carried out at opening
  list PATH [KEY] [-r]          a key with its values and subkeys; KEY is a path below the root
                                of a hive file, or a key text such as HKLM\SOFTWARE\Microsoft
                                for an installation (roots HKLM, HKCU, HKCR, HKU, HKCC or their
                                full names; no KEY lists where each hive is mounted).
                                -r, --recursive: the whole subtree
  check PATH                    structure check; exit code 0 when intact, 1 when damaged
  make-demo DIR                 build the demo Windows installation into DIR
  make-install --keys N DIR     build the demo installation with N generated keys added
                                (benchmark size); --seed S chooses the keys
  probe DIR TEXT...             how file references are judged in the installation: each TEXT
                                (a path, a command line, "%SystemRoot%\x.dll") expanded,
                                probed, and tested as file, folder, path and program, as a scan
                                tests them
  scan DIR                      the registry scan: findings by group and category (each with its
                                key, and "\\:" and the value where it is about one, the form
                                of an ignore entry), counts per category, total and health.
                                Never writes to the installation. Skipped keys, the permanent
                                ignore list and the user's ignore.txt (in Corvexa in the user's
                                local application data folder) are honoured. Progress shows on
                                stderr when it is a terminal; Ctrl+C stops the scan and prints
                                what was found so far (exit code 130)
  repair DIR                    scan, then repair every finding (or those of --categories),
                                each after its backup was written to the undo store (Undo in
                                the data folder); the hives are written once, at the end.
                                --dry-run lists what would change and changes nothing
  undo list DIR                 the undo store's snapshots (one per day of repairs) and their keys
  undo restore DIR DAY|--all    restore a snapshot's backups (or every snapshot's), newest
                                first; --key KEYTEXT (repeatable) restores only those keys
  export DIR KEY FILE           the key tree KEY (a key text such as HKCU\Software\Vendor)
                                as a registry editor file (version 5, UTF-16LE) in the host
                                file FILE; never writes to the installation
  import DIR FILE               applies the registry editor file FILE (REGEDIT4 or version 5)
                                to the installation and writes the hives; the whole file is
                                checked first and a malformed one changes nothing (exit code 2)
  show-key DIR TEXT             what "Show Key" opens for the key text TEXT (a key, optionally
                                followed by \\: and a value name): the key's full name, the
                                view it was found in and the value; "Registry key does not
                                exist." and exit code 1 when neither view has it

Options:
  --user NAME|SID               summary, list, probe, scan, repair, undo: the user whose hives
                                are HKEY_CURRENT_USER (default: the first profile that has its
                                hives)
  --view 64|32                  list, export, import: the registry view of a 64-bit
                                installation (default 64; 32 is what a 32-bit program sees,
                                e.g. SOFTWARE\WOW6432Node)
  --read-only                   summary: refuse every change; hive replacements scheduled by an
                                earlier run are then left waiting (list never writes anything)
  --sources DIR                 installation sources for make-demo and make-install
                                (default: the project's demo/win10)
  --drive L[:TYPE]=FOLDER       probe: drive L: is FOLDER (TYPE fixed, removable, remote,
                                cdrom or ramdisk; default fixed); may be repeated
  --native                      probe: with WOW64 file-system redirection off (System32 is
                                the native folder, not SysWOW64)
  --categories LIST             scan: only these categories, comma-separated, each a number
                                0-23, a display name ("Deep Scan") or a short name (any case):
                                0 ShellFolders, 1 TypeLib, 2 FileTypes, 3 CLSIDs,
                                4 Interfaces, 5 AppIDs, 6 CodePages, 7 ContentType,
                                8 Applications, 9 KnownDLLs, 10 VirtualDevices,
                                11 OpenGLDrivers, 12 SharedFiles, 13 StartMenu, 14 Startup,
                                15 HelpFiles, 16 WindowsFonts, 17 AppPaths, 18 FileExtensions,
                                19 HTMLHelp, 20 InstalledFiles, 21 AddRemoveCache,
                                22 FilePathRefs, 23 HistoryLists (default: all)
  --json                        scan: one JSON object (findings, counts, total, health, notes)
  -h, --help                    show this help

Exit codes: 0 success; 1 damage found (check), a hive unreadable (describe, summary), part
of a listing unreadable (list) or a scan that ended early on an error (scan); 2 bad input;
130 scan stopped by Ctrl+C. repair and undo restore: 1 when some entries could not be repaired
or restored.
)";

struct Arguments {
  std::string command;
  std::vector<std::string> positional;
  bool recursive = false;
  int view = 64;
  bool view_given = false;
  std::string user;
  bool user_given = false;
  bool read_only = false;
  std::string sources = HM_DEMO_SOURCES;
  uint64_t keys = 0;
  bool keys_given = false;
  uint64_t seed = 1;
  std::vector<hm::install::DriveMapping> drives;
  bool native = false;
  std::string categories;
  bool json = false;
  bool dry_run = false;
  bool all = false;
  std::vector<std::string> key_texts;
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
    } else if (arg == "--view") {
      if (!next(&value) || (value != "32" && value != "64")) return "--view needs 32 or 64";
      out->view = value == "32" ? 32 : 64;
      out->view_given = true;
    } else if (arg == "--user") {
      if (!next(&out->user) || out->user.empty()) return "--user needs a user name or SID";
      out->user_given = true;
    } else if (arg == "--read-only") {
      out->read_only = true;
    } else if (arg == "--sources") {
      if (!next(&out->sources)) return "--sources needs a folder";
    } else if (arg == "--keys") {
      if (!next(&value) || !ParseNumber(value, &out->keys)) return "--keys needs a number";
      out->keys_given = true;
    } else if (arg == "--seed") {
      if (!next(&value) || !ParseNumber(value, &out->seed)) return "--seed needs a number";
    } else if (arg == "--drive") {
      if (!next(&value)) return "--drive needs LETTER[:TYPE]=FOLDER";
      auto drive = hm::install::ParseDriveMapping(value);
      if (!drive.ok()) return drive.status().context();
      out->drives.push_back(std::move(drive).value());
    } else if (arg == "--native") {
      out->native = true;
    } else if (arg == "--categories") {
      if (!next(&out->categories) || out->categories.empty()) {
        return "--categories needs a list of categories";
      }
    } else if (arg == "--json") {
      out->json = true;
    } else if (arg == "--dry-run") {
      out->dry_run = true;
    } else if (arg == "--all") {
      out->all = true;
    } else if (arg == "--key") {
      if (!next(&value) || value.empty()) return "--key needs a key text";
      out->key_texts.push_back(value);
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

int RunList(const Arguments& args) {
  const auto& p = args.positional;
  if ((args.view_given || args.user_given) && KindOf(p[0]) == PathKind::kFile) {
    return Fail("--view and --user apply to an installation folder, not to a hive file");
  }
  ListOptions options{.recursive = args.recursive,
                      .view = args.view,
                      .registry = RegistryChoice{.user = args.user}};
  return List(p[0], p.size() > 1 ? p[1] : "", options);
}

int Run(const Arguments& args) {
  const std::string& c = args.command;
  const auto& p = args.positional;
  if (c == "describe" && Count(args, 1, 1)) return Describe(p[0]);
  if (c == "summary" && Count(args, 1, 1)) {
    return Summary(p[0], RegistryChoice{.user = args.user, .read_only = args.read_only});
  }
  if (c == "list" && Count(args, 1, 2)) return RunList(args);
  if (c == "check" && Count(args, 1, 1)) return Check(p[0]);
  if (c == "make-demo" && Count(args, 1, 1)) return MakeDemo(p[0], args.sources);
  if (c == "make-install" && Count(args, 1, 1)) {
    if (!args.keys_given) return Fail("make-install needs --keys N");
    return MakeInstall(p[0], args.sources, args.keys, args.seed);
  }
  if (c == "probe" && args.positional.size() >= 2) {
    ProbeOptions options{.registry = RegistryChoice{.user = args.user},
                         .drives = args.drives,
                         .native = args.native};
    return Probe(p[0], std::vector<std::string>(p.begin() + 1, p.end()), options);
  }
  if (c == "scan" && Count(args, 1, 1)) {
    return Scan(p[0], ScanOptions{.registry = RegistryChoice{.user = args.user},
                                  .categories = args.categories,
                                  .json = args.json});
  }
  if (c == "repair" && Count(args, 1, 1)) {
    return Repair(p[0], RepairOptions{.registry = RegistryChoice{.user = args.user},
                                      .categories = args.categories,
                                      .dry_run = args.dry_run});
  }
  if (c == "undo" && Count(args, 2, 3) && p[0] == "list" && p.size() == 2) {
    return UndoList(p[1], RegistryChoice{.user = args.user});
  }
  if (c == "undo" && Count(args, 2, 3) && p[0] == "restore" && (p.size() == 3) != args.all) {
    return UndoRestore(p[1], UndoOptions{.registry = RegistryChoice{.user = args.user},
                                         .snapshot = p.size() == 3 ? p[2] : "",
                                         .all = args.all,
                                         .keys = args.key_texts});
  }
  if (c == "export" && Count(args, 3, 3)) {
    return ExportKey(p[0], p[1], p[2],
                     RegEditOptions{.registry = RegistryChoice{.user = args.user}, .view = args.view});
  }
  if (c == "import" && Count(args, 2, 2)) {
    return ImportFile(p[0], p[1],
                      RegEditOptions{.registry = RegistryChoice{.user = args.user}, .view = args.view});
  }
  if (c == "show-key" && Count(args, 2, 2)) {
    return ShowRegistryKey(p[0], p[1], RegistryChoice{.user = args.user});
  }
  if (c == "describe" || c == "summary" || c == "list" || c == "check" || c == "make-demo" ||
      c == "make-install" || c == "probe" || c == "scan" || c == "repair" || c == "undo" ||
      c == "export" || c == "import" || c == "show-key") {
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
