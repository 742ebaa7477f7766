// The checks of the lists that name program files, folders and installed software. Each
// category walks one or more list keys, in one of two shapes: a key frame steps through the
// direct subkeys of a list key (one item per program), a value frame through its values (one
// item per file, folder or command).
#include "scanner/software_checks.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/install/win_path.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::scan {
namespace {

using reg::HKEY;
using reg::TRegistryAccess;

constexpr HKEY kMachine = reg::HKEY_LOCAL_MACHINE;
constexpr HKEY kUser = reg::HKEY_CURRENT_USER;

constexpr char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";
constexpr char kControl[] = "System\\CurrentControlSet\\Control\\";

std::string CurrentVersionKey(const char* tail) {
  return std::string(kCurrentVersion) + tail;
}

uint8_t Continue(TScanThread& thread) {
  return thread.Terminated() ? 2 : 0;
}

// A finding on `key` of the access object's root, in the current view.
void Find(TScanThread& thread, uint8_t action, uint8_t kind, const std::string& data,
          const std::string& value, const std::string& key, const std::string& caption) {
  thread.Report(thread.Access().RootKey(), thread.View(), action, kind, data, value, key, caption);
}

std::string WithBackslash(std::string path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

std::string WithoutBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// The file name of a path: the text after its last backslash or drive colon.
std::string FileNamePart(std::string_view path) {
  const size_t cut = path.find_last_of("\\:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// Whether the open key has a REG_DWORD value `name` that is not 0.
bool DwordSet(TRegistryAccess& access, const char* name) {
  uint8_t bytes[4] = {};
  uint32_t type = 0;
  uint32_t size = sizeof bytes;
  if (reg::RegQueryValueExA(access.CurrentKey(), name, &type, bytes, &size) != kErrorSuccess ||
      type != reg::REG_DWORD || size != sizeof bytes) {
    return false;
  }
  return (bytes[0] | bytes[1] | bytes[2] | bytes[3]) != 0;
}

// Whether the open key has a value `name` of type REG_SZ (REG_EXPAND_SZ does not count).
bool IsPlainString(TRegistryAccess& access, const char* name) {
  uint32_t type = 0;
  uint32_t size = 0;
  const reg::LSTATUS error =
      reg::RegQueryValueExA(access.CurrentKey(), name, &type, nullptr, &size);
  return (error == kErrorSuccess || error == kErrorMoreData) && type == reg::REG_SZ;
}

// Whether the text names a path on a fixed drive once its variables are expanded: a missing
// folder on a removable, network or unmapped drive may only be out of reach.
bool OnFixedDrive(std::string_view text) {
  const std::string expanded = reg::ExpandEnvVars(text, false);
  return reg::GetDriveTypeA(reg::ExtractFileDrive(expanded)) == install::kDriveFixed;
}

// --- Frames ---

using KeyItem = uint8_t (*)(TScanThread& thread, const std::string& path);

// Counts or walks the direct subkeys of `list_key` below `root`.
void KeyFrame(TScanThread& thread, bool count_only, HKEY root, const std::string& list_key,
              KeyItem item) {
  if (thread.Terminated()) return;
  TRegistryAccess& access = thread.Access();
  access.SetRootKey(root);
  if (!thread.OpenPlain(list_key)) return;
  if (count_only) {
    reg::TRegKeyInfo info;
    if (access.GetKeyInfo(&info)) thread.AddToCount(static_cast<int>(info.num_sub_keys));
    return;
  }
  access.EnumSubKeys(
      false, 0,
      [&thread, item](void*, TRegistryAccess&, const std::string& path) -> uint8_t {
        return item(thread, path);
      },
      nullptr);
}

// One value of a list key, as a value routine sees it.
struct ListValue {
  const std::string& key;  // the list key, below the access object's root
  const std::string& name;
  reg::TRegValueType type;
  std::string_view data;

  bool IsText() const { return type == reg::rvString || type == reg::rvExpandString; }
  // The data as text, up to its first NUL.
  std::string Text() const { return std::string(data.substr(0, data.find('\0'))); }
};

enum class Open { kPlain, kForCheck };

// Counts or walks the values of `list_key` below `root`. The routine must leave the access
// object's open key alone: the walk reads the values from it.
template <typename ValueRoutine>
void ValueFrame(TScanThread& thread, bool count_only, HKEY root, const std::string& list_key,
                Open open, const ValueRoutine& routine) {
  if (thread.Terminated()) return;
  TRegistryAccess& access = thread.Access();
  access.SetRootKey(root);
  const bool opened =
      open == Open::kForCheck ? thread.OpenForCheck(list_key) : thread.OpenPlain(list_key);
  if (!opened) return;
  if (count_only) {
    reg::TRegKeyInfo info;
    if (access.GetKeyInfo(&info)) thread.AddToCount(static_cast<int>(info.num_values));
    return;
  }
  access.EnumValues(
      [&](void*, TRegistryAccess&, const std::string&, uint32_t size, const uint8_t* data,
          reg::TRegValueType type, const std::string& name) {
        routine(thread, ListValue{list_key, name, type,
                                  std::string_view(reinterpret_cast<const char*>(data), size)});
        return !thread.Terminated();
      },
      nullptr);
}

// --- Application paths ---

// The default value names the program; "Path" lists folders the program needs. A program that
// is not where the default says is still accepted when a file of the key's own name lies in one
// of those folders.
uint8_t AppPathItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  if (!thread.OpenForCheck(path)) return Continue(thread);
  const std::string name = reg::ExtractKeyTail(path, 0);
  thread.SetItemCaption(name);
  std::string program;
  bool found = true;
  if (thread.ReadText("", &program)) {
    found = program.empty() || reg::FolderExistsEx(program) || thread.FileReferenceExists(program);
  }
  std::string list;
  if (thread.ReadText("Path", &list)) {
    std::vector<std::string> folders;
    reg::SplitOutsideQuotes(list.data(), list.size(), &folders);
    // A single folder goes with its value; one of several is taken out of the list.
    const bool single = folders.size() < 2;
    const uint8_t action = single ? raDeleteValue : raRemoveListItem;
    const uint8_t kind = single ? 22 : 24;
    for (const std::string& folder : folders) {
      if (thread.Terminated()) return Continue(thread);
      if (folder.empty()) continue;
      if (thread.CountTest(!reg::FolderExistsEx(folder))) {
        Find(thread, action, kind, folder, "Path", path, name);
      }
      if (!found) found = reg::FileExistsEx(WithBackslash(reg::StripQuotes(folder)) + name);
    }
  }
  if (thread.CountTest(!found)) Find(thread, raDeleteValue, 22, program, "", path, name);
  return Continue(thread);
}

// --- Add/remove caches and uninstall entries ---

uint8_t ArpCacheItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  if (!thread.OpenForCheck(path)) return Continue(thread);
  // One read: a buffer a byte larger than the record tells a longer value by its size.
  char record[kSlowInfoCacheSize + 1];
  uint32_t type = 0;
  uint32_t size = sizeof record;
  if (reg::RegQueryValueExA(thread.Access().CurrentKey(), "SlowInfoCache", &type,
                            reinterpret_cast<uint8_t*>(record), &size) != kErrorSuccess ||
      type != reg::REG_BINARY || size != kSlowInfoCacheSize) {
    return Continue(thread);
  }
  const std::optional<std::string> program =
      SlowInfoCacheProgram(std::string_view(record, kSlowInfoCacheSize));
  if (!program) return Continue(thread);
  if (thread.CountTest(PassesWordFilter(*program) && !reg::FileExistsEx(*program))) {
    Find(thread, raDeleteKey, 22, *program, "SlowInfoCache", path, reg::ExtractKeyTail(path, 0));
  }
  return Continue(thread);
}

// The uninstall command of an entry, or its quiet form when there is none: a missing program
// means the entry can no longer uninstall anything.
void UninstallCommandCheck(TScanThread& thread, const std::string& path) {
  std::string command;
  const char* name = "UninstallString";
  if (!thread.ReadText(name, &command)) {
    name = "QuietUninstallString";
    if (!thread.ReadText(name, &command)) return;
  }
  const bool missing =
      command.empty() || (PassesWordFilter(command) && !reg::CommandTargetExistsAnyView(command));
  if (thread.CountTest(missing)) {
    Find(thread, raDeleteKey, 22, command, name, path, thread.ItemCaption());
  }
}

uint8_t UninstallItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  if (!thread.OpenForCheck(path)) return Continue(thread);
  TRegistryAccess& access = thread.Access();
  std::string caption;
  if (!IsPlainString(access, "DisplayName") || !thread.ReadText("DisplayName", &caption)) {
    caption.clear();
  }
  if (caption.empty()) caption = reg::ExtractKeyTail(path, 0);
  thread.SetItemCaption(caption);
  // Entries that may not be removed, and entries with parts of their own, are left alone.
  reg::TRegKeyInfo info;
  if (DwordSet(access, "NoRemove") || !access.GetKeyInfo(&info) || info.num_sub_keys > 0) {
    return Continue(thread);
  }
  std::string value;
  if (thread.ReadText("InstallSource", &value)) {
    const bool missing = value.empty() || (OnFixedDrive(value) && !reg::PathExistsEx(value, false));
    if (thread.CountTest(missing)) {
      Find(thread, raDeleteValue, 22, value, "InstallSource", path, caption);
    }
  }
  if (thread.ReadText("DisplayIcon", &value)) {
    const bool missing =
        value.empty() || (PassesWordFilter(value) && !thread.FileReferenceExists(value));
    if (thread.CountTest(missing)) {
      Find(thread, raDeleteValue, 10, value, "DisplayIcon", path, caption);
    }
  }
  // Parts of Windows and Windows Installer products are removed by their own means.
  if (DwordSet(access, "SystemComponent") || DwordSet(access, "WindowsInstaller")) {
    return Continue(thread);
  }
  UninstallCommandCheck(thread, path);
  return Continue(thread);
}

// A value of the installer's folder list: its name is the folder.
void InstallerFolderValue(TScanThread& thread, const ListValue& value) {
  const std::string folder = WithoutBackslash(value.name);
  thread.StepProgress(FileNamePart(folder));
  thread.SetItemCaption(folder);
  const bool missing =
      !value.name.empty() && PassesWordFilter(folder) && !reg::FolderExistsEx(folder);
  if (thread.CountTest(missing)) {
    Find(thread, raDeleteValue, 22, value.name, value.name, value.key, "Installer Folder");
  }
}

// A value of the shell's interface cache: its name is a program file, or "@file,index" for a
// resource text, and its data the name the shell showed for it.
void InterfaceCacheValue(TScanThread& thread, const ListValue& value) {
  const bool text = value.type == reg::rvString;
  thread.SetItemCaption(text ? value.Text() : value.name);
  thread.StepProgress(thread.ItemCaption());
  if (!text || value.name.empty() || EqualsNoCase(value.name, "LANGID")) return;
  const std::string& name = value.name;
  if (name.front() == '@') {
    const std::string file = reg::StripCommaArgs(std::string_view(name).substr(1));
    if (thread.CountTest(PassesWordFilter(file) && !thread.FileReferenceExists(file))) {
      Find(thread, raDeleteValue, 11, name, name, value.key, thread.ItemCaption());
    }
  } else if (thread.CountTest(PassesWordFilter(name) && !thread.FileReferenceExists(name))) {
    Find(thread, raDeleteValue, 22, name, name, value.key, thread.ItemCaption());
  }
}

// --- Shared DLLs, installed files, known DLLs, virtual devices ---

// The name is the file; the data only counts its users.
void SharedDllValue(TScanThread& thread, const ListValue& value) {
  const std::string file = FileNamePart(value.name);
  thread.StepProgress(file);
  if (thread.CountTest(!value.name.empty() && !reg::FileExistsEx(value.name))) {
    Find(thread, raDeleteValue, 7, "", value.name, value.key, file);
  }
}

// Values whose data must be text naming a file (or, for `folders_allowed`, a folder).
void FileValue(TScanThread& thread, const ListValue& value, bool folders_allowed) {
  thread.StepProgress(value.name);
  if (value.name.empty()) return;
  if (!value.IsText()) {
    thread.ReportWrongType(value.name, value.key);
    return;
  }
  const std::string file = value.Text();
  const bool missing =
      file.empty() || (PassesWordFilter(file) &&
                       !(folders_allowed && reg::FolderExistsEx(WithoutBackslash(file))) &&
                       !thread.FileReferenceExists(file));
  if (thread.CountTest(missing)) {
    Find(thread, raDeleteValue, 22, file, value.name, value.key, value.name);
  }
}

uint8_t VirtualDeviceItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  if (!thread.OpenForCheck(path)) return Continue(thread);
  thread.SetItemCaption(reg::ExtractKeyTail(path, 0));
  std::string driver;
  if (thread.ReadText("StaticVxD", &driver) && PassesWordFilter(driver)) {
    if (thread.CountTest(!thread.FileReferenceExists(driver))) {
      Find(thread, raDeleteValue, 22, driver, "StaticVxD", path, thread.ItemCaption());
    }
  }
  return Continue(thread);
}

// --- Startup, shell folders, fonts, help ---

void StartupValue(TScanThread& thread, const ListValue& value) {
  thread.StepProgress(value.name);
  if (value.name.empty()) return;
  if (!value.IsText()) {
    thread.ReportWrongType(value.name, value.key);
    return;
  }
  const std::string command = value.Text();
  if (thread.CountTest(command.empty() || !reg::CommandTargetExistsAnyView(command))) {
    Find(thread, raDeleteValue, 22, command, value.name, value.key, value.name);
  }
}

// Only an empty shell folder is a fault: a folder that does not exist yet is made when used.
// Names beginning with "!" are notes Windows keeps in the list.
void ShellFolderValue(TScanThread& thread, const ListValue& value) {
  thread.StepProgress(value.name);
  if (value.name.empty() || value.name.front() == '!') return;
  if (!value.IsText()) {
    thread.ReportWrongType(value.name, value.key);
    return;
  }
  if (thread.CountTest(value.Text().empty())) {
    Find(thread, raDeleteValue, 22, "", value.name, value.key, value.name);
  }
}

// The name is the font's, the data its file: a full path, or a name in the fonts folder.
void FontValue(TScanThread& thread, const ListValue& value, const std::string& fonts_folder) {
  thread.StepProgress(value.name);
  if (value.name.empty()) return;
  if (!value.IsText()) {
    thread.ReportWrongType(value.name, value.key);
    return;
  }
  const std::string file = value.Text();
  if (thread.CountTest(!reg::FileExistsEx(file) && !reg::FileExistsEx(fonts_folder + file))) {
    Find(thread, raDeleteValue, 26, file, value.name, value.key, value.name);
  }
}

// The name is the help file, the data the folder it lies in.
void HelpValue(TScanThread& thread, const ListValue& value) {
  thread.StepProgress(value.name);
  if (value.name.empty() || !value.IsText()) return;
  const std::string folder = value.Text();
  if (thread.CountTest(!reg::FileExistsEx(WithBackslash(folder) + value.name))) {
    Find(thread, raDeleteValue, 8, folder, value.name, value.key, value.name);
  }
}

// --- The categories ---

void AppPaths(TScanThread& thread, TRegistryAccess&, bool count_only) {
  const std::string key = CurrentVersionKey("App Paths");
  for (HKEY root : {kMachine, kUser}) KeyFrame(thread, count_only, root, key, AppPathItem);
}

void AddRemoveCache(TScanThread& thread, TRegistryAccess&, bool count_only) {
  KeyFrame(thread, count_only, kMachine, CurrentVersionKey("App Management\\ARPCache"),
           ArpCacheItem);
  KeyFrame(thread, count_only, kMachine, CurrentVersionKey("Uninstall"), UninstallItem);
  ValueFrame(thread, count_only, kMachine, CurrentVersionKey("Installer\\Folders"), Open::kPlain,
             InstallerFolderValue);
  ValueFrame(thread, count_only, kUser, "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache",
             Open::kForCheck, InterfaceCacheValue);
}

void SharedFiles(TScanThread& thread, TRegistryAccess&, bool count_only) {
  ValueFrame(thread, count_only, kMachine, CurrentVersionKey("SharedDLLs"), Open::kForCheck,
             SharedDllValue);
}

void InstalledFiles(TScanThread& thread, TRegistryAccess&, bool count_only) {
  ValueFrame(thread, count_only, kMachine, std::string(kControl) + "InstalledFiles",
             Open::kForCheck, [](TScanThread& t, const ListValue& v) { FileValue(t, v, false); });
}

void KnownDlls(TScanThread& thread, TRegistryAccess&, bool count_only) {
  // Both spellings of the Session Manager key occur.
  for (const char* list : {"Session Manager\\KnownDLLs", "Session Manager\\Known16DLLs",
                           "SessionManager\\KnownDLLs", "SessionManager\\Known16DLLs"}) {
    ValueFrame(thread, count_only, kMachine, std::string(kControl) + list, Open::kForCheck,
               [](TScanThread& t, const ListValue& v) { FileValue(t, v, true); });
  }
}

void VirtualDevices(TScanThread& thread, TRegistryAccess&, bool count_only) {
  KeyFrame(thread, count_only, kMachine, "System\\CurrentControlSet\\Services\\VXD",
           VirtualDeviceItem);
}

void Startup(TScanThread& thread, TRegistryAccess&, bool count_only) {
  const struct {
    HKEY root;
    const char* list;
  } kLists[] = {{kMachine, "Run"},         {kUser, "Run"},
                {kMachine, "Run-"},        {kUser, "Run-"},
                {kMachine, "RunServices"}, {kMachine, "RunServices-"}};
  for (const auto& list : kLists) {
    ValueFrame(thread, count_only, list.root, CurrentVersionKey(list.list), Open::kForCheck,
               StartupValue);
  }
}

void ShellFolders(TScanThread& thread, TRegistryAccess&, bool count_only) {
  for (const char* list : {"Explorer\\Shell Folders", "Explorer\\User Shell Folders"}) {
    for (HKEY root : {kMachine, kUser}) {
      ValueFrame(thread, count_only, root, CurrentVersionKey(list), Open::kForCheck,
                 ShellFolderValue);
    }
  }
}

void WindowsFonts(TScanThread& thread, TRegistryAccess&, bool count_only) {
  const std::string fonts_folder = count_only ? "" : reg::GetWindowsDirLower() + "Fonts\\";
  for (const char* list : {"Software\\Microsoft\\Windows\\CurrentVersion\\Fonts",
                           "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"}) {
    ValueFrame(
        thread, count_only, kMachine, list, Open::kForCheck,
        [&fonts_folder](TScanThread& t, const ListValue& v) { FontValue(t, v, fonts_folder); });
  }
}

void HelpFiles(TScanThread& thread, TRegistryAccess&, bool count_only) {
  ValueFrame(thread, count_only, kMachine, "Software\\Microsoft\\Windows\\Help", Open::kForCheck,
             HelpValue);
}

void HtmlHelp(TScanThread& thread, TRegistryAccess&, bool count_only) {
  ValueFrame(thread, count_only, kMachine, "Software\\Microsoft\\Windows\\HTML Help",
             Open::kForCheck, HelpValue);
}

uint32_t Get32(std::string_view bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

}  // namespace

std::optional<std::string> SlowInfoCacheProgram(std::string_view record) {
  constexpr size_t kHasName = 4;
  constexpr size_t kName = 28;
  if (record.size() != kSlowInfoCacheSize || Get32(record, kHasName) == 0) return std::nullopt;
  std::u16string name;
  for (size_t offset = kName; offset + 1 < record.size(); offset += 2) {
    const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(record[offset]) |
                                                static_cast<uint8_t>(record[offset + 1]) << 8);
    if (unit == 0) break;
    name.push_back(unit);
  }
  std::string program = reg::Utf16ToAnsi(name);
  if (reg::AnsiToUtf16(program) != name) return std::nullopt;
  return program;
}

void AddSoftwareChecks(CategoryRoutines* routines) {
  (*routines)[ecAppPaths] = AppPaths;
  (*routines)[ecAddRemoveCache] = AddRemoveCache;
  (*routines)[ecSharedFiles] = SharedFiles;
  (*routines)[ecInstalledFiles] = InstalledFiles;
  (*routines)[ecSessionManagerKnownDLLs] = KnownDlls;
  (*routines)[ecVirualDevices] = VirtualDevices;
  (*routines)[ecStartup] = Startup;
  (*routines)[ecShellFolders] = ShellFolders;
  (*routines)[ecWindowsFonts] = WindowsFonts;
  (*routines)[ecHelpFiles] = HelpFiles;
  (*routines)[ecHTMLHelp] = HtmlHelp;
}

}  // namespace hm::scan
