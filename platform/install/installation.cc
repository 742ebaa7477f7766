#include "platform/install/installation.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <system_error>

#include "platform/hive/hive.h"
#include "platform/install/reg_data.h"
#include "platform/install/win_path.h"

namespace hm::install {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kConfigDir = "Windows\\System32\\config\\";
constexpr std::u16string_view kCurrentVersionKey = u"Microsoft\\Windows NT\\CurrentVersion";
constexpr std::u16string_view kProfileListKey =
    u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

struct MachineHive {
  std::string_view mount;
  std::string_view file;  // below Windows\System32\config
};
constexpr MachineHive kMachineHives[] = {
    {"HKLM\\SOFTWARE", "SOFTWARE"}, {"HKLM\\SYSTEM", "SYSTEM"},   {"HKLM\\SAM", "SAM"},
    {"HKLM\\SECURITY", "SECURITY"}, {"HKU\\.DEFAULT", "DEFAULT"},
};

bool IsServiceSid(std::string_view sid) {
  return sid == "S-1-5-18" || sid == "S-1-5-19" || sid == "S-1-5-20";
}

// "S-1-5-21-...": profile keys renamed by Windows ("...-1001.bak") are not profiles in use.
bool LooksLikeSid(std::string_view name) {
  if (name.substr(0, 4) != "S-1-") return false;
  return std::all_of(name.begin() + 4, name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return FileNamesEqual(a, b);
}

const hive::Value* FindValue(const hive::Key* key, std::u16string_view name) {
  return key == nullptr ? nullptr : key->FindValue(name);
}

std::string StringValue(const hive::Key* key, std::u16string_view name) {
  const hive::Value* value = FindValue(key, name);
  if (value == nullptr) return {};
  return RegStringToUtf8(value->data);
}

std::optional<uint32_t> DwordValue(const hive::Key* key, std::u16string_view name) {
  const hive::Value* value = FindValue(key, name);
  if (value == nullptr || value->type != hive::kRegDword) return std::nullopt;
  return RegDword(value->data);
}

WindowsVersion ReadVersion(const hive::Key* key) {
  WindowsVersion version;
  version.current_version = StringValue(key, u"CurrentVersion");
  version.build = StringValue(key, u"CurrentBuild");
  if (version.build.empty()) version.build = StringValue(key, u"CurrentBuildNumber");
  version.product_name = StringValue(key, u"ProductName");
  version.edition = StringValue(key, u"EditionID");
  version.display_version = StringValue(key, u"DisplayVersion");
  std::optional<uint32_t> major = DwordValue(key, u"CurrentMajorVersionNumber");
  std::optional<uint32_t> minor = DwordValue(key, u"CurrentMinorVersionNumber");
  if (major) {
    version.major = *major;
    version.minor = minor.value_or(0);
  } else {
    // Before Windows 10 CurrentVersion holds the real "major.minor".
    unsigned parsed_major = 0, parsed_minor = 0;
    if (std::sscanf(version.current_version.c_str(), "%u.%u", &parsed_major, &parsed_minor) == 2) {
      version.major = parsed_major;
      version.minor = parsed_minor;
    }
  }
  return version;
}

// The profile folder as a path below the root ("Users\demo"); empty when it is on another drive.
std::string ProfileBelowRoot(const std::string& profile_path) {
  Result<std::vector<std::string>> parts = SplitWindowsPath(ExpandSystemVariables(profile_path));
  if (!parts.ok() || parts->empty()) return {};
  std::string joined;
  for (const std::string& part : parts.value()) {
    if (!joined.empty()) joined += '\\';
    joined += part;
  }
  return joined;
}

// One profile key of ProfileList (named by its SID).
UserProfile ReadProfile(const hive::Key& key, const fs::path& root) {
  UserProfile user;
  user.sid = key.name_utf8();
  user.profile_path = StringValue(&key, u"ProfileImagePath");
  // The folder name, also for a profile on another drive (which has no folder here).
  std::string_view path = user.profile_path;
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.remove_suffix(1);
  user.name = std::string(path.substr(path.find_last_of("\\/") + 1));
  std::string below_root = ProfileBelowRoot(user.profile_path);
  if (!below_root.empty()) {
    Result<fs::path> folder = ResolveWindowsPath(root, below_root);
    if (folder.ok()) user.folder = folder.value();
  }
  return user;
}

bool IsRegularFile(const fs::path& file) {
  std::error_code ec;
  return fs::is_regular_file(file, ec);
}

}  // namespace

std::string ExpandSystemVariables(std::string_view text) {
  static constexpr std::pair<std::string_view, std::string_view> kVariables[] = {
      {"SystemDrive", "C:"}, {"SystemRoot", "C:\\Windows"}, {"windir", "C:\\Windows"}};
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t open = text.find('%', pos);
    size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    std::string_view name = text.substr(open + 1, close - open - 1);
    auto known = std::find_if(std::begin(kVariables), std::end(kVariables),
                              [&](const auto& v) { return EqualsIgnoreCase(v.first, name); });
    out.append(text.substr(pos, open - pos));
    if (known != std::end(kVariables)) {
      out.append(known->second);
      pos = close + 1;
    } else {
      out.push_back('%');  // not ours: keep it, and let its closing % start the next variable
      pos = open + 1;
    }
  }
  out.append(text.substr(pos));
  return out;
}

Result<std::unique_ptr<Installation>> Installation::Open(const std::filesystem::path& root) {
  std::error_code ec;
  fs::file_status status = fs::status(root, ec);
  if (!fs::exists(status)) {
    return Status::Error(kErrorPathNotFound, root.string() + " does not exist");
  }
  if (!fs::is_directory(status)) {
    return Status::Error(kErrorPathNotFound,
                         root.string() + " is not a Windows installation: it is not a folder");
  }
  for (std::string_view name : {"SYSTEM", "SOFTWARE"}) {
    std::string windows_path = std::string(kConfigDir) + std::string(name);
    Result<fs::path> file = ResolveWindowsPath(root, windows_path);
    if (!file.ok() || !IsRegularFile(file.value())) {
      uint32_t code = file.ok() ? kErrorFileNotFound : file.status().code();
      return Status::Error(
          code, root.string() + " is not a Windows installation: " + windows_path + " is missing");
    }
  }
  std::unique_ptr<Installation> installation(new Installation());
  installation->root_ = root;
  installation->AddMachineHives();
  installation->software_status_ = installation->ReadSoftware(installation->hives_[0].file);
  installation->AddUserHives();
  return installation;
}

void Installation::AddMachineHives() {
  for (const MachineHive& machine : kMachineHives) {
    std::string windows_path = std::string(kConfigDir) + std::string(machine.file);
    Result<fs::path> file = ResolveWindowsPath(root_, windows_path);
    if (!file.ok() || !IsRegularFile(file.value())) continue;
    hives_.push_back(HiveFile{std::string(machine.mount), windows_path, file.value(), {}});
  }
}

Status Installation::ReadSoftware(const std::filesystem::path& file) {
  Result<std::unique_ptr<hive::Hive>> opened =
      hive::Hive::Open(file, hive::OpenOptions{.read_only = true, .salvage = true});
  if (!opened.ok()) return opened.status();
  const hive::Hive& software = *opened.value();
  is_64bit_ = software.root().FindSubkey(u"WOW6432Node") != nullptr;
  version_ = ReadVersion(software.Find(kCurrentVersionKey));
  const hive::Key* profiles = software.Find(kProfileListKey);
  if (profiles == nullptr) return Status::Ok();
  for (const auto& key : profiles->subkeys()) {
    std::string sid = key->name_utf8();
    if (!LooksLikeSid(sid) || IsServiceSid(sid)) continue;
    users_.push_back(ReadProfile(*key, root_));
  }
  return Status::Ok();
}

void Installation::AddUserHives() {
  for (const UserProfile& user : users_) {
    if (user.folder.empty()) continue;
    std::string below_root = ProfileBelowRoot(user.profile_path);
    const std::pair<std::string, std::string> kUserHives[] = {
        {"HKU\\" + user.sid, below_root + "\\NTUSER.DAT"},
        {"HKU\\" + user.sid + "_Classes",
         below_root + "\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"},
    };
    for (const auto& [mount, windows_path] : kUserHives) {
      Result<fs::path> file = ResolveWindowsPath(root_, windows_path);
      if (!file.ok() || !IsRegularFile(file.value())) continue;
      hives_.push_back(HiveFile{mount, windows_path, file.value(), user.sid});
    }
  }
}

const HiveFile* Installation::FindHive(std::string_view mount) const {
  for (const HiveFile& hive : hives_) {
    if (EqualsIgnoreCase(hive.mount, mount)) return &hive;
  }
  return nullptr;
}

const UserProfile* Installation::DefaultUser() const {
  for (const UserProfile& user : users_) {
    if (FindHive("HKU\\" + user.sid) != nullptr) return &user;
  }
  return nullptr;
}

Result<std::filesystem::path> Installation::Resolve(std::string_view windows_path) const {
  return ResolveWindowsPath(root_, windows_path);
}

}  // namespace hm::install
