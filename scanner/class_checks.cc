// The checks of the COM registrations: application identifiers, classes ("Deep Scan"), type
// libraries and interfaces. Each walks its registration key under HKEY_LOCAL_MACHINE and then
// under HKEY_CURRENT_USER and reports references that lead nowhere.
#include "scanner/class_checks.h"

#include <algorithm>
#include <vector>

#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::scan {
namespace {

using reg::TRegistryAccess;

// One item routine's view of the scan: the thread, its access object, and the finding helpers.
class Item {
 public:
  explicit Item(TScanThread& thread) : thread_(thread) {}

  TScanThread& thread() { return thread_; }
  TRegistryAccess& access() { return thread_.Access(); }

  // A finding on `key` of the current root and view, with the item's caption.
  void Find(uint8_t action, uint8_t kind, const std::string& data, const std::string& value,
            const std::string& key) {
    thread_.Report(access().RootKey(), thread_.View(), action, kind, data, value, key,
                   thread_.ItemCaption());
  }
  // A test that makes a finding when `failed`; counted either way.
  bool Test(bool failed) { return thread_.CountTest(failed); }

  bool HasDefaultValue() { return reg::RegValueExists(access().CurrentKey(), ""); }
  bool ReadDefault(std::string* text) { return thread_.ReadText("", text); }

  // ItemCaption = the open key's default text, or the key's own name when there is none.
  void CaptionFromDefault(const std::string& key_path) {
    std::string caption;
    if (!ReadDefault(&caption) || caption.empty()) caption = reg::ExtractKeyTail(key_path, 0);
    thread_.SetItemCaption(std::move(caption));
  }

  // A subkey whose default value must name a registered class below `prefix` ("CLSID\",
  // "TypeLib\", or "" for a program identifier, tested with its version stripped).
  void ReferenceCheck(const std::string& key, uint8_t action, uint8_t kind,
                      const std::string& prefix, bool program_id) {
    if (!thread_.OpenForCheck(key)) return;
    std::string value;
    if (Test(!HasDefaultValue())) {
      Find(raDeleteKey, kind, "", "", key);
    } else if (ReadDefault(&value)) {
      const bool missing =
          program_id ? PassesWordFilter(value) && !thread_.ClassExists(value, /*strip=*/true)
                     : !thread_.ClassExists(prefix + value, /*strip=*/false);
      if (Test(missing)) Find(action, kind, value, "", key);
    }
    access().CloseKey();
  }

 private:
  TScanThread& thread_;
};

uint8_t Continue(TScanThread& thread) {
  return thread.Terminated() ? 2 : 0;
}

// --- Application identifiers ---

uint8_t AppIdItem(TScanThread& thread, const std::string& path) {
  Item item(thread);
  thread.StepProgress(path);
  if (!thread.OpenForCheck(path)) return Continue(thread);
  item.CaptionFromDefault(path);
  std::string value;
  if (thread.ReadText("AppID", &value)) {
    if (item.Test(value.empty() || !thread.ClassExists("AppID\\" + value, false))) {
      item.Find(raDeleteValue, 13, value, "AppID", path);
    }
  }
  if (thread.ReadText("LocalService", &value)) {
    const bool missing =
        value.empty() || !reg::KeyExists(reg::HKEY_LOCAL_MACHINE, thread.View() == 1,
                                         "System\\CurrentControlSet\\Services\\" + value);
    if (item.Test(missing)) item.Find(raDeleteValue, 20, value, "LocalService", path);
  }
  for (const char* name : {"DllSurrogate", "DllSurrogateExecutable"}) {
    // An empty surrogate means the system's own.
    if (!thread.ReadText(name, &value)) continue;
    const bool missing =
        !value.empty() && PassesWordFilter(value) && !thread.FileReferenceExists(value);
    if (item.Test(missing)) item.Find(raClearValue, 22, value, name, path);
  }
  return Continue(thread);
}

// --- Classes ---

void BitmapCheck(Item& item, const std::string& key) {
  TScanThread& thread = item.thread();
  if (!thread.OpenForCheck(key)) return;
  std::string value;
  if (item.Test(!item.HasDefaultValue())) {
    item.Find(raDeleteKey, 9, "", "", key);
  } else if (item.ReadDefault(&value) && value != "%1" && value != "\"%1\"") {
    const bool missing =
        PassesWordFilter(value) && !thread.FileReferenceExists(reg::StripCommaArgs(value));
    if (item.Test(missing)) item.Find(raDeleteKey, 9, value, "", key);
  }
  item.access().CloseKey();
}

void ServerCheck(Item& item, const std::string& key) {
  TScanThread& thread = item.thread();
  if (!thread.OpenForCheck(key)) return;
  std::string value;
  if (item.ReadDefault(&value)) {
    // A bare file name (no drive) is found by the loader's own search: never reported.
    const bool missing =
        value.empty() || (value.find(":\\") != std::string::npos && PassesWordFilter(value) &&
                          !thread.FileReferenceExists(value));
    if (item.Test(missing)) item.Find(raDeleteKey, 22, value, "", key);
  } else if (item.Test(reg::KeyIsEmpty(item.access()))) {
    item.Find(raDeleteKey, 17, "", "", key);
  }
  item.access().CloseKey();
}

// The names of the open key's subkeys, upper-cased (ASCII letters), so that the many subkey
// checks of a class look only for subkeys it has; an open of a missing subkey fails anyway.
std::vector<std::string> SubkeyNames(TRegistryAccess& access) {
  std::vector<std::string> names;
  reg::KeyInfo info;
  if (reg::RegQueryInfoKeyA(access.CurrentKey(), &info) != kErrorSuccess) return names;
  char name[256];
  for (uint32_t index = 0; index < info.subkeys; ++index) {
    uint32_t size = sizeof name;
    if (reg::RegEnumKeyExA(access.CurrentKey(), index, name, &size) != kErrorSuccess) continue;
    std::string upper(name, size);
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    names.push_back(std::move(upper));
  }
  return names;
}

bool Has(const std::vector<std::string>& upper_names, std::string_view name) {
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  return std::any_of(upper_names.begin(), upper_names.end(), [&](const std::string& candidate) {
    return candidate.size() == name.size() &&
           std::equal(name.begin(), name.end(), candidate.begin(),
                      [&](char a, char b) { return upper(a) == b; });
  });
}

uint8_t ClassItem(TScanThread& thread, const std::string& path) {
  Item item(thread);
  thread.StepProgress(path);
  if (!thread.OpenPlain(path)) return Continue(thread);
  item.CaptionFromDefault(path);
  const std::vector<std::string> subkeys = SubkeyNames(item.access());
  // In the 64-bit view only classes of their own are examined; the subkey checks below find
  // nothing for a shared class, since OpenForCheck refuses its subkeys too.
  const bool own_key = thread.View() != 1 || !reg::CurrentKeyReflectionEnabled(item.access());
  std::string value;
  if (own_key && thread.ReadText("AppID", &value)) {
    if (item.Test(!thread.ClassExists("AppID\\" + value, false))) {
      item.Find(raDeleteValue, 13, value, "AppID", path);
    }
  }
  if (Has(subkeys, "DefaultIcon")) IconCheck(thread, path);
  for (const char* sub : {"ToolboxBitmap", "ToolboxBitmap32"}) {
    if (Has(subkeys, sub)) BitmapCheck(item, path + "\\" + sub);
  }
  for (const char* sub : {"ProgID", "VersionIndependentProgID"}) {
    if (Has(subkeys, sub)) item.ReferenceCheck(path + "\\" + sub, raDeleteKey, 14, "", true);
  }
  for (const char* sub : {"InprocHandler", "InprocHandler32", "InprocServer", "InprocServer32",
                          "LocalServer", "LocalServer32"}) {
    if (Has(subkeys, sub)) ServerCheck(item, path + "\\" + sub);
  }
  for (const char* sub : {"AutoConvertTo", "AutoTreatAs", "TreatAs"}) {
    if (Has(subkeys, sub)) {
      item.ReferenceCheck(path + "\\" + sub, raDeleteValueAndEmptyKey, 12, "CLSID\\", false);
    }
  }
  if (Has(subkeys, "TypeLib")) {
    item.ReferenceCheck(path + "\\TypeLib", raDeleteKey, 19, "TypeLib\\", false);
  }

  if (Has(subkeys, "ExtendedErrors") && thread.OpenPlain(path + "\\ExtendedErrors")) {
    item.access().EnumSubKeys(
        false, 0,
        [&item](void*, TRegistryAccess&, const std::string& error_key) -> uint8_t {
          const std::string name = reg::ExtractKeyTail(error_key, 0);
          if (item.Test(!item.thread().ClassExists("CLSID\\" + name, false))) {
            item.Find(raDeleteKey, 12, name, "", error_key);
          }
          return Continue(item.thread());
        },
        nullptr);
  }
  return Continue(thread);
}

// --- Type libraries ---

void Win32Check(Item& item, const std::string& key) {
  TScanThread& thread = item.thread();
  std::string value;
  if (!thread.OpenForCheck(key) || !item.ReadDefault(&value) || value.empty() ||
      !PassesWordFilter(value)) {
    return;
  }
  if (item.Test(!thread.FileReferenceExists(value))) item.Find(raDeleteKey, 22, value, "", key);
}

uint8_t TypeLibVersion(TScanThread& thread, const std::string& version) {
  Item item(thread);
  if (!thread.OpenPlain(version)) return Continue(thread);
  std::string caption;
  if (!item.ReadDefault(&caption)) caption.clear();
  thread.SetItemCaption(caption);
  Win32Check(item, version + "\\0\\win32");
  if (reg::IsWow64()) Win32Check(item, version + "\\0\\win64");
  const std::string help = version + "\\HelpDir";
  if (thread.OpenForCheck(help)) {
    std::string value;
    if (item.Test(!item.HasDefaultValue())) {
      item.Find(raDeleteKey, 16, "", "", help);
    } else if (item.ReadDefault(&value)) {
      const std::string folder = reg::StripQuotes(value);
      const bool missing = !folder.empty() && !reg::PathExistsEx(folder, /*need_full_path=*/true);
      if (item.Test(missing)) item.Find(raDeleteKey, 16, value, "", help);
    }
  }
  item.access().CloseKey();
  return Continue(thread);
}

uint8_t TypeLibItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  if (!thread.OpenPlain(path)) return Continue(thread);
  thread.Access().EnumSubKeys(
      false, 0,
      [&thread](void*, TRegistryAccess&, const std::string& version) -> uint8_t {
        return TypeLibVersion(thread, version);
      },
      nullptr);
  return Continue(thread);
}

// --- Interfaces ---

uint8_t InterfaceItem(TScanThread& thread, const std::string& path) {
  Item item(thread);
  thread.StepProgress(path);
  if (!thread.OpenPlain(path)) return Continue(thread);
  item.CaptionFromDefault(path);
  const std::string typelib = path + "\\TypeLib";
  if (thread.OpenForCheck(typelib)) {
    std::string value;
    if (item.Test(!item.HasDefaultValue())) {
      item.Find(raDeleteKey, 19, "", "", typelib);
    } else if (item.ReadDefault(&value)) {
      if (item.Test(value.empty() || !thread.ClassExists("TypeLib\\" + value, false))) {
        item.Find(raDeleteKey, 19, value, "", typelib);
      }
    }
    item.access().CloseKey();
  }
  for (const char* sub : {"\\ProxyStubClsid", "\\ProxyStubClsid32"}) {
    item.ReferenceCheck(path + sub, raDeleteKey, 12, "CLSID\\", false);
  }
  return Continue(thread);
}

// The frame of the four categories: the registration key under both roots, counted or walked.
}  // namespace

void IconCheck(TScanThread& thread, const std::string& key_path) {
  Item item(thread);
  const std::string key = key_path + "\\DefaultIcon";
  if (!thread.OpenForCheck(key)) return;
  std::string value;
  if (item.Test(!item.HasDefaultValue())) {
    item.Find(raDeleteKey, 10, "", "", key);
  } else if (item.ReadDefault(&value) && value.find("%1") == std::string::npos &&
             value.find("\"\",-1") == std::string::npos && value.find("@{") == std::string::npos) {
    const bool missing = value.empty() || (PassesWordFilter(value) &&
                                           !thread.FileReferenceExists(reg::StripCommaArgs(value)));
    if (item.Test(missing)) item.Find(raDeleteKey, 10, value, "", key);
  }
  item.access().CloseKey();
}

void AddClassChecks(CategoryRoutines* routines) {
  (*routines)[ecAppIDs] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, "Software\\Classes\\AppID", AppIdItem);
  };
  (*routines)[ecCLSIDs] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, "Software\\Classes\\CLSID", ClassItem);
  };
  (*routines)[ecTypeLib] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, "Software\\Classes\\TypeLib", TypeLibItem);
  };
  (*routines)[ecInterfaces] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, "Software\\Classes\\Interface", InterfaceItem);
  };
}

void WalkBothRoots(TScanThread& thread, TRegistryAccess& access, bool count_only, const char* key,
                   ItemRoutine item, void (*after_walk)(TScanThread& thread)) {
  for (reg::HKEY root : {reg::HKEY_LOCAL_MACHINE, reg::HKEY_CURRENT_USER}) {
    if (thread.Terminated()) return;
    access.SetRootKey(root);
    if (!thread.OpenPlain(key)) continue;
    if (count_only) {
      reg::TRegKeyInfo info;
      if (access.GetKeyInfo(&info)) thread.AddToCount(static_cast<int>(info.num_sub_keys));
      continue;
    }
    access.EnumSubKeys(
        false, 0,
        [&thread, item](void*, TRegistryAccess&, const std::string& path) -> uint8_t {
          return item(thread, path);
        },
        nullptr);
    if (after_walk != nullptr && !thread.Terminated()) after_walk(thread);
  }
}

}  // namespace hm::scan
