#include "registry/regedit.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/utf.h"
#include "platform/win_error.h"
#include "registry/registry_access.h"

namespace hm::reg {
namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00\r\n\r\n";
// Windows' limits on names, in UTF-16 code units.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

std::atomic<RegEditFault> g_fault{RegEditFault::kNone};
std::atomic<uint32_t> g_fault_exit_code{kRegEditExitFailed};

// A key handle closed when it goes out of scope.
class OpenedKey {
 public:
  explicit OpenedKey(HostRegistry& registry) : registry_(registry) {}
  ~OpenedKey() {
    if (handle_ != 0) registry_.CloseKey(handle_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  LSTATUS Open(HKEY parent, std::u16string_view path, REGSAM access) {
    return registry_.OpenKey(parent, path, access, &handle_);
  }
  LSTATUS Create(HKEY parent, std::u16string_view path, REGSAM access) {
    return registry_.CreateKey(parent, path, access, &handle_);
  }
  HKEY get() const { return handle_; }

 private:
  HostRegistry& registry_;
  HKEY handle_ = 0;
};

std::u16string RootName(HKEY root) {
  return FromUtf8(RootKeyToName(root));
}

std::u16string KeyText(HKEY root, std::u16string_view path) {
  std::u16string text = RootName(root);
  if (!path.empty()) text += u'\\';
  text += path;
  return text;
}

// --- Export ---

void AppendEscaped(std::u16string_view text, std::u16string* out) {
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out->push_back(u'\\');
    out->push_back(c);
  }
}

// True when `data` reads back byte for byte from a quoted string: UTF-16 units ending in one
// NUL, with no other NUL and no line break (which the file would carry as a line end of its own).
bool IsPlainString(std::string_view data) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  const size_t units = data.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(static_cast<uint8_t>(data[2 * i]) |
                                             (static_cast<uint8_t>(data[2 * i + 1]) << 8));
    if ((c == 0) != (i + 1 == units)) return false;
    if (c == u'\r' || c == u'\n') return false;
  }
  return true;
}

std::u16string Widen(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

void AppendValueLine(const HostRegistry::ValueEntry& value, std::u16string* out) {
  std::u16string line;
  if (value.name.empty()) {
    line = u"@=";
  } else {
    line = u"\"";
    AppendEscaped(value.name, &line);
    line += u"\"=";
  }
  const std::string_view data = value.data;
  if (value.type == REG_SZ && IsPlainString(data)) {
    std::u16string text(data.size() / 2 - 1, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(static_cast<uint8_t>(data[2 * i]) |
                                      (static_cast<uint8_t>(data[2 * i + 1]) << 8));
    }
    line += u'"';
    AppendEscaped(text, &line);
    line += u'"';
  } else if (value.type == REG_DWORD && data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<uint8_t>(data[i]);
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "dword:%08x", number);
    line += Widen(buffer);
  } else {
    char prefix[24];
    if (value.type == REG_BINARY) {
      std::snprintf(prefix, sizeof(prefix), "hex:");
    } else {
      std::snprintf(prefix, sizeof(prefix), "hex(%x):", value.type);
    }
    line += Widen(prefix);
    std::string list;
    AppendRegHexList(&list, data, line.size(), false);
    line += Widen(list);
  }
  *out += line;
  *out += u"\r\n";
}

Status CheckExportName(std::u16string_view name, bool key, std::u16string_view key_text) {
  const bool line_break = name.find_first_of(u"\r\n") != std::u16string_view::npos;
  if (name.find(u'\0') == std::u16string_view::npos && !(key && line_break)) return Status::Ok();
  return Status::Error(kErrorInvalidName,
                       "export '" + ToUtf8(key_text) + "': the " + (key ? "key" : "value") +
                           " name '" + ToUtf8(name) + "' cannot be written to a registry file");
}

// Appends one key's block: its key line, its values and the empty line after them; the names
// of its subkeys go to *subkeys.
Status ExportOneKey(HostRegistry& registry, HKEY handle, const std::u16string& key_text,
                    std::vector<std::u16string>* subkeys, std::u16string* out) {
  *out += u"[" + key_text + u"]\r\n";
  for (uint32_t index = 0;; ++index) {
    HostRegistry::ValueEntry value;
    const LSTATUS error = registry.EnumValue(handle, index, &value);
    if (error == kErrorNoMoreItems) break;
    if (error != kErrorSuccess) {
      return Status::Error(error, "export '" + ToUtf8(key_text) + "': values");
    }
    HM_RETURN_IF_ERROR(CheckExportName(value.name, false, key_text));
    AppendValueLine(value, out);
  }
  *out += u"\r\n";
  subkeys->clear();
  for (uint32_t index = 0;; ++index) {
    std::u16string name;
    const LSTATUS error = registry.EnumKey(handle, index, &name);
    if (error == kErrorNoMoreItems) break;
    if (error != kErrorSuccess) {
      return Status::Error(error, "export '" + ToUtf8(key_text) + "': subkeys");
    }
    subkeys->push_back(std::move(name));
  }
  return Status::Ok();
}

std::string ToUtf16LeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(2 + text.size() * 2);
  bytes += "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

// --- Import ---

Status LineError(std::string_view label, int line, uint32_t code, const std::string& what) {
  return Status::Error(code, std::string(label) + ": line " + std::to_string(line) + ": " + what);
}

// The root and the path of a key text whose root the reader has written in full.
struct KeyTarget {
  HKEY root = 0;
  std::u16string path;
};

Status SplitKeyText(const regedit::KeyOp& op, std::string_view label, KeyTarget* target) {
  const size_t slash = op.key_text.find(u'\\');
  const std::u16string_view root_name = std::u16string_view(op.key_text).substr(0, slash);
  target->root = NameToRootKey(ToUtf8(root_name));
  if (target->root == 0 || target->root == HKEY_PERFORMANCE_DATA ||
      target->root == HKEY_DYN_DATA) {
    return LineError(label, op.line, kErrorInvalidData,
                     "no keys can be imported into " + ToUtf8(root_name));
  }
  target->path = slash == std::u16string::npos ? u"" : op.key_text.substr(slash + 1);
  std::u16string_view rest = target->path;
  if (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);  // regedit accepts "[A\]"
  target->path.resize(rest.size());
  if (target->path.empty() && op.remove) {
    return LineError(label, op.line, kErrorInvalidData, "a root key cannot be deleted");
  }
  size_t start = 0;
  while (!rest.empty() && start <= rest.size()) {
    size_t end = rest.find(u'\\', start);
    if (end == std::u16string_view::npos) end = rest.size();
    const size_t length = end - start;
    if (length == 0) {
      return LineError(label, op.line, kErrorInvalidData,
                       "empty key name in '" + ToUtf8(op.key_text) + "'");
    }
    if (length > kMaxKeyNameLength) {
      return LineError(label, op.line, kErrorInvalidData,
                       "key name longer than 255 characters in '" + ToUtf8(op.key_text) + "'");
    }
    start = end + 1;
  }
  return Status::Ok();
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// True when deleting the key would reach a hive's root (the key is a mount point or holds one):
// such a deletion would empty the hive and then fail, so it is refused before anything changes.
bool ReachesHiveRoot(HostRegistry& registry, const KeyTarget& target) {
  const std::string key = AsciiUpper(RootKeyToShortName(target.root) + "\\" + ToUtf8(target.path));
  std::vector<std::string> mounts;
  for (const HostRegistry::HiveState& hive : registry.Hives()) mounts.push_back(AsciiUpper(hive.mount));
  mounts.push_back("HKCU\\SOFTWARE\\CLASSES");
  for (const std::string& mount : mounts) {
    if (mount == key || mount.starts_with(key + "\\")) return true;
  }
  return false;
}

// Whether the key `target` (or, when it does not exist, the deepest key on its way that does)
// may be changed as the operation needs: values set in it or subkeys created, or deleted.
Status CheckWritable(HostRegistry& registry, const regedit::KeyOp& op, const KeyTarget& target,
                     REGSAM view, std::string_view label) {
  std::u16string_view path = target.path;
  OpenedKey existing(registry);
  LSTATUS error = existing.Open(target.root, path, KEY_READ | view);
  if (op.remove) {
    if (error == kErrorFileNotFound) return Status::Ok();  // nothing to delete
    if (error == kErrorSuccess && ReachesHiveRoot(registry, target)) error = kErrorAccessDenied;
    if (error == kErrorSuccess) {
      OpenedKey probe(registry);
      error = probe.Open(target.root, path, KEY_READ | DELETE | view);
    }
  } else {
    REGSAM needed = KEY_SET_VALUE;
    while (error == kErrorFileNotFound && !path.empty()) {
      const size_t slash = path.rfind(u'\\');
      path = slash == std::u16string_view::npos ? u"" : path.substr(0, slash);
      needed = KEY_CREATE_SUB_KEY;
      OpenedKey parent(registry);
      error = parent.Open(target.root, path, KEY_READ | view);
    }
    if (error == kErrorSuccess) {
      OpenedKey probe(registry);
      error = probe.Open(target.root, path, KEY_READ | needed | view);
    }
  }
  if (error == kErrorSuccess) return Status::Ok();
  return LineError(label, op.line, error,
                   "'" + ToUtf8(op.key_text) + "' cannot be " + (op.remove ? "deleted" : "changed"));
}

// Deletes `name` below `parent` and everything under it; a missing key is no error.
LSTATUS DeleteTree(HostRegistry& registry, HKEY parent, const std::u16string& name, REGSAM view) {
  std::vector<std::u16string> children;
  {
    OpenedKey key(registry);
    LSTATUS error = key.Open(parent, name, KEY_READ | DELETE | view);
    if (error == kErrorFileNotFound) return kErrorSuccess;
    if (error != kErrorSuccess) return error;
    for (uint32_t index = 0;; ++index) {
      std::u16string child;
      error = registry.EnumKey(key.get(), index, &child);
      if (error == kErrorNoMoreItems) break;
      if (error != kErrorSuccess) return error;
      children.push_back(std::move(child));
    }
    for (const std::u16string& child : children) {
      error = DeleteTree(registry, key.get(), child, view);
      if (error != kErrorSuccess) return error;
    }
  }
  const LSTATUS error = registry.DeleteKey(parent, name, view);
  return error == kErrorFileNotFound ? kErrorSuccess : error;
}

Status ApplyKey(HostRegistry& registry, const regedit::KeyOp& op, REGSAM view,
                std::string_view label) {
  KeyTarget target;
  HM_RETURN_IF_ERROR(SplitKeyText(op, label, &target));
  if (op.remove) {
    const size_t slash = target.path.rfind(u'\\');
    const std::u16string parent_path =
        slash == std::u16string::npos ? u"" : target.path.substr(0, slash);
    const std::u16string name =
        slash == std::u16string::npos ? target.path : target.path.substr(slash + 1);
    OpenedKey parent(registry);
    LSTATUS error = parent.Open(target.root, parent_path, KEY_READ | view);
    if (error == kErrorFileNotFound) return Status::Ok();
    if (error == kErrorSuccess) error = DeleteTree(registry, parent.get(), name, view);
    if (error == kErrorSuccess) return Status::Ok();
    return LineError(label, op.line, error, "delete '" + ToUtf8(op.key_text) + "'");
  }
  OpenedKey key(registry);
  LSTATUS error = key.Create(target.root, target.path, KEY_READ | KEY_WRITE | view);
  if (error != kErrorSuccess) {
    return LineError(label, op.line, error, "create '" + ToUtf8(op.key_text) + "'");
  }
  for (const regedit::ValueOp& value : op.values) {
    if (value.remove) {
      error = registry.DeleteValue(key.get(), value.name);
      if (error == kErrorFileNotFound) error = kErrorSuccess;
    } else {
      error = registry.SetValue(key.get(), value.name, value.type, value.data);
    }
    if (error != kErrorSuccess) {
      return LineError(label, value.line, error,
                       std::string(value.remove ? "delete" : "set") + " value '" +
                           ToUtf8(value.name) + "' of '" + ToUtf8(op.key_text) + "'");
    }
  }
  return Status::Ok();
}

}  // namespace

REGSAM RegEditViewBits(const HostRegistry& registry, bool view64) {
  return view64 || !registry.is_64bit() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

void AppendRegHexList(std::string* out, std::string_view data, size_t column, bool upper_case) {
  const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    if (column >= 77) {
      *out += "\\\r\n  ";
      column = 2;
    }
    const auto byte = static_cast<uint8_t>(data[i]);
    out->push_back(digits[byte >> 4]);
    out->push_back(digits[byte & 15]);
    if (i + 1 < data.size()) {
      out->push_back(',');
      column += 3;
    } else {
      column += 2;
    }
  }
}

Result<std::string> ExportKeyTree(HostRegistry& registry, HKEY root, std::u16string_view path,
                                  bool view64) {
  const REGSAM view = RegEditViewBits(registry, view64);
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  std::u16string text(kHeader5);
  // Depth first in the registry's order: a stack of key paths, children pushed in reverse.
  std::vector<std::u16string> pending{std::u16string(path)};
  std::vector<std::u16string> subkeys;
  while (!pending.empty()) {
    const std::u16string current = std::move(pending.back());
    pending.pop_back();
    const std::u16string key_text = KeyText(root, current);
    OpenedKey key(registry);
    const LSTATUS error = key.Open(root, current, KEY_READ | view);
    if (error != kErrorSuccess) return Status::Error(error, "export '" + ToUtf8(key_text) + "'");
    HM_RETURN_IF_ERROR(ExportOneKey(registry, key.get(), key_text, &subkeys, &text));
    for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) {
      HM_RETURN_IF_ERROR(CheckExportName(*it, true, key_text));
      pending.push_back(current.empty() ? *it : current + u'\\' + *it);
    }
  }
  return ToUtf16LeBytes(text);
}

Result<regedit::RegFile> CheckRegFile(HostRegistry& registry, std::string_view bytes, bool view64,
                                      std::string_view label) {
  std::unique_ptr<CodePage> ansi = CodePage::ForNumber(registry.ansi_code_page());
  if (!ansi) ansi = CodePage::ForNumber(CodePage::kDefault);
  Result<regedit::RegFile> file = regedit::ParseRegFile(bytes, *ansi, label);
  if (!file.ok()) return file.status();
  const REGSAM view = RegEditViewBits(registry, view64);
  for (const regedit::KeyOp& op : file->keys) {
    KeyTarget target;
    HM_RETURN_IF_ERROR(SplitKeyText(op, label, &target));
    for (const regedit::ValueOp& value : op.values) {
      if (value.name.size() > kMaxValueNameLength) {
        return LineError(label, value.line, kErrorInvalidData,
                         "value name longer than 16383 characters");
      }
    }
    HM_RETURN_IF_ERROR(CheckWritable(registry, op, target, view, label));
  }
  return file;
}

Status ApplyRegFile(HostRegistry& registry, const regedit::RegFile& file, bool view64,
                    std::string_view label) {
  const REGSAM view = RegEditViewBits(registry, view64);
  for (const regedit::KeyOp& op : file.keys) HM_RETURN_IF_ERROR(ApplyKey(registry, op, view, label));
  return Status::Ok();
}

Status ImportRegFile(HostRegistry& registry, std::string_view bytes, bool view64,
                     std::string_view label) {
  Result<regedit::RegFile> file = CheckRegFile(registry, bytes, view64, label);
  if (!file.ok()) return file.status();
  return ApplyRegFile(registry, *file, view64, label);
}

ScopedRegEditFault::ScopedRegEditFault(RegEditFault fault, uint32_t exit_code)
    : previous_fault_(g_fault.load()), previous_exit_code_(g_fault_exit_code.load()) {
  g_fault_exit_code.store(exit_code);
  g_fault.store(fault);
}

ScopedRegEditFault::~ScopedRegEditFault() {
  g_fault_exit_code.store(previous_exit_code_);
  g_fault.store(previous_fault_);
}

RegEditFault CurrentRegEditFault(uint32_t* exit_code) {
  if (exit_code != nullptr) *exit_code = g_fault_exit_code.load();
  return g_fault.load();
}

}  // namespace hm::reg
