// The process environment: the facts every part of the program reads, gathered once at start
// from the installation the program works on and from the host, and not changed afterwards.
//
// Windows version code (a small integer all parts compare against; "before Vista" is a code
// below 8):
//   0 unknown, 1 95, 2 98, 3 Me, 4 NT 4 and older NT, 5 2000, 6 XP, 7 Server 2003 and XP x64,
//   8 Vista, 9 7, 10 8, 11 8.1, 12 10 (and later).
//
// Administrator status, as the installation on disk makes it meaningful (docs/architecture.md,
// "Start-up and settings"): the strict test says whether this process may change the
// installation's machine hives now; the administrator flag is also true for a user of the host's
// administrators group, who could start the program with those rights.
//
// Thread-compatible: a plain value.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/data_folder.h"
#include "platform/install/installation.h"
#include "registry/host_registry.h"

namespace hm::app {

inline constexpr char kApplicationTitle[] = "Hivemend";

struct Environment {
  std::string title = kApplicationTitle;
  // Windows paths of the installation, each with a trailing backslash.
  std::string windows_folder;  // "C:\Windows\"
  std::string system_folder;   // "C:\Windows\system32\"
  // The host folder of the program's executable, without a trailing separator.
  std::filesystem::path program_folder;
  DataFolder data_folder;
  // The data folder as the program's files name it (UTF-8): its place in the installation, or
  // the place where a data folder kept on the host is mapped. Empty when it has neither.
  std::string data_folder_windows;
  // The program's file version ("0.1.0.0").
  std::string program_version;
  int windows_version = 0;
  bool administrator = false;
  bool strict_administrator = false;
};

// The version values of the installation that decide the version code.
struct VersionFacts {
  // CurrentMajorVersionNumber and CurrentMinorVersionNumber, when both exist (Windows 10 on).
  bool has_version_numbers = false;
  uint32_t major_number = 0;
  uint32_t minor_number = 0;
  // The version as Windows reports it to programs: platform 1 for Windows 95/98/Me, 2 for NT;
  // 0 when the installation holds no version.
  uint32_t platform = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
};

// The code by the table above: 12 when both version numbers exist and are 10 and 0; otherwise
// from platform, major and minor; 0 for any other combination.
int WindowsVersionCode(const VersionFacts& facts);

// Reads the facts from SOFTWARE\Microsoft\Windows NT\CurrentVersion (CurrentVersion "6.1"), or
// from SOFTWARE\Microsoft\Windows\CurrentVersion's VersionNumber ("4.10.1998") where the NT key
// is missing, in the 64-bit view and with read access only.
VersionFacts ReadVersionFacts(reg::HostRegistry& registry);

// True when this process may write the installation's SOFTWARE and SYSTEM hives (the files and
// their folder), as the kernel decides for its effective user and groups.
bool MayChangeMachineHives(const install::Installation& installation);
// True when the host user is root or belongs to a group named "sudo", "wheel" or "admin".
bool InHostAdministratorsGroup();
// The administrator flag: always for Windows 95, 98 and Me (codes 1 to 3), else either test.
bool AdministratorFlag(int windows_version, bool strict_administrator, bool in_admin_group);

struct EnvironmentOptions {
  std::filesystem::path program_folder;
  // Where the data folder goes when the installation cannot hold it (see PrepareDataFolder).
  std::filesystem::path host_data_fallback;
  // The user's local application data folder as the installation names it (its shell folders);
  // empty: the usual place below the profile.
  std::string local_app_data;
};

// Gathers the environment, creating the data folder when missing.
Environment PrepareEnvironment(reg::HostRegistry& registry, const EnvironmentOptions& options);

// The version of this program.
std::string ProgramVersion();

}  // namespace hm::app
