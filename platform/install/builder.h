// Building Windows installations on disk from text sources, for the demo installation, tests and
// benchmarks.
//
// A source folder holds:
//   registry/*.reg  registry editor files (REGEDIT4 or version 5), applied in file-name order. Each
//                   key goes to the hive file Windows keeps it in: HKEY_LOCAL_MACHINE\SOFTWARE,
//                   \SYSTEM, \SAM, \SECURITY to Windows\System32\config\<name>; HKEY_USERS\.DEFAULT
//                   to config\DEFAULT; HKEY_USERS\<SID> and HKEY_CURRENT_USER to the user's
//                   NTUSER.DAT, their Software\Classes and HKEY_USERS\<SID>_Classes to the user's
//                   UsrClass.dat; HKEY_CLASSES_ROOT to SOFTWARE\Classes. A user's folder comes from
//                   the ProfileImagePath the files give it in ProfileList; HKEY_CURRENT_USER is the
//                   first user profile there. CurrentControlSet is the set that Select\Current
//                   names.
//   files.txt       one path per line, relative to C:\. A trailing backslash makes a folder,
//                   " size=N" makes a file of N bytes (programs start with "MZ"), '#' starts a
//                   comment line. "shortcut <path> -> <target>" makes a shortcut file (.lnk)
//                   whose target is a local path, a network path or, when it holds a '%', an
//                   unexpanded environment form.
// SYSTEM and SOFTWARE are always written, so the result opens as an Installation.
//
// Plain functions: thread-safe as long as two calls do not build into the same folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/hive/hive.h"
#include "platform/status.h"

namespace hm::install {

struct BuildOptions {
  // Extra generated keys (see AddSyntheticKeys) spread over SOFTWARE and the current user's hive,
  // for installations of benchmark size.
  uint64_t synthetic_keys = 0;
  uint64_t seed = 1;
};

// Builds the installation described by `sources` into the folder `root` (created if missing).
// Errors name the source file and line: "registry/20-software.reg: line 12: ..." (and are
// ERROR_INVALID_DATA for mistakes in the sources).
Status BuildInstallation(const std::filesystem::path& sources, const std::filesystem::path& root,
                         const BuildOptions& options = {});

// What kind of content AddSyntheticKeys() generates.
enum class SyntheticLayout {
  kMachine,  // SOFTWARE-like: CLSIDs, file types, uninstall entries, vendor trees
  kUser,     // NTUSER-like: Software\<vendor>\<product>\... settings trees
};

// Adds exactly `key_count` new keys below `parent`, with realistic names, depths (up to about 12
// below `parent`), value types and sizes (mostly short strings and numbers, a few values of tens of
// kilobytes). The same seed gives the same keys.
Status AddSyntheticKeys(hive::Key& parent, SyntheticLayout layout, uint64_t key_count,
                        uint64_t seed);

// A new hive of SOFTWARE-like content with `key_count` keys below its root.
std::unique_ptr<hive::Hive> MakeSyntheticHive(uint64_t key_count, uint64_t seed);

}  // namespace hm::install
