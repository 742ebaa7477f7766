// The subcommands of hivemend-cli. Each prints its report on stdout and returns the process exit
// code: 0 for success, 1 when `check` found damage or part of what was asked could not be read,
// 2 for bad input (with one line "hivemend-cli: <what is wrong>" on stderr). Not thread-safe (they
// write to stdout).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/install/win_path.h"

namespace hm::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDamaged = 1;
inline constexpr int kExitBadInput = 2;

// Prints "hivemend-cli: <message>" on stderr and returns kExitBadInput.
int Fail(const std::string& message);

// What a PATH argument names: an installation folder, a (hive) file, or nothing at all.
enum class PathKind { kMissing, kFolder, kFile };
PathKind KindOf(const std::filesystem::path& path);

// How an installation's registry is opened: the user of HKEY_CURRENT_USER (a profile name or a
// SID; empty for the first profile with a hive) and whether every change is refused.
struct RegistryChoice {
  std::string user;
  bool read_only = false;
};

struct ListOptions {
  bool recursive = false;
  // The registry view of an installation: 64 or 32 (the WOW64 view of a 32-bit program).
  int view = 64;
  // Only for installations; listing never changes anything, whatever read_only says.
  RegistryChoice registry;
};

int Describe(const std::filesystem::path& path);
// The registry of an installation as the program sees it: Windows version, views, code page,
// control set, the current user and every mounted hive with its state.
int Summary(const std::filesystem::path& path, const RegistryChoice& choice);
// `key` is a path below the hive root for a hive file, a key text ("HKLM\SOFTWARE\Microsoft")
// for an installation; empty lists the root (or the mount points of an installation).
int List(const std::filesystem::path& path, const std::string& key, const ListOptions& options);
int Check(const std::filesystem::path& path);
int MakeDemo(const std::filesystem::path& dir, const std::filesystem::path& sources);
int MakeInstall(const std::filesystem::path& dir, const std::filesystem::path& sources,
                uint64_t keys, uint64_t seed);

struct ProbeOptions {
  RegistryChoice registry;
  std::vector<install::DriveMapping> drives;  // letters other than C:
  bool native = false;                        // WOW64 file-system redirection off
};
// How the path utilities judge each text (UTF-8) in the installation at `root`.
int Probe(const std::filesystem::path& root, const std::vector<std::string>& texts,
          const ProbeOptions& options);

// The exit code of a scan ended by SIGINT (128 + the signal number, as shells report it).
inline constexpr int kExitStopped = 130;

struct ScanOptions {
  // The user of HKEY_CURRENT_USER; read_only is decided by Scan() itself.
  RegistryChoice registry;
  // Comma-separated category numbers or names; empty for every category.
  std::string categories;
  bool json = false;
};
// Scans the installation at `root` for registry problems and prints the findings. Never writes
// to the installation. kExitOk when the scan completed, kExitStopped when SIGINT stopped it,
// kExitDamaged when a check failed and the scan ended early.
int Scan(const std::filesystem::path& root, const ScanOptions& options);

struct RepairOptions {
  RegistryChoice registry;
  std::string categories;  // as for ScanOptions
  bool dry_run = false;    // list what would change, change nothing
};
// Scans the installation and repairs every finding, each after its backup was written to the
// undo store; commits the hives once at the end. kExitOk when every finding was repaired,
// kExitDamaged when some could not be.
int Repair(const std::filesystem::path& root, const RepairOptions& options);

struct UndoOptions {
  RegistryChoice registry;
  std::string snapshot;           // the day ("2026-12-11"), unless `all`
  bool all = false;               // every snapshot
  std::vector<std::string> keys;  // only these key texts; empty for all
};
// The undo store's snapshots with their items.
int UndoList(const std::filesystem::path& root, const RegistryChoice& choice);
// Restores a snapshot (or all), newest entries first; kExitDamaged when some entries could not
// be restored (they stay in the store).
int UndoRestore(const std::filesystem::path& root, const UndoOptions& options);

struct RegEditOptions {
  RegistryChoice registry;
  int view = 64;  // 64 or 32 (the WOW64 view of a 32-bit program)
};
// Writes the key tree `key` (a key text) as a registry editor file (version 5, UTF-16LE) to the
// host file `file`. Never writes to the installation. kExitDamaged when the key cannot be
// exported (it does not exist, or a name no file can hold).
int ExportKey(const std::filesystem::path& root, const std::string& key,
              const std::filesystem::path& file, const RegEditOptions& options);
// Checks the whole registry editor file `file` (a host file), applies it to the chosen view and
// commits the hives. kExitBadInput with the line-numbered error for a malformed file (nothing
// is changed); kExitDamaged when the registry refuses a change or a hive cannot be written.
int ImportFile(const std::filesystem::path& root, const std::filesystem::path& file,
               const RegEditOptions& options);

// "Show Key" for the key text `text` (UTF-8; "\\:" and a value name may follow the key): prints
// the key, the view it was found in and the value, as the desktop program's registry view
// receives them, or "Registry key does not exist." with kExitDamaged. Never writes anything.
int ShowRegistryKey(const std::filesystem::path& root, const std::string& text,
                    const RegistryChoice& choice);

}  // namespace hm::cli
