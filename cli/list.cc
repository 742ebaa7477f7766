// list: a key with its values, and its subkeys (recursively on request). In a hive file keys are
// found directly; in an installation through its registry, as a running Windows presents it.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/installation_registry.h"
#include "cli/render.h"
#include "platform/hive/hive.h"
#include "platform/install/installation.h"
#include "registry/host_registry.h"

namespace hm::cli {
namespace {

namespace fs = std::filesystem;

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
    for (const auto& subkey : key.subkeys()) {
      std::printf("    %s\\\n", Printable(subkey->name()).c_str());
    }
    return;
  }
  for (const auto& subkey : key.subkeys()) {
    std::printf("\n");
    const char* separator = !shown.empty() && shown.back() == '\\' ? "" : "\\";
    PrintKey(*subkey, shown + separator + Printable(subkey->name()), recursive);
  }
}

Result<std::unique_ptr<hive::Hive>> OpenForReading(const fs::path& file) {
  return hive::Hive::Open(file, hive::OpenOptions{.read_only = true, .salvage = true});
}

int ListInHive(const hive::Hive& hive, const std::string& below, bool recursive) {
  const hive::Key* key = below.empty() ? &hive.root() : hive.Find(hive::FromUtf8(below));
  if (key == nullptr) return Fail("no key \\" + below);
  // Keys of a hive file show as paths from its root ("\\Microsoft\\Windows").
  PrintKey(*key, "\\" + Printable(key->path()), recursive);
  return kExitOk;
}

int ListMountPoints(const install::Installation& installation) {
  for (const install::HiveFile& file : installation.hives()) {
    std::printf("%-56s %s\n", file.mount.c_str(), file.windows_path.c_str());
  }
  return kExitOk;
}

// Closes a key handle of the registry when it goes out of scope.
class OpenedKey {
 public:
  OpenedKey(reg::HostRegistry& registry, reg::HKEY key) : registry_(registry), key_(key) {}
  ~OpenedKey() { (void)registry_.CloseKey(key_); }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

 private:
  reg::HostRegistry& registry_;
  reg::HKEY key_;
};

// Lists keys of an installation's registry in one view. A part that cannot be read is noted in
// place and makes the listing incomplete; the rest is still listed.
class RegistryLister {
 public:
  RegistryLister(reg::HostRegistry& registry, reg::REGSAM view, bool recursive)
      : registry_(registry), access_(reg::KEY_READ | view), recursive_(recursive) {}

  bool complete() const { return complete_; }

  reg::LSTATUS Open(reg::HKEY parent, std::u16string_view subkey, reg::HKEY* key) {
    return registry_.OpenKey(parent, subkey, access_, key);
  }

  void PrintKey(reg::HKEY key, const std::string& shown) {
    std::printf("%s\n", shown.c_str());
    if (reg::LSTATUS error = PrintValues(key)) NoteUnreadable("values", error);
    std::vector<std::u16string> names;
    if (reg::LSTATUS error = SubkeyNames(key, &names)) NoteUnreadable("subkeys", error);
    for (const std::u16string& name : names) {
      if (recursive_) {
        std::printf("\n");
        PrintSubkey(key, name, shown + "\\" + Printable(name));
      } else {
        std::printf("    %s\\\n", Printable(name).c_str());
      }
    }
  }

 private:
  void PrintSubkey(reg::HKEY parent, const std::u16string& name, const std::string& shown) {
    reg::HKEY key = 0;
    if (reg::LSTATUS error = Open(parent, name, &key)) {
      std::printf("%s\n", shown.c_str());
      NoteUnreadable("key", error);
      return;
    }
    OpenedKey opened(registry_, key);
    PrintKey(key, shown);
  }

  reg::LSTATUS PrintValues(reg::HKEY key) {
    for (uint32_t index = 0;; ++index) {
      reg::LSTATUS error = registry_.EnumValue(key, index, [](const hive::Value& value) {
        std::printf("    %-28s %-14s %s\n", ValueLabel(value).c_str(), TypeName(value.type).c_str(),
                    RenderData(value.type, value.data).c_str());
      });
      if (error == kErrorNoMoreItems) return kErrorSuccess;
      if (error != kErrorSuccess) return error;
    }
  }

  reg::LSTATUS SubkeyNames(reg::HKEY key, std::vector<std::u16string>* names) {
    for (uint32_t index = 0;; ++index) {
      std::u16string name;
      reg::LSTATUS error = registry_.EnumKey(key, index, &name);
      if (error == kErrorNoMoreItems) return kErrorSuccess;
      if (error != kErrorSuccess) return error;
      names->push_back(std::move(name));
    }
  }

  void NoteUnreadable(const char* what, reg::LSTATUS error) {
    std::printf("    (%s unreadable: %s)\n", what, WinErrorMessage(error).c_str());
    complete_ = false;
  }

  reg::HostRegistry& registry_;
  const reg::REGSAM access_;
  const bool recursive_;
  bool complete_ = true;
};

int ListInInstallation(const fs::path& path, const std::string& key_text,
                       const ListOptions& options) {
  // Listing never writes, so the registry is opened read-only whatever was asked.
  RegistryChoice choice = options.registry;
  choice.read_only = true;
  Result<std::unique_ptr<reg::HostRegistry>> opened = OpenInstallationRegistry(path, choice);
  if (!opened.ok()) return Fail(opened.status().ToString());
  reg::HostRegistry& registry = *opened.value();
  if (key_text.empty()) return ListMountPoints(registry.installation());

  std::optional<KeyText> key = ParseKeyText(key_text);
  if (!key) {
    return Fail("unknown root key in " + key_text +
                " (use HKLM, HKCU, HKCR, HKU, HKCC or their full names)");
  }
  RegistryLister lister(registry, options.view == 32 ? reg::KEY_WOW64_32KEY : reg::KEY_WOW64_64KEY,
                        options.recursive);
  reg::HKEY handle = 0;
  if (reg::LSTATUS error = lister.Open(key->root, key->path, &handle)) {
    return Fail(key_text + ": " + WinErrorMessage(error));
  }
  OpenedKey opened_key(registry, handle);
  lister.PrintKey(handle, ShowKey(*key));
  return lister.complete() ? kExitOk : kExitDamaged;
}

}  // namespace

int List(const fs::path& path, const std::string& key, const ListOptions& options) {
  switch (KindOf(path)) {
    case PathKind::kMissing:
      return Fail(path.string() + " does not exist");
    case PathKind::kFolder:
      return ListInInstallation(path, key, options);
    case PathKind::kFile:
      break;
  }
  Result<std::unique_ptr<hive::Hive>> hive = OpenForReading(path);
  if (!hive.ok()) return Fail(hive.status().ToString());
  return ListInHive(*hive.value(), Join(SplitKeyText(key), 0), options.recursive);
}

}  // namespace hm::cli
