// The checks of file associations and the shell. File types walk "Software\Classes" under
// HKEY_LOCAL_MACHINE and then HKEY_CURRENT_USER and look at every extension and program
// identifier: empty keys, icons, verbs, handlers, "open with" lists and references to classes
// that are not registered. The other categories walk the per-user extension lists, the extension
// table, the registered applications and the MIME database.
#include "scanner/file_type_checks.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/class_checks.h"

namespace hm::scan {
namespace {

using reg::TRegistryAccess;

constexpr char kClasses[] = "Software\\Classes";
constexpr char kAppPaths[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

uint8_t Continue(TScanThread& thread) {
  return thread.Terminated() ? 2 : 0;
}

// A finding on `key` of the current root and view, with the item's caption.
void Find(TScanThread& thread, uint8_t action, uint8_t kind, const std::string& data,
          const std::string& value, const std::string& key) {
  thread.Report(thread.Access().RootKey(), thread.View(), action, kind, data, value, key,
                thread.ItemCaption());
}

bool HasDefaultValue(TScanThread& thread) {
  return reg::RegValueExists(thread.Access().CurrentKey(), "");
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = AsciiUpper(c);
  return upper;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

// The names of the open key's subkeys, so that an item looks only for the subkeys it has (an
// open of a missing subkey fails anyway). Keys with many subkeys (the class registrations below
// "CLSID") are not listed: listing them would cost more than the opens it saves, and every name
// counts as possibly there.
class SubkeyNames {
 public:
  void Read(TRegistryAccess& access, bool have_count, uint32_t count) {
    names_.clear();
    listed_ = false;
    if (!have_count || count > kMaxListed) return;
    char name[256];
    for (uint32_t index = 0; index < count; ++index) {
      uint32_t size = sizeof name;
      // A name that cannot be read (too long for the buffer) leaves the key unlisted.
      if (reg::RegEnumKeyExA(access.CurrentKey(), index, name, &size) != kErrorSuccess) return;
      names_.push_back(AsciiUpper(std::string_view(name, size)));
    }
    listed_ = true;
  }
  // Whether the key may have the subkey `name` (the first component of a longer path).
  bool MayHave(std::string_view name) const {
    if (!listed_) return true;
    name = name.substr(0, name.find('\\'));
    // Names beyond ASCII are compared by the registry's own rules: left to the open.
    if (std::any_of(name.begin(), name.end(), [](char c) { return (c & 0x80) != 0; })) return true;
    return std::any_of(names_.begin(), names_.end(),
                       [&](const std::string& candidate) { return EqualsIgnoringCase(candidate, name); });
  }

 private:
  static constexpr uint32_t kMaxListed = 64;
  bool listed_ = false;
  std::vector<std::string> names_;
};

// Walks the direct subkeys of the key `path` (opened without the view test) with `item`.
template <typename ItemFn>
void ForEachSubkey(TScanThread& thread, const std::string& path, ItemFn item) {
  if (!thread.OpenPlain(path)) return;
  thread.Access().EnumSubKeys(
      false, 0,
      [&thread, &item](void*, TRegistryAccess&, const std::string& sub) -> uint8_t {
        item(sub);
        return Continue(thread);
      },
      nullptr);
}

// Whether the program a command line starts exists. The verbs of many file types start the same
// few programs, and a scan changes no file: each command line is judged once per scan. The table
// belongs to the scan's worker thread, which lives for one scan.
bool CommandExists(const std::string& command) {
  thread_local std::unordered_map<std::string, bool> known;
  thread_local std::string key;
  key.assign(command);
  key.push_back(reg::FsRedirectionDisabled() ? '1' : '0');
  auto found = known.find(key);
  if (found != known.end()) return found->second;
  const bool exists = reg::CommandTargetExists(command);
  known.emplace(key, exists);
  return exists;
}

// --- Shared by file types and registered applications ---

// "{????????-????-????-????-????????????}", "?" standing for any one character.
bool LooksLikeClassId(std::string_view name) {
  if (name.size() != 38 || name.front() != '{' || name.back() != '}') return false;
  for (size_t dash : {9, 14, 19, 24}) {
    if (name[dash] != '-') return false;
  }
  return true;
}

void HandlerItem(TScanThread& thread, const std::string& handler) {
  if (!thread.OpenForCheck(handler)) return;
  std::string class_id = reg::ExtractKeyTail(handler, 0);
  if (!LooksLikeClassId(class_id) && !thread.ReadText("", &class_id)) class_id.clear();
  if (thread.CountTest(!thread.ClassExists("CLSID\\" + class_id, false))) {
    Find(thread, raDeleteKey, 12, class_id, "", handler);
  }
  thread.Access().CloseKey();
}

void VerbItem(TScanThread& thread, const std::string& verb) {
  if (!PassesWordFilter(verb)) return;
  const std::string command = verb + "\\Command";
  if (!thread.OpenForCheck(command)) return;
  // A command key that holds more than its default value (a DelegateExecute entry, say) keeps
  // it: only the default value goes.
  const bool has_content = reg::KeyHasContent(thread.Access());
  std::string line;
  if (!HasDefaultValue(thread)) {
    if (thread.CountTest(!has_content)) Find(thread, raDeleteKey, 21, "", "", command);
  } else if (thread.ReadText("", &line)) {
    if (thread.CountTest(line.empty() || !CommandExists(line))) {
      Find(thread, has_content ? raDeleteValue : raDeleteKey, 21, line, "", command);
    }
  }
  thread.Access().CloseKey();
}

// --- File types ---

// "*", ".exe", ".reg" and names with a space are left alone.
bool SkippedFileType(std::string_view name) {
  const std::string upper = AsciiUpper(name);
  return upper == "*" || upper == ".EXE" || upper == ".REG" ||
         name.find(' ') != std::string_view::npos;
}

// A "ShellNew" key: the program that makes a new file, or the template it is copied from.
void NewFileCheck(TScanThread& thread, const std::string& key) {
  if (!PassesWordFilter(key) || !thread.OpenForCheck(key)) return;
  std::string value;
  if (thread.ReadText("Command", &value)) {
    if (thread.CountTest(!CommandExists(value))) {
      Find(thread, raDeleteValue, 21, value, "Command", key);
    }
  }
  if (thread.ReadText("FileName", &value)) {
    // A bare template name lives in the Windows folder's "ShellNew" folder.
    const std::string file =
        value.find('\\') == std::string::npos ? "%windir%\\shellnew\\" + value : value;
    if (thread.CountTest(PassesWordFilter(value) && !thread.FileReferenceExists(file))) {
      Find(thread, raDeleteValue, 22, value, "FileName", key);
    }
  }
}

// A display text ("FriendlyTypeName", "InfoTip"): plain text, or "@file,-id" naming a resource
// file that must exist.
void IndirectStringCheck(TScanThread& thread, const std::string& key, const std::string& value_name,
                         const std::string& text) {
  const bool good = !text.empty() &&
                    (text.front() != '@' || (text.size() > 1 && text[1] == '{') ||
                     thread.FileReferenceExists(reg::StripCommaArgs(text.substr(1))));
  if (thread.CountTest(!good)) Find(thread, raDeleteValue, 11, text, value_name, key);
}

// A subkey whose default value must name a registered class ("PersistentHandler", "CLSID").
void ClassReferenceCheck(TScanThread& thread, const std::string& key) {
  if (!thread.OpenForCheck(key)) return;
  std::string value;
  if (!HasDefaultValue(thread)) {
    // A key with subkeys of its own is no reference but a store of classes (the 32-bit view's
    // "Wow6432Node\CLSID" is one): it is never deleted as an empty reference.
    reg::TRegKeyInfo info;
    const bool store = thread.Access().GetKeyInfo(&info) && info.num_sub_keys > 0;
    if (thread.CountTest(!store)) Find(thread, raDeleteKey, 12, "", "", key);
  } else if (thread.ReadText("", &value)) {
    if (thread.CountTest(!thread.ClassExists("CLSID\\" + value, false))) {
      Find(thread, raDeleteKey, 12, value, "", key);
    }
  }
  thread.Access().CloseKey();
}

// An "OpenWithList" entry: a program with verbs of its own, or a registered application.
void OpenWithItem(TScanThread& thread, const std::string& entry) {
  const std::string shell = entry + "\\shell";
  if (reg::KeyExists(thread.Access().RootKey(), thread.View() == 1, shell)) {
    ShellVerbCheck(thread, thread.ItemCaption(), shell);
    return;
  }
  const std::string name = reg::ExtractKeyTail(entry, 0);
  if (thread.CountTest(!thread.ClassExists("Applications\\" + name, false))) {
    Find(thread, raDeleteKey, 3, name, "", entry);
  }
}

// An "OpenWithProgids" subkey: a program identifier that must be registered.
void ProgramIdItem(TScanThread& thread, const std::string& entry) {
  const std::string name = reg::ExtractKeyTail(entry, 0);
  if (EqualsIgnoringCase(name, "Shared")) return;
  if (thread.CountTest(!thread.ClassExists(name, false))) {
    Find(thread, raDeleteKey, 5, name, "", entry);
  }
}

// The "OpenWithList" and "OpenWithProgids" subkeys of a file type.
void OpenWithChecks(TScanThread& thread, const std::string& path, const SubkeyNames& subkeys) {
  if (subkeys.MayHave("OpenWithList")) {
    ForEachSubkey(thread, path + "\\OpenWithList",
                  [&thread](const std::string& entry) { OpenWithItem(thread, entry); });
  }
  if (subkeys.MayHave("OpenWithProgids")) {
    ForEachSubkey(thread, path + "\\OpenWithProgids",
                  [&thread](const std::string& entry) { ProgramIdItem(thread, entry); });
  }
}

// What the file type item reads from its key while it is open, before the checks open others.
struct FileTypeKey {
  std::string default_text;
  bool has_friendly_name = false;
  std::string friendly_name;
  bool has_info_tip = false;
  std::string info_tip;
  SubkeyNames subkeys;
};

uint8_t FileTypeItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  const std::string name = reg::ExtractKeyTail(path, 0);
  if (SkippedFileType(name)) return Continue(thread);
  if (!thread.OpenPlain(path)) return Continue(thread);
  TRegistryAccess& access = thread.Access();
  const bool extension = !name.empty() && name.front() == '.';
  thread.SetItemCaption(extension ? AsciiUpper(name) + " file" : name);

  FileTypeKey key;
  // In the 64-bit view a key shared with the 32-bit view was examined there already.
  const bool own_key = thread.View() != 1 || !reg::CurrentKeyReflectionEnabled(access);
  if (own_key && !thread.ReadText("", &key.default_text)) key.default_text.clear();
  reg::TRegKeyInfo info;
  const bool have_info = access.GetKeyInfo(&info);
  if (own_key && have_info) {
    const bool empty =
        info.num_sub_keys == 0 &&
        (info.num_values == 0 || (info.num_values == 1 && key.default_text.empty() &&
                                  HasDefaultValue(thread)));
    if (thread.CountTest(empty)) {
      Find(thread, raDeleteKey, 17, "", "", path);
      return Continue(thread);
    }
  }
  if (own_key) {
    key.has_friendly_name = thread.ReadText("FriendlyTypeName", &key.friendly_name);
    key.has_info_tip = thread.ReadText("InfoTip", &key.info_tip);
  }
  key.subkeys.Read(access, have_info, info.num_sub_keys);
  const SubkeyNames& subkeys = key.subkeys;
  if (!own_key) {
    // The subkeys of a shared key are shared as well, so every check below that opens one for
    // checking finds nothing in this view. The "open with" entries are tested again: their
    // lookups do not depend on the view, and what they find repeats the 32-bit view's findings.
    OpenWithChecks(thread, path, subkeys);
    access.CloseKey();
    return Continue(thread);
  }

  if (extension && !key.default_text.empty() && subkeys.MayHave(key.default_text)) {
    NewFileCheck(thread, path + "\\" + key.default_text + "\\ShellNew");
  }
  if (key.has_friendly_name) {
    IndirectStringCheck(thread, path, "FriendlyTypeName", key.friendly_name);
  }
  if (key.has_info_tip) IndirectStringCheck(thread, path, "InfoTip", key.info_tip);
  if (subkeys.MayHave("DefaultIcon")) IconCheck(thread, path);
  for (const char* sub : {"PersistentHandler", "CLSID"}) {
    if (subkeys.MayHave(sub)) ClassReferenceCheck(thread, path + "\\" + sub);
  }
  OpenWithChecks(thread, path, subkeys);
  if (subkeys.MayHave("ShellNew")) NewFileCheck(thread, path + "\\ShellNew");
  if (subkeys.MayHave("ShellEx")) HandlerChecks(thread, path + "\\ShellEx");
  if (subkeys.MayHave("Shell")) ShellVerbCheck(thread, thread.ItemCaption(), path + "\\Shell");

  std::string value;
  const std::string current = path + "\\CurVer";
  if (subkeys.MayHave("CurVer") && thread.OpenForCheck(current) && thread.ReadText("", &value)) {
    const bool missing =
        value.empty() || (PassesWordFilter(value) && !thread.ClassExists(value, true));
    if (thread.CountTest(missing)) Find(thread, raDeleteKey, 14, value, "", current);
  }
  const std::string server = path + "\\Protocol\\StdFileEditing\\Server";
  if (subkeys.MayHave("Protocol") && thread.OpenForCheck(server) && thread.ReadText("", &value)) {
    if (thread.CountTest(PassesWordFilter(value) && !thread.FileReferenceExists(value))) {
      Find(thread, raDeleteValue, 22, value, "", server);
    }
  }
  access.CloseKey();
  return Continue(thread);
}

// --- File extensions ---

// A value of an "OpenWithProgids" list: a program identifier, unless it names the extension.
void ProgramIdValues(TScanThread& thread, const std::string& key, const std::u16string& extension) {
  const reg::HKEY handle = thread.Access().CurrentKey();
  reg::KeyInfo info;
  if (reg::RegQueryInfoKeyA(handle, &info) != kErrorSuccess) return;
  thread_local std::string name(32768, '\0');
  for (uint32_t index = 0; index < info.values && !thread.Terminated(); ++index) {
    uint32_t size = static_cast<uint32_t>(name.size());
    uint32_t type = reg::REG_NONE;
    if (reg::RegEnumValueA(handle, index, name.data(), &size, &type, nullptr, nullptr) !=
        kErrorSuccess) {
      continue;
    }
    // The usual entries are REG_NONE markers and are not examined.
    if (type == reg::REG_NONE) continue;
    const std::string value_name(name.data(), size);
    const bool missing = PassesWordFilter(value_name) &&
                         reg::UpcasedName(value_name).find(extension) == std::u16string::npos &&
                         !thread.ClassExists(value_name, true);
    if (thread.CountTest(missing)) {
      Find(thread, raDeleteValueAndEmptyKey, 14, value_name, value_name, key);
    }
  }
}

// Whether an "OpenWithList" entry names nothing that can be found: not a program file, a
// registered application or an App Paths entry.
bool OpenWithEntryMissing(TScanThread& thread, const std::string& entry, const std::string& order) {
  if (!PassesWordFilter(entry)) return false;
  std::string lower = entry;
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  if (lower.find(".exe") != std::string::npos) return false;
  if (entry.find_first_not_of(order) == std::string::npos) return false;
  const bool view64 = thread.View() == 1;
  return !reg::KeyExists(reg::HKEY_LOCAL_MACHINE, view64, kAppPaths + entry) &&
         !reg::KeyExists(reg::HKEY_CURRENT_USER, view64, kAppPaths + entry) &&
         !thread.ClassExists("Applications\\" + entry, false) &&
         !thread.FileReferenceExists(entry);
}

// The entries of an "OpenWithList" in the order its "MRUList" gives them by letter.
void OpenWithListValues(TScanThread& thread, const std::string& key) {
  std::string order;
  if (!thread.ReadText("MRUList", &order)) return;
  bool missing_reported = false;
  std::string entry;
  for (char letter : order) {
    if (thread.Terminated()) return;
    const std::string value_name(1, letter);
    if (reg::RegValueExists(thread.Access().CurrentKey(), value_name)) {
      if (!thread.ReadText(value_name, &entry)) continue;
      if (thread.CountTest(OpenWithEntryMissing(thread, entry, order))) {
        Find(thread, raDeleteMRUEntry, 4, entry, value_name, key);
      }
    } else if (!missing_reported) {
      // The list names an entry that is not there: rebuilt once, whatever else is missing.
      thread.CountTest(true);
      Find(thread, raRebuildMRUList, 25, order, "MRUList", key);
      missing_reported = true;
    }
  }
}

// Opens `key` for checking and reports it when it has neither subkeys nor values; true when it
// is open and has content.
bool OpenListKey(TScanThread& thread, const std::string& key) {
  if (!thread.OpenForCheck(key)) return false;
  reg::TRegKeyInfo info;
  if (!thread.Access().GetKeyInfo(&info)) return false;
  if (thread.CountTest(info.num_sub_keys == 0 && info.num_values == 0)) {
    Find(thread, raDeleteKey, 17, "", "", key);
    return false;
  }
  return true;
}

uint8_t ExtensionListItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  const std::u16string extension = reg::UpcasedName(reg::ExtractKeyTail(path, 0));
  thread.SetItemCaption(reg::Utf16ToAnsi(extension) + " file");
  const std::string progids = path + "\\OpenWithProgids";
  if (OpenListKey(thread, progids)) ProgramIdValues(thread, progids, extension);
  const std::string list = path + "\\OpenWithList";
  if (OpenListKey(thread, list)) OpenWithListValues(thread, list);
  thread.Access().CloseKey();
  return Continue(thread);
}

bool ExtensionTableValue(TScanThread& thread, uint32_t size, const uint8_t* data,
                         reg::TRegValueType type, const std::string& name, const std::string& key) {
  thread.StepProgress(name);
  if (name.empty()) return !thread.Terminated();
  if (type != reg::rvString && type != reg::rvExpandString) {
    thread.ReportWrongType(name, key);
    return !thread.Terminated();
  }
  const char* text = reinterpret_cast<const char*>(data);
  const std::string program(text, strnlen(text, size));
  if (thread.CountTest(PassesWordFilter(program) && !thread.FileReferenceExists(program))) {
    thread.Report(thread.Access().RootKey(), thread.View(), raDeleteValue, 22, program, name, key,
                  name);
  }
  return !thread.Terminated();
}

void FileExtensions(TScanThread& thread, TRegistryAccess& access, bool count_only) {
  // (a) The user's own extension lists.
  access.SetRootKey(reg::HKEY_CURRENT_USER);
  if (thread.OpenPlain("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts")) {
    reg::TRegKeyInfo info;
    if (count_only) {
      if (access.GetKeyInfo(&info)) thread.AddToCount(static_cast<int>(info.num_sub_keys));
    } else {
      access.EnumSubKeys(
          false, 0,
          [&thread](void*, TRegistryAccess&, const std::string& path) -> uint8_t {
            return ExtensionListItem(thread, path);
          },
          nullptr);
    }
  }
  // (b) The extension table: "program ^.ext" by extension.
  const std::string table = "Software\\Microsoft\\Windows\\CurrentVersion\\Extensions";
  for (reg::HKEY root : {reg::HKEY_LOCAL_MACHINE, reg::HKEY_CURRENT_USER}) {
    if (thread.Terminated()) return;
    access.SetRootKey(root);
    if (!thread.OpenForCheck(table)) continue;
    if (count_only) {
      reg::TRegKeyInfo info;
      if (access.GetKeyInfo(&info)) thread.AddToCount(static_cast<int>(info.num_values));
      continue;
    }
    access.EnumValues(
        [&thread, &table](void*, TRegistryAccess&, const std::string&, uint32_t size,
                          const uint8_t* data, reg::TRegValueType type, const std::string& name) {
          return ExtensionTableValue(thread, size, data, type, name, table);
        },
        nullptr);
  }
}

// --- Registered applications and the MIME database ---

uint8_t ApplicationItem(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  ShellVerbCheck(thread, reg::ExtractKeyTail(path, 0), path + "\\shell");
  return Continue(thread);
}

// Opens a MIME database entry, sets the caption and reports the entry when it is empty; true
// when there is more to check.
bool OpenMimeEntry(TScanThread& thread, const std::string& path) {
  thread.StepProgress(path);
  if (!thread.OpenForCheck(path)) return false;
  thread.SetItemCaption(reg::ExtractKeyTail(path, 0));
  if (thread.CountTest(reg::KeyIsEmpty(thread.Access()))) {
    Find(thread, raDeleteKey, 17, "", "", path);
    return false;
  }
  return true;
}

uint8_t ContentTypeItem(TScanThread& thread, const std::string& path) {
  if (!OpenMimeEntry(thread, path)) return Continue(thread);
  std::string value;
  if (thread.ReadText("CLSID", &value)) {
    if (thread.CountTest(value.empty() || !thread.ClassExists("CLSID\\" + value, false))) {
      Find(thread, raDeleteValueAndEmptyKey, 12, value, "CLSID", path);
    }
  }
  if (thread.ReadText("Extension", &value)) {
    if (thread.CountTest(value.empty() || !thread.ClassExists(value, false))) {
      Find(thread, raDeleteValueAndEmptyKey, 15, value, "Extension", path);
    }
  }
  return Continue(thread);
}

uint8_t CharsetItem(TScanThread& thread, const std::string& path) {
  if (!OpenMimeEntry(thread, path)) return Continue(thread);
  std::string value;
  if (thread.ReadText("AliasForCharset", &value)) {
    const bool missing =
        value.empty() || !thread.ClassExists("MIME\\Database\\Charset\\" + value, false);
    if (thread.CountTest(missing)) {
      Find(thread, raDeleteValueAndEmptyKey, 1, value, "AliasForCharset", path);
    }
  }
  for (const char* name : {"Codepage", "InternetEncoding"}) {
    uint32_t type = reg::REG_NONE;
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    const reg::LSTATUS error =
        reg::RegQueryValueExA(thread.Access().CurrentKey(), name, &type, data, &size);
    if (error == kErrorFileNotFound) continue;
    // A number that cannot be read as four bytes is as unusable as another type.
    if (error == kErrorSuccess && type == reg::REG_DWORD && size == sizeof data) {
      const uint32_t number = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                              static_cast<uint32_t>(data[2]) << 16 |
                              static_cast<uint32_t>(data[3]) << 24;
      const std::string code_page = std::to_string(number);
      if (thread.CountTest(!thread.ClassExists("MIME\\Database\\CodePage\\" + code_page, false))) {
        Find(thread, raDeleteValueAndEmptyKey, 2, code_page, name, path);
      }
    } else if (error == kErrorSuccess || error == kErrorMoreData) {
      thread.CountTest(true);
      Find(thread, raDeleteValue, 0, "REG_DWORD", name, path);
    }
  }
  return Continue(thread);
}

// --- Frames ---

// Two keys the walk of "Software\Classes" does not reach as items of their own.
void NestedFileTypes(TScanThread& thread) {
  FileTypeItem(thread, std::string(kClasses) + "\\Directory\\Background");
  if (!thread.Terminated()) FileTypeItem(thread, std::string(kClasses) + "\\Network\\Type");
}

}  // namespace

void ShellVerbCheck(TScanThread& thread, const std::string& caption, const std::string& key_path) {
  thread.SetItemCaption(caption);
  ForEachSubkey(thread, key_path, [&thread](const std::string& verb) { VerbItem(thread, verb); });
  thread.Access().CloseKey();
}

void HandlerChecks(TScanThread& thread, const std::string& key_path) {
  // Nothing below a "ShellEx" key that does not open can open either.
  if (!thread.OpenPlain(key_path)) return;
  SubkeyNames subkeys;
  reg::TRegKeyInfo info;
  const bool have_info = thread.Access().GetKeyInfo(&info);
  subkeys.Read(thread.Access(), have_info, info.num_sub_keys);
  for (const char* list : {"ColumnHandlers", "ContextMenuHandlers", "CopyHookHandlers",
                           "DragDropHandlers", "PropertySheetHandlers"}) {
    if (!subkeys.MayHave(list)) continue;
    ForEachSubkey(thread, key_path + "\\" + list,
                  [&thread](const std::string& handler) { HandlerItem(thread, handler); });
  }
  for (const char* single : {"DataHandler", "DropHandler", "IconHandler", "PropertyHandler"}) {
    if (subkeys.MayHave(single)) HandlerItem(thread, key_path + "\\" + single);
  }
  thread.Access().CloseKey();
}

void AddFileTypeChecks(CategoryRoutines* routines) {
  (*routines)[ecFileTypes] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, kClasses, FileTypeItem, NestedFileTypes);
  };
  (*routines)[ecFileExtensions] = FileExtensions;
  (*routines)[ecApplications] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, "Software\\Classes\\Applications", ApplicationItem);
  };
  (*routines)[ecContentType] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, "Software\\Classes\\MIME\\Database\\Content Type",
                  ContentTypeItem);
  };
  (*routines)[ecCodePages] = [](TScanThread& thread, TRegistryAccess& access, bool count_only) {
    WalkBothRoots(thread, access, count_only, "Software\\Classes\\MIME\\Database\\Charset",
                  CharsetItem);
  };
}

}  // namespace hm::scan
