// Writes Windows shortcut files (.lnk, the Shell Link binary format) for the demo installation
// and for tests: a header, a LinkInfo structure naming the target by a local path or a network
// share, the string data (name, relative path, working folder, arguments, icon location) and an
// environment-variable block, each only when asked for. No item-ID list is written, so a reader
// finds the target in the LinkInfo or in the environment block, as the shell does for such a
// link. The byte layout is described in docs/shell-link-format.md.
//
// Texts are UTF-8. The LinkInfo paths are stored twice, in the given code page (characters it
// lacks become '?') and in UTF-16, so that no name is lost; string data is UTF-16.
//
// Plain functions: thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/status.h"

namespace hm::files {

// Drive types of a link's volume, as GetDriveType numbers them.
inline constexpr uint32_t kLinkDriveFixed = 3;
inline constexpr uint32_t kLinkDriveRemovable = 2;

struct ShellLinkSpec {
  // "C:\Program Files\App\app.exe": the LinkInfo names a volume and this local path.
  std::string local_path;
  uint32_t drive_type = kLinkDriveFixed;
  uint32_t drive_serial = 0x5A3C96E1;
  std::string volume_label;
  // "\\server\share" and the path below it ("docs\plan.txt"): the LinkInfo names a network
  // share. May be combined with `local_path` (a mapped drive); then `path_suffix` follows both.
  std::string network_share;
  std::string path_suffix;
  // String data.
  std::string name;
  std::string relative_path;
  std::string working_dir;
  std::string arguments;
  std::string icon_location;
  // "%ProgramFiles%\App\app.exe": an environment-variable block with this target (at most 259
  // characters).
  std::string environment_target;
  int32_t icon_index = 0;
  uint32_t file_size = 0;
  // The ANSI code page of the LinkInfo's single-byte paths.
  uint32_t code_page = 1252;
};

// The bytes of the shortcut. Fails with ERROR_INVALID_PARAMETER for a text the format cannot
// hold (a string of 65,536 characters or more, an environment target of 260 or more, an unknown
// code page).
Result<std::string> MakeShellLink(const ShellLinkSpec& spec);

// Writes the shortcut to `file` (replacing it atomically).
Status WriteShellLink(const std::filesystem::path& file, const ShellLinkSpec& spec);

}  // namespace hm::files
