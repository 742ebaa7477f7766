// list: a key with its values, and its subkeys (recursively on request).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/render.h"
#include "platform/hive/hive.h"
#include "platform/hive/upcase.h"
#include "platform/install/installation.h"
#include "platform/install/reg_data.h"

namespace hm::cli {
namespace {

namespace fs = std::filesystem;

bool Same(std::string_view a, std::string_view b) {
  return hive::NamesEqual(hive::FromUtf8(a), hive::FromUtf8(b));
}

std::vector<std::string> SplitKeyText(std::string_view text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\\', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t first) {
  std::string joined;
  for (size_t i = first; i < parts.size(); ++i) joined += (i > first ? "\\" : "") + parts[i];
  return joined;
}

void PrintKey(const hive::Key& key, const std::string& shown, bool recursive) {
  std::printf("%s\n", shown.c_str());
  for (const hive::Value& value : key.values()) {
    std::printf("    %-28s %-14s %s\n", ValueLabel(value).c_str(), TypeName(value.type).c_str(),
                RenderData(value.type, value.data).c_str());
  }
  if (!recursive) {
    for (const auto& subkey : key.subkeys()) std::printf("    %s\\\n", subkey->name_utf8().c_str());
    return;
  }
  for (const auto& subkey : key.subkeys()) {
    std::printf("\n");
    const char* separator = !shown.empty() && shown.back() == '\\' ? "" : "\\";
    PrintKey(*subkey, shown + separator + subkey->name_utf8(), recursive);
  }
}

Result<std::unique_ptr<hive::Hive>> OpenForReading(const fs::path& file) {
  return hive::Hive::Open(file, hive::OpenOptions{.read_only = true, .salvage = true});
}

int ListInHive(const hive::Hive& hive, const std::string& below, const std::string& shown_prefix,
               bool recursive) {
  const hive::Key* key = below.empty() ? &hive.root() : hive.Find(hive::FromUtf8(below));
  if (key == nullptr)
    return Fail("no key " + shown_prefix + (shown_prefix.empty() ? "" : "\\") + below);
  // Keys of a hive file show as paths from its root ("\\Microsoft\\Windows").
  std::string path = hive::ToUtf8(key->path());
  std::string shown = shown_prefix.empty() ? "\\" + path
                      : path.empty()       ? shown_prefix
                                           : shown_prefix + "\\" + path;
  PrintKey(*key, shown, recursive);
  return kExitOk;
}

// Short root names for the long ones Windows also accepts.
std::string ShortRoot(const std::string& root) {
  static const std::pair<const char*, const char*> kRoots[] = {
      {"HKEY_LOCAL_MACHINE", "HKLM"},  {"HKEY_USERS", "HKU"},
      {"HKEY_CURRENT_USER", "HKCU"},   {"HKEY_CLASSES_ROOT", "HKCR"},
      {"HKEY_CURRENT_CONFIG", "HKCC"},
  };
  for (const auto& [long_name, short_name] : kRoots) {
    if (Same(root, long_name) || Same(root, short_name)) return short_name;
  }
  return root;
}

// Rewrites a key text to the form the mount points use: HKCU becomes HKU\<SID>, a user's
// Software\Classes becomes HKU\<SID>_Classes, HKCC its key in SYSTEM.
Result<std::vector<std::string>> Canonical(const install::Installation& installation,
                                           std::vector<std::string> parts) {
  parts[0] = ShortRoot(parts[0]);
  if (parts[0] == "HKCR") {
    return Status::Error(kErrorInvalidParameter,
                         "HKCR is a merged view; list HKLM\\SOFTWARE\\Classes or "
                         "HKCU\\Software\\Classes instead");
  }
  if (parts[0] == "HKCC") {
    parts.erase(parts.begin());
    parts.insert(parts.begin(),
                 {"HKLM", "SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"});
  }
  if (parts[0] == "HKCU") {
    const install::UserProfile* user = installation.DefaultUser();
    if (user == nullptr) {
      return Status::Error(kErrorFileNotFound, "HKCU: the installation has no user with a hive");
    }
    parts[0] = user->sid;
    parts.insert(parts.begin(), "HKU");
  }
  if (parts[0] == "HKU" && parts.size() >= 4 && Same(parts[2], "Software") &&
      Same(parts[3], "Classes")) {
    parts[1] += "_Classes";
    parts.erase(parts.begin() + 2, parts.begin() + 4);
  }
  return parts;
}

// CurrentControlSet exists only in a running Windows: it is the set Select\Current names.
void MapCurrentControlSet(const hive::Hive& system, std::vector<std::string>* parts) {
  if (parts->size() < 3 || !Same((*parts)[2], "CurrentControlSet")) return;
  const hive::Key* select = system.Find(u"Select");
  const hive::Value* current = select ? select->FindValue(u"Current") : nullptr;
  uint32_t number = current ? install::RegDword(current->data).value_or(1) : 1;
  char name[32];
  std::snprintf(name, sizeof name, "ControlSet%03u", number);
  (*parts)[2] = name;
}

int ListMountPoints(const install::Installation& installation, const std::string& below) {
  bool any = false;
  for (const install::HiveFile& file : installation.hives()) {
    if (!below.empty() && !Same(file.mount.substr(0, below.size() + 1), below + "\\")) continue;
    std::printf("%-56s %s\n", file.mount.c_str(), file.windows_path.c_str());
    any = true;
  }
  return any ? kExitOk : Fail("no hive is mounted at " + below);
}

int ListInInstallation(const fs::path& path, const std::string& key, bool recursive) {
  Result<std::unique_ptr<install::Installation>> opened = install::Installation::Open(path);
  if (!opened.ok()) return Fail(opened.status().ToString());
  const install::Installation& installation = *opened.value();
  std::vector<std::string> parts = SplitKeyText(key);
  if (parts.empty()) return ListMountPoints(installation, "");
  Result<std::vector<std::string>> canonical = Canonical(installation, parts);
  if (!canonical.ok()) return Fail(canonical.status().context());
  parts = std::move(canonical).value();
  if (parts.size() == 1) return ListMountPoints(installation, parts[0]);
  const install::HiveFile* file = installation.FindHive(parts[0] + "\\" + parts[1]);
  if (file == nullptr) return Fail("no hive is mounted at " + parts[0] + "\\" + parts[1]);
  Result<std::unique_ptr<hive::Hive>> hive = OpenForReading(file->file);
  if (!hive.ok()) return Fail(hive.status().ToString());
  if (file->mount == install::Installation::kSystem) MapCurrentControlSet(*hive.value(), &parts);
  return ListInHive(*hive.value(), Join(parts, 2), file->mount, recursive);
}

}  // namespace

int List(const fs::path& path, const std::string& key, bool recursive) {
  switch (KindOf(path)) {
    case PathKind::kMissing:
      return Fail(path.string() + " does not exist");
    case PathKind::kFolder:
      return ListInInstallation(path, key, recursive);
    case PathKind::kFile:
      break;
  }
  Result<std::unique_ptr<hive::Hive>> hive = OpenForReading(path);
  if (!hive.ok()) return Fail(hive.status().ToString());
  return ListInHive(*hive.value(), Join(SplitKeyText(key), 0), "", recursive);
}

}  // namespace hm::cli
