#include "app/host_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/file_io.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kProgramFolder = "hivemend";
constexpr std::string_view kRememberedFile = "installation";

// An absolute path from the environment variable, or nothing (relative values are ignored, as
// the XDG rules say).
std::optional<fs::path> AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return fs::path(value);
}

fs::path HomeFolder() {
  if (std::optional<fs::path> home = AbsoluteFromEnvironment("HOME")) return *home;
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr && entry->pw_dir != nullptr ? fs::path(entry->pw_dir) : fs::path();
}

fs::path XdgFolder(const char* variable, const char* fallback_below_home) {
  if (std::optional<fs::path> folder = AbsoluteFromEnvironment(variable)) {
    return *folder / kProgramFolder;
  }
  const fs::path home = HomeFolder();
  return home.empty() ? fs::path() : home / fallback_below_home / kProgramFolder;
}

fs::path RuntimeFolder() {
  if (std::optional<fs::path> runtime = AbsoluteFromEnvironment("XDG_RUNTIME_DIR")) {
    std::error_code error;
    if (fs::is_directory(*runtime, error)) return *runtime;
  }
  fs::path fallback = fs::temp_directory_path() / ("hivemend-" + std::to_string(::geteuid()));
  return EnsurePrivateFolder(fallback).ok() ? fallback : fs::path();
}

}  // namespace

HostFolders HostFolders::FromEnvironment() {
  HostFolders folders;
  folders.runtime = RuntimeFolder();
  folders.config = XdgFolder("XDG_CONFIG_HOME", ".config");
  folders.data = XdgFolder("XDG_DATA_HOME", ".local/share");
  return folders;
}

Status EnsurePrivateFolder(const fs::path& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return Status::Error(WinErrorFromErrno(errno), "create '" + path.string() + "'");
  }
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) {
    return Status::Error(WinErrorFromErrno(errno), "examine '" + path.string() + "'");
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
    return Status::Error(kErrorAccessDenied,
                         "'" + path.string() + "' is not a private folder of this user");
  }
  return Status::Ok();
}

std::optional<RememberedInstallation> ReadRememberedInstallation(const fs::path& config) {
  std::string text;
  if (config.empty() || !ReadWholeFile(config / kRememberedFile, &text).ok()) return std::nullopt;
  RememberedInstallation choice;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = std::string_view(text).substr(start, end - start);
    start = end + 1;
    if (line == "demo") choice.demo = true;
    if (line.starts_with("root=")) choice.root = fs::path(std::string(line.substr(5)));
    if (line.starts_with("user=")) choice.user = std::string(line.substr(5));
  }
  if (!choice.demo && choice.root.empty()) return std::nullopt;
  return choice;
}

Status RememberInstallation(const fs::path& config, const RememberedInstallation& choice) {
  if (config.empty()) return Status::Error(kErrorPathNotFound, "no configuration folder");
  const std::string root = choice.root.string();
  // A line break would end the line early and be read back as another path.
  if (root.find('\n') != std::string::npos || choice.user.find('\n') != std::string::npos) {
    return Status::Error(kErrorInvalidName, "remember '" + root + "'");
  }
  std::error_code error;
  fs::create_directories(config, error);
  std::string text = choice.demo ? "demo\n" : "root=" + root + "\n";
  if (!choice.user.empty()) text += "user=" + choice.user + "\n";
  return AtomicWriteFile(config / kRememberedFile, text);
}

}  // namespace hm::app
