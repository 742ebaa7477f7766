// Turning Windows paths of an installation into host paths.
//
// An installation is a host folder laid out like drive C:. A Windows path ("C:\Windows\System32",
// "\Users\demo" or "Windows\System32") is resolved below that folder one component at a time,
// matching names without regard to letter case as NTFS does (Windows' upper-case table), so that
// "windows\SYSTEM32\Config" finds "Windows/System32/config". `..` is applied to the text before
// anything is looked up, and no path ever leads out of the root: a `..` that climbs above it, or a
// symbolic link whose target lies outside it, resolves to "not found".
//
// Drive letters other than C: and the caching, redirecting view a running program has of these
// files are platform/files/host_files.h.
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

// --- Windows paths with drive letters, normalized as Win32 normalizes them ---

// A Windows path taken apart the way Win32 prepares it for the file system.
struct WindowsPath {
  char drive = 'C';                     // upper-case drive letter
  std::vector<std::string> components;  // names below the root of that drive
};

// Reads the forms a Win32 function accepts:
//   "X:\a\b"                     absolute;
//   "X:a"                        relative to the drive's current folder, its root here;
//   "\a"                         the root of the current drive (C:);
//   "a\b"                        relative to the current folder (C:\);
//   "\\.\X:\a"                   the same as "X:\a";
//   "\\?\X:\a", "\??\X:\a"       taken literally: '/' is no separator, and there is no "." or
//                                ".." and no trimming.
// Normalization: '/' separates like '\', runs of separators count as one, "." is dropped, ".."
// removes the component before it, a component ending in a single period loses that period, and
// the last component loses trailing periods and spaces unless the text ends in a separator.
// Errors: ERROR_BAD_NETPATH for UNC shares, ERROR_BAD_PATHNAME for other device paths
// ("\\.\PhysicalDrive0"), ERROR_PATH_NOT_FOUND for an empty text, a drive that is not a letter
// and a ".." above the root (which Windows would ignore; here nothing outside a root is ever
// named), ERROR_INVALID_NAME for a name holding a character Windows refuses in file names
// (controls, '"', '*', ':', '<', '>', '?', '|').
Result<WindowsPath> ParseWindowsPath(std::string_view text);

// "C:\a\b" for a parsed path; "C:\" for the root.
std::string WindowsPathText(const WindowsPath& path);

// GetDriveType's answers.
enum DriveType : uint32_t {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,  // no such drive
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdRom = 5,
  kDriveRamDisk = 6,
};

// A drive letter other than C: served by a host folder.
struct DriveMapping {
  char letter = 0;  // upper case, never 'C'
  std::filesystem::path folder;
  DriveType type = kDriveFixed;
};

// Reads "LETTER[:TYPE]=FOLDER", e.g. "D=/mnt/data" or "E:removable=/media/stick"; TYPE is one of
// fixed (the default), removable, remote, cdrom, ramdisk. ERROR_INVALID_PARAMETER with a text
// that says what is wrong.
Result<DriveMapping> ParseDriveMapping(std::string_view text);

}  // namespace hm::install
