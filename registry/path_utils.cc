#include "registry/path_utils.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <mutex>

#include "platform/file_io.h"
#include "platform/install/win_path.h"
#include "platform/utf.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::reg {
namespace {

std::atomic<files::HostFiles*> g_files{nullptr};
std::atomic<const HostEnvironment*> g_environment{nullptr};

// The search folder list: built on first use, kept until the files are installed again.
std::mutex g_search_mutex;
std::vector<std::string> g_search_folders;  // guarded by g_search_mutex
bool g_search_built = false;                // guarded by g_search_mutex

constexpr size_t kMaxPath = 260;
// Where ProbePath ends a candidate: space , ^ \ = % ' ; @ $ # [ ] { } - !
constexpr std::string_view kBreakChars = " ,^\\=%';@$#[]{}-!";
// Characters that cannot be part of a path after its drive: ProbePath cuts the text there.
constexpr std::string_view kPathEndChars = "/:*?\"<>|";
// Where ExtractCommandPath ends an unquoted program.
constexpr std::string_view kCommandEndChars = " /*?\"<>|";
// Names CommandTargetExists takes as existing without looking.
constexpr std::string_view kKnownPrograms[] = {"%1",      "explorer", "rundll32",
                                               "svchost", "vmware",   "iexplore.exe"};
constexpr char kSharedDllsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

char LowerAsciiChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAsciiChar(c);
  return lower;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAsciiChar(x) == LowerAsciiChar(y);
         });
}

// Replaces every occurrence of `from` (ASCII letters in any case) by `to`.
void ReplaceAllNoCase(std::string* text, std::string_view from, std::string_view to) {
  for (size_t at = 0; at + from.size() <= text->size();) {
    if (EqualsNoCaseAscii(std::string_view(*text).substr(at, from.size()), from)) {
      text->replace(at, from.size(), to);
      at += to.size();
    } else {
      ++at;
    }
  }
}

void ReplaceFirst(std::string* text, std::string_view from, std::string_view to) {
  size_t at = text->find(from);
  if (at != std::string::npos) text->replace(at, from.size(), to);
}

// Delphi's Trim: characters up to the space go at both ends.
std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

std::string CutAtNul(const char* data, size_t size) {
  const void* nul = std::memchr(data, '\0', size);
  return std::string(data, nul == nullptr ? size : static_cast<const char*>(nul) - data);
}

bool IsInvalidPathChar(unsigned char c) {
  return c < 0x20 || c == '"' || c == '<' || c == '>' || c == '|';
}

bool IsInvalidFileNameChar(unsigned char c) {
  return IsInvalidPathChar(c) || c == '*' || c == '/' || c == ':' || c == '?' || c == '\\';
}

// The text a C string argument of a Windows function would carry: up to the first NUL.
std::string_view CString(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

files::FsView CurrentView() {
  return FsRedirectionDisabled() ? files::FsView::kNative : files::FsView::kRedirected;
}

// WOW64 redirection off on this thread for the lifetime of the object.
class RedirectionOff {
 public:
  RedirectionOff() : token_(DisableFsRedirection()) {}
  ~RedirectionOff() { RevertFsRedirection(token_); }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  FsRedirectionToken token_;
};

std::string WithBackslash(std::string path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

// Delphi's ExtractFilePath / ExtractFileName / ExtractFileExt split at the last '\' or ':'.
size_t NameStart(std::string_view path) {
  size_t at = path.find_last_of("\\:");
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string_view FileExtension(std::string_view path) {
  size_t at = path.find_last_of(".\\:");
  if (at == std::string_view::npos || path[at] != '.') return {};
  return path.substr(at);
}

// The PATH folders, each with a trailing backslash. Quotes around an entry are dropped, so that
// the folder inside is searched.
std::vector<std::string> PathFolders() {
  std::vector<std::string> folders;
  const HostEnvironment* env = g_environment.load();
  const std::string* path = env == nullptr ? nullptr : env->Find("PATH");
  if (path == nullptr) return folders;
  const std::string ansi = Utf8ToAnsi(*path);
  std::vector<std::string> entries;
  SplitOutsideQuotes(ansi.data(), ansi.size(), &entries);
  for (std::string& entry : entries) {
    entry.erase(std::remove(entry.begin(), entry.end(), '"'), entry.end());
    if (!Trim(entry).empty()) folders.push_back(WithBackslash(std::move(entry)));
  }
  return folders;
}

std::vector<std::string> SearchFolders() {
  std::lock_guard lock(g_search_mutex);
  if (!g_search_built) {
    g_search_built = true;
    const std::string system = GetSystemDirLower();
    g_search_folders = {system, GetWindowsDirLower()};
    if (!ExtractFileDrive(system).empty()) {
      g_search_folders.push_back(ExtractFileDrive(system) + "\\");
    }
    for (std::string& folder : PathFolders()) g_search_folders.push_back(std::move(folder));
  }
  return g_search_folders;
}

// The first value name of the shared-DLL list (the view chosen by `use64`) whose file name is
// `name` and that exists as a file. Read with read access only.
std::string FindInSharedDlls(const std::string& name, bool use64) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDllsKey, 0, KEY_READ | ViewAccessFlags(use64),
                    &key) != kErrorSuccess) {
    return {};
  }
  const std::string wanted = AnsiToUtf8(name);
  thread_local std::vector<char> buffer(32768);
  std::string found;
  for (uint32_t index = 0; found.empty(); ++index) {
    uint32_t size = static_cast<uint32_t>(buffer.size());
    LSTATUS status = RegEnumValueA(key, index, buffer.data(), &size, nullptr, nullptr, nullptr);
    if (status == kErrorNoMoreItems) break;
    if (status != kErrorSuccess) continue;
    std::string_view value(buffer.data(), size);
    std::string_view file_name = value.substr(NameStart(value));
    if (install::FileNamesEqual(AnsiToUtf8(file_name), wanted) && FileExists(value)) {
      found = std::string(value);
    }
  }
  RegCloseKey(key);
  return found;
}

std::string FormatGrouped(uint64_t whole, char thousand_separator) {
  std::string digits = std::to_string(whole);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += thousand_separator;
    out += digits[i];
  }
  return out;
}

// size / unit with two decimals, rounded half away from zero, with thousands separators.
std::string FormatTwoDecimals(int64_t size, int64_t unit, char decimal, char thousand) {
  const unsigned __int128 cents =
      (static_cast<unsigned __int128>(size) * 100 + static_cast<uint64_t>(unit) / 2) /
      static_cast<uint64_t>(unit);
  const uint64_t whole = static_cast<uint64_t>(cents / 100);
  const unsigned fraction = static_cast<unsigned>(cents % 100);
  std::string text = FormatGrouped(whole, thousand);
  text += decimal;
  text += static_cast<char>('0' + fraction / 10);
  text += static_cast<char>('0' + fraction % 10);
  return text;
}

}  // namespace

void SetProcessFiles(files::HostFiles* files, const HostEnvironment* environment) {
  g_files.store(files);
  g_environment.store(environment);
  std::lock_guard lock(g_search_mutex);
  g_search_folders.clear();
  g_search_built = false;
}

files::HostFiles* ProcessFiles() {
  return g_files.load();
}

const HostEnvironment* ProcessEnvironment() {
  return g_environment.load();
}

std::string AnsiToUtf8(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  return ToUtf8(AnsiToUtf16(text));
}

std::string Utf8ToAnsi(std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  return Utf16ToAnsi(FromUtf8(text));
}

// --- Kernel functions ---

uint32_t GetFileAttributesA(std::string_view path) {
  path = CString(path);
  files::HostFiles* host_files = g_files.load();
  if (host_files == nullptr) return files::kInvalidFileAttributes;
  if (path.size() >= kMaxPath && !path.starts_with("\\\\?\\")) {
    return files::kInvalidFileAttributes;
  }
  return host_files->GetFileAttributes(AnsiToUtf8(path), CurrentView());
}

uint32_t GetDriveTypeA(std::string_view root) {
  files::HostFiles* host_files = g_files.load();
  if (host_files == nullptr) return install::kDriveNoRootDir;
  return host_files->GetDriveType(CString(root));
}

Result<std::string> ReadWholeFileAt(std::string_view path) {
  files::HostFiles* host_files = g_files.load();
  if (host_files == nullptr) return Status::Error(kErrorPathNotFound, std::string(path));
  const std::string utf8 = AnsiToUtf8(path);
  host_files->NoteChanged(utf8, CurrentView());  // a file written by another program is seen too
  Result<std::filesystem::path> host = host_files->HostPath(utf8, CurrentView());
  if (!host.ok()) return host.status();
  std::string bytes;
  HM_RETURN_IF_ERROR(ReadWholeFile(*host, &bytes));
  return bytes;
}

Status WriteWholeFileAt(std::string_view path, std::string_view bytes) {
  files::HostFiles* host_files = g_files.load();
  if (host_files == nullptr) return Status::Error(kErrorPathNotFound, std::string(path));
  const std::string utf8 = AnsiToUtf8(path);
  Result<std::filesystem::path> host = host_files->HostPathForCreate(utf8, CurrentView());
  if (!host.ok()) return host.status();
  const Status written = AtomicWriteFile(*host, bytes, {.durable = false});
  host_files->NoteChanged(utf8, CurrentView());
  return written;
}

bool FileExists(std::string_view path) {
  const uint32_t attributes = GetFileAttributesA(path);
  return attributes != files::kInvalidFileAttributes &&
         (attributes & files::kFileAttributeDirectory) == 0;
}

bool DirectoryExists(std::string_view path) {
  const uint32_t attributes = GetFileAttributesA(path);
  return attributes != files::kInvalidFileAttributes &&
         (attributes & files::kFileAttributeDirectory) != 0;
}

std::string ExtractFileDrive(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    // "\\server\share": up to the backslash after the share name.
    size_t server_end = path.find('\\', 2);
    if (server_end == std::string_view::npos) return std::string(path);
    size_t share_end = path.find('\\', server_end + 1);
    return std::string(path.substr(0, share_end));
  }
  return {};
}

// --- Text helpers ---

std::string GetNextToken(std::string_view text, int* pos, char delim) {
  const int length = static_cast<int>(text.size());
  int at = std::max(*pos, 1);
  if (delim == ' ') {
    while (at <= length && text[at - 1] == ' ') ++at;
  }
  if (at > length) {
    *pos = length + 1;
    return {};
  }
  size_t end = text.find(delim, at - 1);
  if (end == std::string_view::npos) {
    *pos = length + 1;
    return std::string(text.substr(at - 1));
  }
  *pos = static_cast<int>(end) + 2;
  return std::string(text.substr(at - 1, end - (at - 1)));
}

int32_t GetNextIntToken(std::string_view text, int* pos, char delim) {
  std::string token = GetNextToken(text, pos, delim).substr(0, 12);
  std::string_view digits = Trim(token);
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  int32_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) return 0;
  return value;
}

std::string StripQuotes(std::string_view text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return std::string(text.substr(1, text.size() - 2));
  }
  return std::string(text);
}

int FindCharOfSet(int from, std::string_view text, std::string_view set) {
  for (size_t i = static_cast<size_t>(std::max(from, 1)) - 1; i < text.size(); ++i) {
    if (set.find(text[i]) != std::string_view::npos) return static_cast<int>(i) + 1;
  }
  return 0;
}

void SplitCommaArgs(std::string_view text, std::string* path, std::string* args) {
  size_t comma = text.rfind(',');
  if (comma == std::string_view::npos) {
    *path = std::string(text);
    args->clear();
    return;
  }
  *path = StripQuotes(Trim(text.substr(0, comma)));
  *args = std::string(Trim(text.substr(comma + 1)));
}

std::string StripCommaArgs(std::string_view text) {
  std::string path, args;
  SplitCommaArgs(text, &path, &args);
  return path;
}

void SplitOutsideQuotes(const char* data, size_t size, std::vector<std::string>* list) {
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '"') {
      quoted = !quoted;
    } else if (data[i] == ';' && !quoted) {
      list->push_back(CutAtNul(data + start, i - start));
      start = i + 1;
    }
  }
  // The tail ends at the value's terminating NUL, or at the end of data stored without one.
  std::string tail = CutAtNul(data + start, size - start);
  if (!tail.empty()) list->push_back(std::move(tail));
}

void SplitMultiSz(const char* data, size_t size, std::vector<std::string>* list) {
  for (size_t at = 0; at < size;) {
    std::string item = CutAtNul(data + at, size - at);
    if (item.empty()) return;
    at += item.size() + 1;
    list->push_back(std::move(item));
  }
}

bool IsValidPathText(std::string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return IsInvalidPathChar(static_cast<unsigned char>(c)); });
}

bool IsValidFileNameText(std::string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return IsInvalidFileNameChar(static_cast<unsigned char>(c)); });
}

std::string FormatByteSize(int64_t size) {
  const HostEnvironment* env = g_environment.load();
  if (env == nullptr) return FormatByteSize(size, '.', ',');
  return FormatByteSize(size, env->decimal_separator(), env->thousand_separator());
}

std::string FormatByteSize(int64_t size, char decimal_separator, char thousand_separator) {
  constexpr int64_t kKilo = 1024, kMega = 1048576, kGiga = 1073741824;
  if (size > kGiga) {
    return FormatTwoDecimals(size, kGiga, decimal_separator, thousand_separator) + " GB";
  }
  if (size > kMega) {
    return FormatTwoDecimals(size, kMega, decimal_separator, thousand_separator) + " MB";
  }
  if (size > kKilo) return std::to_string(size / kKilo) + " KB";
  return std::to_string(size) + " B";
}

bool WideToUtf8(std::u16string_view wide, std::string* bytes) {
  *bytes = ToUtf8(wide);
  return !bytes->empty();
}

// --- Folders ---

std::string GetSystemDirLower() {
  const HostEnvironment* env = g_environment.load();
  if (env == nullptr) return {};
  return LowerAscii(WithBackslash(Utf8ToAnsi(env->system_folder())));
}

std::string GetWindowsDirLower() {
  const HostEnvironment* env = g_environment.load();
  if (env == nullptr) return {};
  return LowerAscii(WithBackslash(Utf8ToAnsi(env->windows_folder())));
}

std::string GetTempDir() {
  const HostEnvironment* env = g_environment.load();
  if (env == nullptr) return {};
  for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
    const std::string* value = env->Find(name);
    if (value != nullptr && !value->empty()) return WithBackslash(Utf8ToAnsi(*value));
  }
  return WithBackslash(Utf8ToAnsi(env->windows_folder()));
}

bool GetSpecialFolderPath(void* window, std::string* path, int csidl, bool create) {
  (void)window;
  (void)create;  // SHGetFolderPathA takes its create request from the identifier
  const HostEnvironment* env = g_environment.load();
  if (env == nullptr) return false;
  const std::string folder = env->SpecialFolder(csidl);
  if (folder.empty()) return false;
  const std::string ansi = Utf8ToAnsi(folder);
  if (ansi.size() >= kMaxPath) return false;
  if ((csidl & CSIDL_FLAG_CREATE) != 0) {
    files::HostFiles* host_files = g_files.load();
    if (host_files == nullptr || !host_files->CreateFolder(folder, CurrentView()).ok()) {
      return false;
    }
  }
  *path = ansi;
  return true;
}

std::string GetSpecialFolder(int csidl, bool create) {
  std::string path;
  if (!GetSpecialFolderPath(nullptr, &path, csidl, create)) return {};
  return path;
}

std::string GetCommonAppDataDir() {
  return GetSpecialFolder(CSIDL_COMMON_APPDATA, false);
}

std::string GetAppDataDir() {
  return GetSpecialFolder(CSIDL_APPDATA, false);
}

std::string GetLocalAppDataDir() {
  return GetSpecialFolder(CSIDL_LOCAL_APPDATA, false);
}

std::string GetSysNativeDir() {
  if (!IsWow64()) return {};
  std::string windows = GetSpecialFolder(CSIDL_WINDOWS, false);
  if (!windows.empty()) return windows + "\\SysNative\\";
  std::string system = GetSpecialFolder(CSIDL_SYSTEM, false);
  return system.empty() ? std::string() : WithBackslash(system);
}

std::string DevicePathToDosPath(std::string_view path) {
  files::HostFiles* host_files = g_files.load();
  if (host_files == nullptr) return std::string(path);
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string device = host_files->QueryDosDevice(letter);
    if (device.empty() || path.size() < device.size()) continue;
    // "\Device\HarddiskVolume2" must not take "\Device\HarddiskVolume21\...".
    if (path.size() > device.size() && path[device.size()] != '\\') continue;
    if (EqualsNoCaseAscii(path.substr(0, device.size()), device)) {
      return std::string{letter, ':'} + std::string(path.substr(device.size()));
    }
  }
  return std::string(path);
}

// --- Environment ---

std::string ExpandEnvVars(std::string_view text, bool use64) {
  text = CString(text);
  const HostEnvironment* env = g_environment.load();
  if (text.empty() || env == nullptr || text.find('%') == std::string_view::npos) {
    return std::string(text);
  }
  std::string source(text);
  if (use64) {
    ReplaceAllNoCase(&source, "%programfiles%", "%ProgramW6432%");
    ReplaceAllNoCase(&source, "%commonprogramfiles%", "%CommonProgramW6432%");
  }
  return Utf8ToAnsi(env->Expand(AnsiToUtf8(source)));
}

// --- Existence tests ---

int ProbePath(std::string* path) {
  if (GetDriveTypeA(ExtractFileDrive(*path)) == install::kDriveFixed) {
    const uint32_t attributes = GetFileAttributesA(*path);
    if (attributes != files::kInvalidFileAttributes) {
      return (attributes & files::kFileAttributeDirectory) ? 2 : 1;
    }
  }
  const size_t colon = path->find(":\\");
  if (colon == std::string::npos) return 0;
  if (colon >= 1) path->erase(0, colon - 1);  // "rundll32 c:\x.dll" -> "c:\x.dll"
  if (GetDriveTypeA(ExtractFileDrive(*path)) != install::kDriveFixed) return 0;
  const size_t end = path->find_first_of(kPathEndChars, 3);
  if (end != std::string::npos) path->resize(end);

  // Unquoted paths with spaces: try ever longer prefixes, each ending before a break character.
  const int length = static_cast<int>(path->size());
  for (int from = 1;;) {
    const int brk = FindCharOfSet(from, *path, kBreakChars);
    // Candidates only grow: once one is too long for the "A" functions, so are all later ones.
    if (static_cast<size_t>(brk == 0 ? length : brk - 1) > kMaxPath) return 0;
    std::string candidate = brk == 0 ? *path : path->substr(0, brk - 1);
    if (!candidate.empty() && candidate.back() == '\\') candidate.pop_back();
    from = brk == 0 ? length + 1 : brk + 1;
    const uint32_t attributes = GetFileAttributesA(candidate);
    if (attributes != files::kInvalidFileAttributes) {
      if ((attributes & files::kFileAttributeDirectory) == 0) {
        *path = std::move(candidate);
        return 1;
      }
      const bool longer_possible =
          from <= length && path->find('\\', from - 1) != std::string::npos;
      const bool ends_here =
          (from <= length && ((*path)[from - 1] == ' ' || (*path)[from - 1] == ',')) || brk == 0 ||
          brk == length;
      if (!longer_possible && ends_here) {
        *path = std::move(candidate);
        return 2;
      }
    }
    if (brk == 0 || from > length) return 0;
  }
}

bool FileExistsEx(std::string_view text) {
  std::string path = ExpandEnvVars(text, false);
  if (ProbePath(&path) == 1) return true;
  if (!IsWow64()) return false;
  RedirectionOff native;
  path = ExpandEnvVars(text, true);
  return ProbePath(&path) == 1;
}

bool FolderExistsEx(std::string_view text) {
  const std::string unquoted = StripQuotes(text);
  std::string path = ExpandEnvVars(unquoted, false);
  if (ProbePath(&path) == 2) return true;
  if (!IsWow64()) return false;
  RedirectionOff native;
  path = ExpandEnvVars(unquoted, true);
  return ProbePath(&path) == 2;
}

namespace {

// One pass of PathExistsEx in the thread's current view.
bool PathExistsInView(std::string_view text, bool need_full_path, bool use64) {
  std::string path = LowerAscii(ExpandEnvVars(text, use64));
  if (need_full_path && path.find(":\\") == std::string::npos) return true;
  const bool in_x86 = path.find("\\program files (x86)\\") != std::string::npos;
  if (ProbePath(&path) != 0) return true;
  if (in_x86) {
    ReplaceFirst(&path, "\\program files (x86)\\", "\\program files\\");
  } else {
    ReplaceFirst(&path, "\\program files\\", "\\program files (x86)\\");
  }
  return ProbePath(&path) != 0;
}

}  // namespace

bool PathExistsEx(std::string_view text, bool need_full_path) {
  if (PathExistsInView(text, need_full_path, false)) return true;
  if (!IsWow64()) return false;
  RedirectionOff native;
  return PathExistsInView(text, need_full_path, true);
}

std::string FindFileOnPath(std::string_view text, bool use64) {
  std::string name = ExpandEnvVars(text, use64);
  if (!name.empty() && name[0] == '"') name.erase(0, 1);
  std::string probe = name;
  if (ProbePath(&probe) == 1) return probe;
  if (name.find(":\\") != std::string::npos) return {};
  for (const std::string& folder : SearchFolders()) {
    std::string path = folder + name;
    if (ProbePath(&path) == 1) return path;
  }
  return FindInSharedDlls(LowerAscii(name), use64);
}

std::string FindFileOnPathAnyView(std::string_view text) {
  std::string found = FindFileOnPath(text, false);
  if (!found.empty() || !IsWow64()) return found;
  RedirectionOff native;
  return FindFileOnPath(text, true);
}

bool FileIsOnPath(std::string_view text) {
  return !text.empty() && !FindFileOnPathAnyView(text).empty();
}

std::string ExtractCommandPath(std::string_view command_line) {
  if (!command_line.empty() && command_line[0] == '"') {
    size_t close = command_line.find('"', 1);
    if (close != std::string_view::npos) return std::string(command_line.substr(1, close - 1));
  }
  std::string path(command_line);
  size_t colon = path.find(':');
  if (colon != std::string::npos && colon >= 2) path.erase(0, colon - 1);
  size_t end = path.find_first_of(kCommandEndChars);
  if (end != std::string::npos) path.resize(end);
  return path;
}

bool CommandTargetExists(std::string_view command_line) {
  if (command_line.empty() || command_line.starts_with("explorer")) return true;
  const std::string program = LowerAscii(ExtractCommandPath(command_line));
  if (program.empty()) return true;
  const std::string_view folder = std::string_view(program).substr(0, NameStart(program));
  if (!folder.empty() && !IsValidPathText(folder)) return true;
  if (folder.size() == program.size()) return true;  // a folder, not a program
  const std::string_view name = std::string_view(program).substr(folder.size());
  if (!IsValidFileNameText(name)) return true;
  for (std::string_view known : kKnownPrograms) {
    if (program == known) return true;
  }
  if (!FindFileOnPathAnyView(command_line).empty()) return true;
  if (!FileExtension(program).empty()) return !FindFileOnPathAnyView(program).empty();
  for (const char* extension : {".exe", ".com", ".bat", ""}) {
    if (!FindFileOnPathAnyView(program + extension).empty()) return true;
  }
  return false;
}

bool CommandTargetExistsAnyView(std::string_view command_line) {
  if (CommandTargetExists(ExpandEnvVars(command_line, false))) return true;
  if (!IsWow64()) return false;
  RedirectionOff native;
  return CommandTargetExists(ExpandEnvVars(command_line, true));
}

}  // namespace hm::reg
