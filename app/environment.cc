#include "app/environment.h"

#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/utf.h"

#ifndef HM_PROGRAM_VERSION
#define HM_PROGRAM_VERSION "0.0.0.0"
#endif

namespace hm::app {
namespace {

namespace fs = std::filesystem;
using reg::HKEY;

constexpr std::u16string_view kNtCurrentVersion =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::u16string_view kCurrentVersion = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// A key of HKLM opened for reading in the 64-bit view, closed when it goes out of scope.
class MachineKey {
 public:
  MachineKey(reg::HostRegistry& registry, std::u16string_view path) : registry_(registry) {
    if (registry.OpenKey(reg::HKEY_LOCAL_MACHINE, path, reg::KEY_READ | reg::KEY_WOW64_64KEY,
                         &key_) != kErrorSuccess) {
      key_ = 0;
    }
  }
  ~MachineKey() {
    if (key_ != 0) registry_.CloseKey(key_);
  }
  MachineKey(const MachineKey&) = delete;
  MachineKey& operator=(const MachineKey&) = delete;

  bool ok() const { return key_ != 0; }

  std::optional<uint32_t> Dword(std::u16string_view name) {
    reg::HostRegistry::ValueEntry value;
    if (!ok() || registry_.QueryValue(key_, name, &value) != kErrorSuccess ||
        value.type != reg::REG_DWORD || value.data.size() != 4) {
      return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(value.data.data());
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
  }

  std::optional<std::string> Text(std::u16string_view name) {
    reg::HostRegistry::ValueEntry value;
    if (!ok() || registry_.QueryValue(key_, name, &value) != kErrorSuccess ||
        !reg::IsTextType(value.type)) {
      return std::nullopt;
    }
    std::u16string text(value.data.size() / 2, u'\0');
    std::memcpy(text.data(), value.data.data(), text.size() * 2);
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    return ToUtf8(text);
  }

 private:
  reg::HostRegistry& registry_;
  HKEY key_ = 0;
};

bool ParseMajorMinor(const std::string& text, uint32_t* major, uint32_t* minor) {
  unsigned parsed_major = 0;
  unsigned parsed_minor = 0;
  if (std::sscanf(text.c_str(), "%u.%u", &parsed_major, &parsed_minor) != 2) return false;
  *major = parsed_major;
  *minor = parsed_minor;
  return true;
}

bool WritableByThisProcess(const fs::path& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

std::string WithTrailingBackslash(std::string path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

}  // namespace

int WindowsVersionCode(const VersionFacts& facts) {
  if (facts.has_version_numbers && facts.major_number == 10 && facts.minor_number == 0) return 12;
  const uint32_t major = facts.major;
  const uint32_t minor = facts.minor;
  if (facts.platform == 1 && major == 4) {
    if (minor == 0) return 1;
    if (minor == 10) return 2;
    if (minor == 90) return 3;
    return 0;
  }
  if (facts.platform != 2) return 0;
  if (major <= 4) return 4;
  if (major == 5 && minor <= 2) return 5 + static_cast<int>(minor);
  if (major == 6 && minor <= 3) return 8 + static_cast<int>(minor);
  return 0;
}

VersionFacts ReadVersionFacts(reg::HostRegistry& registry) {
  VersionFacts facts;
  MachineKey nt(registry, kNtCurrentVersion);
  std::optional<uint32_t> major_number = nt.Dword(u"CurrentMajorVersionNumber");
  std::optional<uint32_t> minor_number = nt.Dword(u"CurrentMinorVersionNumber");
  if (major_number && minor_number) {
    facts.has_version_numbers = true;
    facts.major_number = *major_number;
    facts.minor_number = *minor_number;
  }
  if (std::optional<std::string> version = nt.Text(u"CurrentVersion")) {
    if (ParseMajorMinor(*version, &facts.major, &facts.minor)) facts.platform = 2;
    return facts;
  }
  if (nt.ok()) return facts;
  // Windows 95, 98 and Me keep their version in the other key ("4.10.1998").
  MachineKey nine_x(registry, kCurrentVersion);
  if (std::optional<std::string> number = nine_x.Text(u"VersionNumber")) {
    if (ParseMajorMinor(*number, &facts.major, &facts.minor)) facts.platform = 1;
  }
  return facts;
}

bool MayChangeMachineHives(const install::Installation& installation) {
  for (std::string_view mount :
       {install::Installation::kSoftware, install::Installation::kSystem}) {
    const install::HiveFile* hive = installation.FindHive(mount);
    if (hive == nullptr || !WritableByThisProcess(hive->file) ||
        !WritableByThisProcess(hive->file.parent_path())) {
      return false;
    }
  }
  return true;
}

bool InHostAdministratorsGroup() {
  if (::geteuid() == 0) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int read = ::getgroups(count, groups.data());
  for (int i = 0; i < read; ++i) {
    const struct group* entry = ::getgrgid(groups[static_cast<size_t>(i)]);
    if (entry == nullptr) continue;
    const std::string_view name = entry->gr_name;
    if (name == "sudo" || name == "wheel" || name == "admin") return true;
  }
  return false;
}

bool AdministratorFlag(int windows_version, bool strict_administrator, bool in_admin_group) {
  if (windows_version >= 1 && windows_version <= 3) return true;
  return strict_administrator || in_admin_group;
}

Environment PrepareEnvironment(reg::HostRegistry& registry, const EnvironmentOptions& options) {
  Environment environment;
  environment.program_folder = options.program_folder;
  environment.program_version = ProgramVersion();
  MachineKey nt(registry, kNtCurrentVersion);
  std::optional<std::string> system_root = nt.Text(u"SystemRoot");
  if (!system_root || system_root->empty()) system_root = "C:\\Windows";
  environment.windows_folder = WithTrailingBackslash(*system_root);
  environment.system_folder = environment.windows_folder + "system32\\";
  environment.windows_version = WindowsVersionCode(ReadVersionFacts(registry));
  environment.strict_administrator = MayChangeMachineHives(registry.installation());
  environment.administrator = AdministratorFlag(
      environment.windows_version, environment.strict_administrator, InHostAdministratorsGroup());
  environment.data_folder =
      PrepareDataFolder(registry.installation(), registry.user(), options.local_app_data,
                        options.host_data_fallback, options.program_folder);
  environment.data_folder_windows = environment.data_folder.windows_path();
  return environment;
}

std::string ProgramVersion() {
  return HM_PROGRAM_VERSION;
}

}  // namespace hm::app
