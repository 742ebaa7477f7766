// DataFolder: the program's own folder for the settings file, the ignore file, the undo store,
// whole-registry backups and reports.
//
// It is normally the installation user's local application data folder followed by "Corvexa"
// (C:\Users\<user>\AppData\Local\Corvexa), as the program keeps it on Windows, so that what the
// program writes stays with the installation. When the installation cannot hold it (a read-only
// mount, no user profile), it is a folder of the host user's own data folder kept for that
// installation; as a last resort the program folder.
//
// A data folder lives below a bounding folder (the installation's root, or the host folder) and
// names its files as Windows paths relative to itself; they are resolved without regard to case,
// and ".." may reach sibling folders but never leads out of the bounding folder.
//
// Thread-compatible: immutable after construction.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/install/installation.h"
#include "platform/status.h"

namespace hm::app {

class DataFolder {
 public:
  // The folder `relative` (Windows form, "" for `bound` itself) below `bound`, with its host
  // path `path`. `in_installation` tells whether `bound` is an installation's root.
  DataFolder(std::filesystem::path bound, std::string relative, std::filesystem::path path,
             bool in_installation);
  DataFolder() = default;

  // The host folder.
  const std::filesystem::path& path() const { return path_; }
  // True when the folder is inside the installation.
  bool in_installation() const { return in_installation_; }
  // The folder as the installation's Windows sees it ("C:\Users\demo\AppData\Local\Corvexa");
  // empty when it is not inside the installation.
  std::string windows_path() const;

  // The host path of an existing file or folder `relative` to the data folder ("hvmend.ini",
  // "..\Daventry Labs\hvmend.ini"), names matched without regard to case.
  Result<std::filesystem::path> Find(std::string_view relative) const;
  // The host path for `relative`, which need not exist yet (to create it).
  Result<std::filesystem::path> Map(std::string_view relative) const;

 private:
  std::string Join(std::string_view relative) const;

  std::filesystem::path bound_;
  std::string relative_;
  std::filesystem::path path_;
  bool in_installation_ = false;
};

// The name of the program's data folder below the local application data folder.
inline constexpr std::string_view kCompanyFolder = "Corvexa";

// The user's local application data folder as a Windows path ("C:\Users\demo\AppData\Local"),
// from the profile folder; nullopt when the profile has no usable path.
std::optional<std::string> LocalAppDataWindowsPath(const install::UserProfile& user);

// Finds or creates the data folder: "Corvexa" in the local application data folder of `user`
// inside `installation` when it exists or can be created there and this process may write it;
// else "Corvexa" below `host_fallback` (created as needed); else `program_folder`.
// `local_app_data` is that folder as the installation's shell folders name it; when empty, the
// profile's usual place (LocalAppDataWindowsPath) stands in.
DataFolder PrepareDataFolder(const install::Installation& installation,
                             const install::UserProfile* user, const std::string& local_app_data,
                             const std::filesystem::path& host_fallback,
                             const std::filesystem::path& program_folder);

}  // namespace hm::app
