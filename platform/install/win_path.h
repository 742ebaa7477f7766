// Turning Windows paths of an installation into host paths.
//
// An installation is a host folder laid out like drive C:. A Windows path ("C:\Windows\System32",
// "\Users\demo" or "Windows\System32") is resolved below that folder one component at a time,
// matching names without regard to letter case as NTFS does (Windows' upper-case table), so that
// "windows\SYSTEM32\Config" finds "Windows/System32/config". `..` is applied to the text before
// anything is looked up, and no path ever leads out of the root: a `..` that climbs above it, or a
// symbolic link whose target lies outside it, resolves to "not found".
//
// Stateless functions over the file system: thread-safe as far as the folder does not change.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hm::install {

// The components of a Windows path relative to the root of drive C:, with "." dropped and ".."
// applied. Separators are '\' and '/'; a leading "C:" and leading separators are accepted.
// ERROR_PATH_NOT_FOUND when ".." climbs above the root, the path names another drive or a UNC
// share.
Result<std::vector<std::string>> SplitWindowsPath(std::string_view windows_path);

// The host path of an existing file or folder. ERROR_FILE_NOT_FOUND when the last component is
// missing, ERROR_PATH_NOT_FOUND when a folder on the way is missing or the path would leave `root`.
// The returned path is `root` joined with the names as they exist on disk.
Result<std::filesystem::path> ResolveWindowsPath(const std::filesystem::path& root,
                                                 std::string_view windows_path);

// Like ResolveWindowsPath(), for a path that may not exist yet (to create it): the existing leading
// components are matched without regard to case, the missing rest is appended as written.
// ERROR_PATH_NOT_FOUND when the path would leave `root` or runs through a file.
Result<std::filesystem::path> MapWindowsPath(const std::filesystem::path& root,
                                             std::string_view windows_path);

// True when two file names are equal the way NTFS compares them.
bool FileNamesEqual(std::string_view a, std::string_view b);

}  // namespace hm::install
