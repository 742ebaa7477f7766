#include "scanner/exclusions.h"

#include <zlib.h>

#include <algorithm>
#include <mutex>

#include "platform/ini_file.h"
#include "platform/text_lines.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/builtin_resources.h"

namespace hm::scan {
namespace {

std::string_view TrimSpaces(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "ROOT\Key\\:Value" -> ("ROOT\Key", "Value"); false without the separator.
bool SplitValueEntry(std::string_view entry, std::string_view* key, std::string_view* value) {
  const size_t at = entry.find(kValueSeparator);
  if (at == std::string_view::npos) return false;
  *key = entry.substr(0, at);
  *value = entry.substr(at + kValueSeparator.size());
  return true;
}

// The ignore file's name for the default value.
constexpr std::string_view kDefaultValueName = "(DEFAULT)";

// The words of the word filter, stored letter-rotated by 13 (rotate again to read them). They
// mark references that a test for a file cannot judge, so that no finding is made of them:
//  - URLs and protocol forms: http:, https:, ftp:, file:, mailto:, news:, nntp:, telnet:,
//    ldap:, res:, about:, javascript:, vbscript:, data:, urn:, callto:, search-ms:,
//    ms-settings:, ms-windows-store:, microsoft-edge:, ms-appx:, ms-its:, mk:@msitstore:, its:
//    (help and web pages, protocol handlers, packaged-app resources);
//  - shell namespace forms: shell:, ::{ (known folders and namespace extensions by CLSID);
//  - device, volume and kernel paths that are not drive paths: \device\, \??\, \\?\, \\.\,
//    \systemroot\, \globalroot\, volume{;
//  - registry paths kept in values: hkey_, \registry\.
constexpr const char* kRotatedWords[] = {
    "uggc:",
    "uggcf:",
    "sgc:",
    "svyr:",
    "znvygb:",
    "arjf:",
    "aagc:",
    "gryarg:",
    "yqnc:",
    "erf:",
    "nobhg:",
    "wninfpevcg:",
    "iofpevcg:",
    "qngn:",
    "hea:",
    "pnyygb:",
    "frnepu-zf:",
    "zf-frggvatf:",
    "zf-jvaqbjf-fgber:",
    "zvpebfbsg-rqtr:",
    "zf-ncck:",
    "zf-vgf:",
    "zx:@zfvgfgber:",
    "vgf:",
    "furyy:",
    "::{",
    "\\qrivpr\\",
    "\\??\\",
    "\\\\?\\",
    "\\\\.\\",
    "\\flfgrzebbg\\",
    "\\tybonyebbg\\",
    "ibyhzr{",
    "uxrl_",
    "\\ertvfgel\\",
};

std::string Rotate13(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
  }
  return out;
}

}  // namespace

Result<std::string> InflateResource(std::string_view bytes) {
  if (bytes.size() < 2 || bytes[0] != 'Z' || bytes[1] != 'P') return std::string(bytes);
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    return Status::Error(kErrorNotEnoughMemory, "inflate");
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + 2));
  stream.avail_in = static_cast<uInt>(bytes.size() - 2);
  std::string text;
  char buffer[16384];
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) break;
    text.append(buffer, sizeof buffer - stream.avail_out);
    // No progress and no end: the stream is cut short.
    if (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
      result = Z_DATA_ERROR;
      break;
    }
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) {
    return Status::Error(kErrorInvalidData, "compressed resource: the deflate stream is damaged");
  }
  return text;
}

Result<std::vector<std::string>> DefaultSkippedKeys() {
  Result<std::string> text = InflateResource(SkippedKeysResource());
  if (!text.ok()) return text.status();
  std::vector<std::string> lines;
  for (std::string& line : SplitLines(*text)) {
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

Result<std::vector<std::string>> ParsePermanentIgnores(std::string_view resource) {
  Result<std::string> text = InflateResource(resource);
  if (!text.ok()) return text.status();
  std::vector<std::string> entries;
  for (const std::string& line : SplitLines(*text)) {
    std::string_view trimmed = TrimSpaces(line);
    if (trimmed.empty() || trimmed.front() == '{') continue;  // a group heading
    entries.emplace_back(trimmed);
  }
  return entries;
}

Result<std::vector<std::string>> LoadPermanentIgnores() {
  static std::once_flag once;
  static Result<std::vector<std::string>>* loaded = nullptr;
  std::call_once(once, [] {
    loaded =
        new Result<std::vector<std::string>>(ParsePermanentIgnores(PermanentIgnoresResource()));
  });
  return *loaded;
}

std::vector<std::string> ParseIgnoreFile(std::string_view text) {
  const IniFile ini = IniFile::Parse(text);
  std::vector<std::string> entries;
  for (const std::string& section : ini.Sections()) {
    const std::vector<std::string> names = ini.SectionNames(section);
    if (names.empty()) {
      entries.push_back(section);
      continue;
    }
    for (const std::string& name : names) {
      const bool is_default = IniNamesEqual(name, kDefaultValueName);
      entries.push_back(section + std::string(kValueSeparator) + (is_default ? "" : name));
    }
  }
  return entries;
}

Result<std::vector<std::string>> IgnoreFileEntries(const std::filesystem::path& file) {
  Result<IniFile> ini = IniFile::Load(file);
  if (!ini.ok()) return ini.status();
  return ParseIgnoreFile(ini->ToText());
}

Status AddToIgnoreFile(const std::filesystem::path& file, std::string_view entry) {
  Result<IniFile> ini = IniFile::Load(file);
  if (!ini.ok()) return ini.status();
  std::string_view key, value;
  // A key already listed is not listed twice.
  const bool written = SplitValueEntry(entry, &key, &value)
                           ? ini->WriteString(key, value.empty() ? kDefaultValueName : value, "")
                           : ini->AddSection(entry);
  if (!written) {
    return Status::Error(kErrorInvalidParameter,
                         "ignore entry '" + std::string(entry) + "' cannot be written to the file");
  }
  return ini->Save(file);
}

Status RemoveFromIgnoreFile(const std::filesystem::path& file, std::string_view entry) {
  Result<IniFile> ini = IniFile::Load(file);
  if (!ini.ok()) return ini.status();
  std::string_view key, value;
  if (SplitValueEntry(entry, &key, &value)) {
    ini->DeleteKey(key, value);
    if (ini->SectionNames(key).empty()) ini->EraseSection(key);
  } else {
    ini->EraseSection(entry);
  }
  return ini->Save(file);
}

std::vector<std::string> BuildIgnoreList(const std::vector<std::string>& skipped_key_lines,
                                         const std::vector<std::string>& permanent,
                                         const std::vector<std::string>& ignore_file) {
  std::vector<std::string> list;
  for (const std::string& line : skipped_key_lines) {
    const size_t equals = line.rfind('=');
    list.push_back(equals == std::string::npos ? line : line.substr(0, equals));
  }
  list.insert(list.end(), permanent.begin(), permanent.end());
  list.insert(list.end(), ignore_file.begin(), ignore_file.end());
  return list;
}

namespace {

bool IsPlainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

// ASCII bytes are the same code units in every code page, and Windows' table upper-cases only
// a to z among them; so for ASCII text the narrow upper-cased form stands for the wide one.
void UpcasedNameSet::Insert(std::string_view text) {
  std::u16string upper = reg::UpcasedName(text);
  if (std::all_of(upper.begin(), upper.end(), [](char16_t c) { return c < 0x80; })) {
    ascii_names_.emplace(upper.begin(), upper.end());
  }
  names_.insert(std::move(upper));
}

bool UpcasedNameSet::Contains(std::string_view text) const {
  if (!IsPlainAscii(text)) return names_.count(reg::UpcasedName(text)) > 0;
  thread_local std::string upper;
  upper.assign(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return ascii_names_.count(upper) > 0;
}

IgnoreLookup::IgnoreLookup(const std::vector<std::string>& ignore_list) {
  for (const std::string& entry : ignore_list) {
    const size_t slash = entry.find('\\');
    if (slash == std::string::npos) continue;  // not an entry at all
    // An entry with an unknown root can match no finding. (Kept with an empty root, it would
    // match a finding that has no root at all, such as a shortcut file.)
    const std::string root =
        reg::RootKeyToShortName(reg::NameToRootKey(std::string_view(entry).substr(0, slash)));
    if (root.empty()) continue;
    entries_.Insert(root + entry.substr(slash));
  }
}

bool IgnoreLookup::IsIgnored(reg::HKEY root, std::string_view key_path,
                             std::string_view value_name) const {
  const std::string root_name = reg::RootKeyToShortName(root);
  if (root_name.empty()) return false;  // a finding about a file, not a key
  thread_local std::string text;
  text.assign(root_name).append("\\").append(key_path);
  if (entries_.Contains(text)) return true;
  text.append(kValueSeparator).append(value_name);
  return entries_.Contains(text);
}

SkipKeyList::SkipKeyList(const std::vector<std::string>& control_sets) {
  auto add = [this](std::string_view path) { keys_.Insert(path); };
  for (const char* path :
       {"Environment", "Software\\Classes", "Software\\Microsoft\\imejp\\10.0",
        "Software\\Microsoft\\Speech\\Recognizers\\Tokens", "Software\\Microsoft\\Tracing"}) {
    add(path);
  }
  for (const char* below : {"App Management\\ARPCache",
                            "ime\\china\\imesc",
                            "Uninstall",
                            "App Paths",
                            "Extensions",
                            "Applets\\Paint\\Recent File List",
                            "Applets\\Wordpad\\Recent File List",
                            "Explorer\\FileExts",
                            "Explorer\\ComDlg32\\OpenSaveMRU",
                            "Explorer\\RunMRU",
                            "Explorer\\Shell Folders",
                            "Explorer\\User Shell Folders",
                            "Explorer\\MenuOrder",
                            "Explorer\\VolumeCaches\\Active Setup Temp Folders",
                            "Internet Settings",
                            "Installer\\Folders",
                            "Installer\\UserData",
                            "Run",
                            "Run-",
                            "RunServices",
                            "RunServices-",
                            "SharedDLLs",
                            "Fonts"}) {
    add(std::string("Software\\Microsoft\\Windows\\CurrentVersion\\") + below);
  }
  for (const char* path :
       {"Software\\Microsoft\\Windows\\Help", "Software\\Microsoft\\Windows\\HTML Help",
        "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache",
        "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
        "Software\\Microsoft\\Windows Search\\Gather\\Windows\\SystemIndex"}) {
    add(path);
  }
  for (const char* below :
       {"\\Services\\Eventlog", "\\Services\\SharedAccess\\Defaults\\FirewallPolicy",
        "\\Services\\SysmonLog", "\\Services\\VXD", "\\Control\\BackupRestore",
        "\\Control\\InstalledFiles", "\\Control\\Session Manager", "\\Control\\SessionManager",
        "\\Control\\CrashControl", "\\Control\\VirtualDeviceDrivers", "\\Control\\WMI"}) {
    add(std::string("System\\CurrentControlSet") + below);
  }
  for (const std::string& set : control_sets) add("System\\" + set);
  for (const char* path :
       {"Software\\Microsoft\\Advanced INF Setup",
        "Software\\Microsoft\\Internet Explorer\\Low Rights", "Software\\Wow6432Node"}) {
    add(path);
  }
}

bool SkipKeyList::IsSkippedKey(std::string_view key_path) const {
  return keys_.Contains(key_path);
}

std::vector<std::string> ControlSetNames() {
  std::vector<std::string> names;
  reg::HKEY system = 0;
  if (reg::RegOpenKeyExA(reg::HKEY_LOCAL_MACHINE, "System", 0, reg::KEY_READ, &system) != 0) {
    return names;
  }
  constexpr std::string_view kPrefix = "CONTROLSET";
  char name[256];
  for (uint32_t index = 0;; ++index) {
    uint32_t size = sizeof name;
    const reg::LSTATUS error = reg::RegEnumKeyExA(system, index, name, &size);
    if (error == kErrorNoMoreItems) break;
    if (error != kErrorSuccess || size != kPrefix.size() + 3) continue;
    std::string upper(name, size);
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    if (upper.compare(0, kPrefix.size(), kPrefix) == 0) names.emplace_back(name, size);
  }
  reg::RegCloseKey(system);
  return names;
}

const std::vector<std::string>& FilterWords() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> plain;
    for (const char* rotated : kRotatedWords) plain.push_back(Rotate13(rotated));
    return plain;
  }();
  return words;
}

bool PassesWordFilter(std::string_view text) {
  // The words are ASCII, so lower-casing the ASCII letters of the text is enough to find them
  // (a code-page letter never lower-cases into an ASCII one). Checks call this for most
  // references they test: no allocation per call.
  thread_local std::string lower;
  lower.assign(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  const std::vector<std::string>& words = FilterWords();
  return std::none_of(words.begin(), words.end(), [&](const std::string& word) {
    return lower.find(word) != std::string::npos;
  });
}

}  // namespace hm::scan
