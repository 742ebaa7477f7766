// Reading Windows shortcut files (.lnk) of the installation with liblnk, for the target path a
// shortcut names as the shell reports it raw (IShellLink::GetPath with SLGP_RAWPATH): the
// environment-variable target unexpanded when the link has one, else the local path of its
// LinkInfo, else its network path. A link that names its target only by an item-ID list or a
// relative path has no raw path here (the item-ID list would need the shell's namespace).
//
// Thread safety: every function is safe from any thread; each call opens its own liblnk file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hm::reg {

// What a shortcut says about its target (texts in UTF-8; empty when the link lacks them).
struct ShellLinkTarget {
  std::string local_path;    // the LinkInfo's local base path and common path suffix
  std::string network_path;  // the LinkInfo's share and common path suffix
  std::string environment_target;
  std::string relative_path;
  std::string working_dir;
  std::string arguments;
};

// Reads the shortcut at the host path `file`; `code_page` is the one its single-byte texts were
// written in. Fails with ERROR_FILE_NOT_FOUND when the file cannot be opened and
// ERROR_INVALID_DATA when it is no shortcut or is damaged (the context names liblnk's reason).
Result<ShellLinkTarget> ReadShellLinkFile(const std::filesystem::path& file,
                                          uint32_t code_page = 1252);

// The raw target path of a read shortcut (see above); "" when it names none.
std::string RawTargetPath(const ShellLinkTarget& link);

// The raw target path of the installation's shortcut at `windows_path`, both in the
// installation's code page, read in the calling thread's file-system view. False, with *target
// empty, when the shortcut cannot be loaded or names no raw path.
bool GetShellLinkRawPath(std::string_view windows_path, std::string* target);

}  // namespace hm::reg
