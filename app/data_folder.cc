#include "app/data_folder.h"

#include <unistd.h>

#include <system_error>
#include <utility>

#include "platform/install/win_path.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;

// Creates the folder when missing and tells whether this process may put files into it.
bool UsableFolder(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  return fs::is_directory(folder, error) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// "C:\Users\demo" -> "Users\demo": the path below the root of drive C:.
std::optional<std::string> RelativeToDriveC(std::string_view windows_path) {
  Result<std::vector<std::string>> components = install::SplitWindowsPath(windows_path);
  if (!components.ok() || components->empty()) return std::nullopt;
  std::string relative;
  for (const std::string& component : *components) {
    if (!relative.empty()) relative += '\\';
    relative += component;
  }
  return relative;
}

}  // namespace

DataFolder::DataFolder(fs::path bound, std::string relative, fs::path path, bool in_installation)
    : bound_(std::move(bound)),
      relative_(std::move(relative)),
      path_(std::move(path)),
      in_installation_(in_installation) {}

std::string DataFolder::windows_path() const {
  return in_installation_ ? "C:\\" + relative_ : std::string();
}

std::string DataFolder::Join(std::string_view relative) const {
  if (relative_.empty()) return std::string(relative);
  return relative_ + "\\" + std::string(relative);
}

Result<fs::path> DataFolder::Find(std::string_view relative) const {
  return install::ResolveWindowsPath(bound_, Join(relative));
}

Result<fs::path> DataFolder::Map(std::string_view relative) const {
  return install::MapWindowsPath(bound_, Join(relative));
}

std::optional<std::string> LocalAppDataWindowsPath(const install::UserProfile& user) {
  // Windows keeps the folder at this place below the profile unless the user moved it (the
  // installation's shell folders say where, when they can be read).
  if (user.profile_path.empty()) return std::nullopt;
  return install::ExpandSystemVariables(user.profile_path) + "\\AppData\\Local";
}

DataFolder PrepareDataFolder(const install::Installation& installation,
                             const install::UserProfile* user, const std::string& local_app_data,
                             const fs::path& host_fallback, const fs::path& program_folder) {
  if (user != nullptr) {
    std::optional<std::string> local =
        local_app_data.empty() ? LocalAppDataWindowsPath(*user) : local_app_data;
    std::optional<std::string> relative =
        local ? RelativeToDriveC(*local + "\\" + std::string(kCompanyFolder)) : std::nullopt;
    if (relative) {
      Result<fs::path> folder = install::MapWindowsPath(installation.root(), *relative);
      if (folder.ok() && UsableFolder(*folder)) {
        // Mapped again so that the folder created just now is named as it exists.
        Result<fs::path> existing = install::ResolveWindowsPath(installation.root(), *relative);
        if (existing.ok()) return DataFolder(installation.root(), *relative, *existing, true);
      }
    }
  }
  if (!host_fallback.empty() && UsableFolder(host_fallback / kCompanyFolder)) {
    return DataFolder(host_fallback, std::string(kCompanyFolder), host_fallback / kCompanyFolder,
                      false);
  }
  return DataFolder(program_folder, "", program_folder, false);
}

}  // namespace hm::app
