// The history list, start menu and full path checks. Each routine has a counting form (what the
// checking form will step through) and a checking form; findings carry the root and view of the
// scan's access object, except shortcut files, which have neither.
#include "scanner/history_checks.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/install/win_path.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/shell_link.h"
#include "registry/win_registry.h"

namespace hm::scan {
namespace {

namespace fs = std::filesystem;
using reg::TRegistryAccess;

constexpr char kExplorerKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
constexpr char kAppletsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\";

uint8_t Continue(const TScanThread& thread) {
  return thread.Terminated() ? 2 : 0;
}

// A finding on `key` of the scan's current root and view.
void Find(TScanThread& thread, uint8_t action, uint8_t kind, const std::string& data,
          const std::string& value, const std::string& key, const std::string& caption) {
  thread.Report(thread.Access().RootKey(), thread.View(), action, kind, data, value, key, caption);
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return UpperAscii(a) == UpperAscii(b); });
}

// The number of keys below the open key, at every depth (up to `max_depth` levels, 0: all);
// `skip` keys are counted but not entered.
int CountSubtree(TScanThread& thread, TRegistryAccess& access, int max_depth, bool skip) {
  int keys = 0;
  access.EnumSubKeys(
      true, max_depth,
      [&](void*, TRegistryAccess&, const std::string& key) -> uint8_t {
        ++keys;
        return skip && thread.SkipKeys().IsSkippedKey(key) ? 1 : 0;
      },
      nullptr);
  return keys;
}

// --- History lists ---

// Goes through the letters of a most-recently-used list `list` (the value "MRUList" of the open
// key `key`, newest first, each letter naming the value of one entry): an entry that `bad` finds
// broken gets a finding that deletes it; a letter without its value gets one finding per list
// that rebuilds the list.
template <typename BadEntry>
void CheckMruList(TScanThread& thread, const std::string& key, const std::string& list,
                  const std::string& caption, BadEntry bad) {
  bool reported = false;
  std::string name(1, '\0');
  std::string entry;
  // A letter listed twice names the same entry: it is looked at once, so that no finding is
  // made twice.
  std::bitset<256> seen;
  for (char letter : list) {
    if (thread.Terminated()) return;
    if (seen.test(static_cast<uint8_t>(letter))) continue;
    seen.set(static_cast<uint8_t>(letter));
    name[0] = letter;
    if (thread.ReadText(name, &entry)) {
      if (thread.CountTest(bad(entry)))
        Find(thread, raDeleteMRUEntry, 22, entry, name, key, caption);
    } else if (!reported && !reg::RegValueExists(thread.Access().CurrentKey(), name)) {
      thread.CountTest(true);
      Find(thread, raRebuildMRUList, 25, list, "MRUList", key, caption);
      reported = true;
    }
  }
}

// The folder part of a path: up to and including its last backslash or colon.
std::string_view FolderPart(std::string_view path) {
  const size_t end = path.find_last_of("\\:");
  return end == std::string_view::npos ? std::string_view() : path.substr(0, end + 1);
}

// One key of the open and save dialogs' lists at walker depth `depth` (0 for the list key
// itself, whose entries are folders; the entries below it are files).
uint8_t OpenSaveItem(TScanThread& thread, const std::string& key, int depth) {
  thread.StepProgress(key);
  std::string list;
  if (!thread.OpenForCheck(key) || !thread.ReadText("MRUList", &list)) return Continue(thread);
  thread.SetItemCaption(reg::ExtractKeyTail(key, depth));
  CheckMruList(thread, key, list, thread.ItemCaption(), [depth](const std::string& entry) {
    if (!PassesWordFilter(entry)) return false;
    if (depth > 0) return !reg::FileExistsEx(entry);
    // An entry without a folder part names no folder that could be tested.
    const std::string_view folder = FolderPart(entry);
    return !folder.empty() && !reg::FolderExistsEx(folder);
  });
  return Continue(thread);
}

// The Run dialog's list on the open key `key`. Its entries are commands, stored with "\1"
// after them.
void RunListCheck(TScanThread& thread, const std::string& key) {
  thread.StepProgress(key);
  std::string list;
  if (!thread.ReadText("MRUList", &list)) return;
  const std::string caption = reg::ExtractKeyTail(key, 0);
  thread.SetItemCaption(caption);
  CheckMruList(thread, key, list, caption, [](std::string command) {
    if (command.size() >= 3 && command.ends_with("\\1")) command.resize(command.size() - 2);
    return PassesWordFilter(command) && !reg::CommandTargetExists(command);
  });
}

// The recent files of an applet ("Paint", "Wordpad"): the values "File1", "File2", ...
void RecentFileList(TScanThread& thread, TRegistryAccess& access, bool count_only,
                    const char* applet) {
  const std::string key = std::string(kAppletsKey) + applet + "\\Recent File List";
  if (!thread.OpenForCheck(key)) return;
  const std::string caption = std::string(applet) + " " + reg::ExtractKeyTail(key, 0);
  thread.SetItemCaption(caption);
  if (count_only) {
    reg::TRegKeyInfo info;
    if (access.GetKeyInfo(&info)) thread.AddToCount(static_cast<int>(info.num_values));
    return;
  }
  access.EnumValues(
      [&](void*, TRegistryAccess&, const std::string&, uint32_t size, const uint8_t* data,
          reg::TRegValueType type, const std::string& name) {
        thread.StepProgress(name);
        if (!StartsWithNoCase(name, "File")) return !thread.Terminated();
        if (type != reg::rvString && type != reg::rvExpandString) {
          thread.ReportWrongType(name, key);
          return !thread.Terminated();
        }
        const char* text = reinterpret_cast<const char*>(data);
        const std::string file(text, strnlen(text, size));
        const bool missing = file.empty() || (PassesWordFilter(file) && !reg::FileExistsEx(file));
        if (thread.CountTest(missing)) Find(thread, raDeleteValue, 22, file, name, key, caption);
        return !thread.Terminated();
      },
      nullptr);
}

void HistoryLists(TScanThread& thread, TRegistryAccess& access, bool count_only) {
  access.SetRootKey(reg::HKEY_CURRENT_USER);
  const std::string open_save = std::string(kExplorerKey) + "ComDlg32\\OpenSaveMRU";
  if (thread.OpenPlain(open_save)) {
    if (count_only) {
      reg::TRegKeyInfo info;
      if (access.GetKeyInfo(&info)) thread.AddToCount(static_cast<int>(info.num_sub_keys));
    } else {
      access.EnumSubKeys(
          true, 0,
          [&thread](void*, TRegistryAccess& walker, const std::string& key) -> uint8_t {
            return OpenSaveItem(thread, key, walker.Depth());
          },
          nullptr);
      OpenSaveItem(thread, open_save, 0);
    }
  }
  if (thread.Terminated()) return;
  const std::string run = std::string(kExplorerKey) + "RunMRU";
  if (thread.OpenForCheck(run)) {
    if (count_only) {
      thread.AddToCount(1);
    } else {
      RunListCheck(thread, run);
    }
  }
  for (const char* applet : {"Paint", "Wordpad"}) {
    if (thread.Terminated()) return;
    RecentFileList(thread, access, count_only, applet);
  }
}

constexpr size_t kMaxPath = 260;

// Whether the two characters ending at the colon at `colon` of `path` name a fixed drive.
bool OnFixedDrive(std::string_view path, size_t colon) {
  return reg::GetDriveTypeA(path.substr(colon - 1, 2)) == install::kDriveFixed;
}

// --- Start menu ---

struct FolderEntry {
  std::string name;  // in the code page
  bool folder = false;
};

// The entries of an installation folder, by name. Symbolic links are listed as what they lead
// to, but a linked folder is not entered (a link to a parent folder would never end).
std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  files::HostFiles* host_files = reg::ProcessFiles();
  if (host_files == nullptr) return entries;
  Result<fs::path> host = host_files->HostPath(reg::AnsiToUtf8(folder), files::FsView::kRedirected);
  if (!host.ok()) return entries;
  std::error_code error;
  for (fs::directory_iterator it(*host, error), end; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    const bool link = it->is_symlink(type_error);
    FolderEntry entry{reg::Utf8ToAnsi(it->path().filename().string()), false};
    if (link) {
      const uint32_t attributes = reg::GetFileAttributesA(folder + entry.name);
      if (attributes == files::kInvalidFileAttributes ||
          (attributes & files::kFileAttributeDirectory)) {
        continue;
      }
    } else if (it->is_directory(type_error)) {
      entry.folder = true;
    } else if (!it->is_regular_file(type_error)) {
      continue;  // pipes, sockets and devices are no shortcuts
    }
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
}

bool IsShortcutName(std::string_view name) {
  return name.size() > 4 && StartsWithNoCase(name.substr(name.size() - 4), ".lnk");
}

// The shortcut files of `folder` (ending with a backslash) and of its subfolders: a shortcut
// whose target on a drive no longer exists is a finding that recycles the shortcut.
void ShortcutScan(TScanThread& thread, const std::string& folder) {
  // The "A" functions reach no folder whose path is MAX_PATH characters or longer.
  if (folder.size() >= kMaxPath) return;
  const std::vector<FolderEntry> entries = ListFolder(folder);
  std::string target;
  for (const FolderEntry& entry : entries) {
    if (thread.Terminated()) return;
    if (entry.folder || !IsShortcutName(entry.name)) continue;
    const std::string path = folder + entry.name;
    reg::GetShellLinkRawPath(path, &target);
    // Only a target on a fixed drive can be judged: a removable, network or missing drive may
    // just not be there now.
    const size_t drive = target.find(":\\");
    if (drive == std::string::npos || drive == 0 || !OnFixedDrive(target, drive)) continue;
    if (thread.CountTest(!reg::PathExistsEx(target, /*need_full_path=*/false))) {
      thread.Report(0, 0, raRecycleFile, 29, target, "", path, entry.name);
    }
  }
  for (const FolderEntry& entry : entries) {
    if (thread.Terminated()) return;
    if (entry.folder) ShortcutScan(thread, folder + entry.name + "\\");
  }
}

std::string SpecialFolder(int csidl) {
  std::string folder;
  if (!reg::GetSpecialFolderPath(nullptr, &folder, csidl, false) || folder.empty()) return {};
  if (folder.back() != '\\') folder.push_back('\\');
  return folder;
}

// A program group of the menu order at walker depth `depth`: reported when the group is a folder
// of neither start menu.
uint8_t MenuOrderItem(TScanThread& thread, const std::string& key, int depth,
                      const std::string& common_programs, const std::string& user_programs) {
  thread.StepProgress(key);
  if (!thread.OpenForCheck(key)) return Continue(thread);
  thread.SetItemCaption(reg::ExtractKeyTail(key, depth - 1));
  const std::string& group = thread.ItemCaption();
  const bool missing =
      !reg::FolderExistsEx(common_programs + group) && !reg::FolderExistsEx(user_programs + group);
  if (thread.CountTest(missing)) {
    Find(thread, raDeleteKey, 6, "", "", key, group);
    return 1;  // its subgroups go with it
  }
  return Continue(thread);
}

void StartMenu(TScanThread& thread, TRegistryAccess& access, bool count_only) {
  std::string common_programs, user_programs;
  if (!count_only) {
    if (thread.View() == 0) {
      for (int csidl :
           {reg::CSIDL_RECENT, reg::CSIDL_DESKTOPDIRECTORY, reg::CSIDL_COMMON_DESKTOPDIRECTORY,
            reg::CSIDL_STARTMENU, reg::CSIDL_COMMON_STARTMENU}) {
        const std::string folder = SpecialFolder(csidl);
        if (!folder.empty()) ShortcutScan(thread, folder);
      }
    }
    common_programs = SpecialFolder(reg::CSIDL_COMMON_PROGRAMS);
    user_programs = SpecialFolder(reg::CSIDL_PROGRAMS);
    if (common_programs.empty() || user_programs.empty()) return;
  }
  access.SetRootKey(reg::HKEY_CURRENT_USER);
  for (const char* menu : {"MenuOrder\\Start Menu\\Programs", "MenuOrder\\Start Menu2\\Programs"}) {
    if (thread.Terminated()) return;
    if (!thread.OpenPlain(std::string(kExplorerKey) + menu)) continue;
    if (count_only) {
      thread.AddToCount(CountSubtree(thread, access, 0, false));
      continue;
    }
    access.EnumSubKeys(
        true, 0,
        [&](void*, TRegistryAccess& walker, const std::string& key) -> uint8_t {
          return MenuOrderItem(thread, key, walker.Depth(), common_programs, user_programs);
        },
        nullptr);
  }
}

// --- Full path scan ---

// Progress goes down to this depth only, as far as the counting pass counts.
constexpr int kCountedDepth = 7;

// Whether the upper-cased element `upper` names a missing path on a fixed drive (see
// FilePathValues); `*tested` tells whether the existence test was made at all.
bool MissingPathUncached(reg::TRegValueType type, std::string upper, bool use64, bool* tested) {
  *tested = false;
  if (upper.find("MS-RESOURCE") != std::string::npos) return false;
  if (type == reg::rvExpandString) {
    if (upper.find("%TEMP%") != std::string::npos) return false;
    if (upper.find('%') != std::string::npos) upper = reg::ExpandEnvVars(upper, use64);
  }
  if (upper.size() < 4) return false;
  const size_t colon = upper.find(":\\");
  if (colon == std::string::npos || colon == 0) return false;
  if (!OnFixedDrive(upper, colon)) return false;
  if (upper.find("$WIN_NT$") != std::string::npos) return false;
  *tested = true;
  return !reg::PathExistsEx(upper, /*need_full_path=*/false) && !reg::CommandTargetExists(upper);
}

// Whether one element of a value names a missing path on a fixed drive. Only the final existence
// test is counted. The outcomes are kept in the scan's memo (0 no test made, 1 the path exists,
// 2 it is missing) by the upper-cased text, which is all the test looks at, with what else they
// depend on: whether variables are expanded (and in which view) and the thread's file-system
// redirection.
bool MissingPath(TScanThread& thread, reg::TRegValueType type, std::string_view element,
                 bool use64) {
  thread_local std::string key;
  key.assign(element);
  for (char& c : key) c = UpperAscii(c);
  const size_t length = key.size();
  key.push_back('\0');
  key.push_back(type != reg::rvExpandString ? 'S' : use64 ? 'E' : 'e');
  key.push_back(reg::FsRedirectionDisabled() ? '1' : '0');
  auto& memo = thread.PathTestMemo();
  auto known = memo.find(key);
  uint8_t outcome;
  if (known != memo.end()) {
    outcome = known->second;
  } else {
    bool tested = false;
    const bool missing = MissingPathUncached(type, key.substr(0, length), use64, &tested);
    outcome = !tested ? 0 : missing ? 2 : 1;
    memo.emplace(key, outcome);
  }
  return outcome != 0 && thread.CountTest(outcome == 2);
}

// Whether `data` can hold an element that the path test would look at: one with a drive path,
// or, for REG_EXPAND_SZ, a variable that may expand to one. Most values hold neither, and this
// spares them the splitting.
bool MayHoldPath(const uint8_t* data, uint32_t size, reg::TRegValueType type) {
  const char* text = reinterpret_cast<const char*>(data);
  const std::string_view bytes(text, size);
  return bytes.find(":\\") != std::string_view::npos ||
         (type == reg::rvExpandString && bytes.find('%') != std::string_view::npos);
}

// The text values of the key `key`: every element (a path list's parts, a multi-string's
// strings) naming a missing path on a fixed drive is a finding.
void FilePathValues(TScanThread& thread, TRegistryAccess& access, const std::string& key) {
  thread_local std::vector<std::string> elements;
  access.EnumValues(
      [&](void*, TRegistryAccess&, const std::string&, uint32_t size, const uint8_t* data,
          reg::TRegValueType type, const std::string& name) {
        if (type != reg::rvString && type != reg::rvExpandString && type != reg::rvMultiString) {
          return !thread.Terminated();
        }
        if (!MayHoldPath(data, size, type)) return !thread.Terminated();
        elements.clear();
        const char* text = reinterpret_cast<const char*>(data);
        uint8_t kind = 23, action = raRemoveListItem;
        if (type == reg::rvMultiString) {
          reg::SplitMultiSz(text, size, &elements);
        } else {
          reg::SplitOutsideQuotes(text, size, &elements);
          kind = elements.size() < 2 ? 22 : 24;
          action = elements.size() < 2 ? raDeleteValue : raRemoveListItem;
        }
        for (const std::string& element : elements) {
          if (thread.Terminated()) break;
          bool missing = MissingPath(thread, type, element, false);
          if (missing && reg::IsWow64()) missing = MissingPath(thread, type, element, true);
          // The filter's words mark references a file test cannot judge, in the key's path as
          // in the element itself.
          if (missing && PassesWordFilter(key) && PassesWordFilter(element)) {
            Find(thread, action, kind, element, name, key, name);
          }
        }
        return !thread.Terminated();
      },
      nullptr);
}

uint8_t FilePathKey(TScanThread& thread, TRegistryAccess& walker, const std::string& key) {
  if (walker.Depth() <= kCountedDepth) thread.StepProgress(key);
  uint8_t result = 0;
  if (thread.Terminated()) {
    result = 2;
  } else if (thread.SkipKeys().IsSkippedKey(key)) {
    return 1;  // neither its values nor its subkeys
  }
  // Opened through the walker: from the parent's handle, and the walk descends through it.
  if (thread.OpenForCheck(walker, key)) FilePathValues(thread, walker, key);
  return result;
}

void FilePathRefs(TScanThread& thread, TRegistryAccess& access, bool count_only) {
  for (reg::HKEY root : {reg::HKEY_LOCAL_MACHINE, reg::HKEY_CURRENT_USER}) {
    if (thread.Terminated()) return;
    access.SetRootKey(root);
    if (!thread.OpenPlain("")) continue;
    if (count_only) {
      thread.AddToCount(CountSubtree(thread, access, kCountedDepth, true));
      continue;
    }
    access.EnumSubKeys(
        true, 0,
        [&thread](void*, TRegistryAccess& walker, const std::string& key) -> uint8_t {
          return FilePathKey(thread, walker, key);
        },
        nullptr);
  }
}

}  // namespace

void AddHistoryChecks(CategoryRoutines* routines) {
  (*routines)[ecHistoryLists] = HistoryLists;
  (*routines)[ecStartMenu] = StartMenu;
  (*routines)[ecFilePathRefs] = FilePathRefs;
}

}  // namespace hm::scan
