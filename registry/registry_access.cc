#include "registry/registry_access.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/win_error.h"
#include "registry/win_registry.h"

namespace hm::reg {
namespace {

struct RootName {
  HKEY root;
  std::string_view name;
  std::string_view short_name;  // empty: the full name stands in
};

constexpr std::array<RootName, 7> kRootNames = {{
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKU"},
    {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA", ""},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"},
    {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
}};

const RootName* FindRoot(HKEY root) {
  for (const RootName& entry : kRootNames) {
    if (entry.root == root) return &entry;
  }
  return nullptr;
}

// Set by InitRegistryAccess() before any thread starts, only read afterwards.
struct ProcessFacts {
  bool is_64bit_windows = false;
  bool no_view_flags = true;
  bool reflection_supported = false;
  bool multi_byte_locale = false;
};
ProcessFacts g_facts;

// WOW64 keeps file-system redirection per thread.
thread_local bool t_fs_redirection_disabled = false;

constexpr uint32_t kNoViewFlagsVersion = 500;  // Windows 2000
constexpr int32_t kMaxSubKeyNameChars = 256;
constexpr uint32_t kMaxValueNameChars = 32768;
constexpr uint32_t kMaxValueDataBytes = 65536;

bool IsDoubleByteCodePage(uint32_t code_page) {
  switch (code_page) {
    case 932:   // Japanese
    case 936:   // Simplified Chinese
    case 949:   // Korean
    case 950:   // Traditional Chinese
    case 1361:  // Korean (Johab)
      return true;
    default:
      return false;
  }
}

// A name length the registry reports in UTF-16 characters, as a byte count that holds the name in
// the code page: twice as many on a double-byte code page.
uint32_t CodePageNameLength(uint32_t length) {
  return g_facts.multi_byte_locale ? length * 2 : length;
}

// The buffers of one value enumeration.
struct ValueBuffers {
  std::string name;
  std::string value_name;
  std::vector<uint8_t> data;
  bool in_use = false;
};

}  // namespace

// --- Root keys and key texts ---

std::string RootKeyToName(HKEY root) {
  const RootName* entry = FindRoot(root);
  return entry == nullptr ? std::string() : std::string(entry->name);
}

std::string RootKeyToShortName(HKEY root) {
  const RootName* entry = FindRoot(root);
  if (entry == nullptr) return std::string();
  return std::string(entry->short_name.empty() ? entry->name : entry->short_name);
}

HKEY NameToRootKey(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  for (const RootName& entry : kRootNames) {
    if (upper == entry.name || (!entry.short_name.empty() && upper == entry.short_name)) {
      return entry.root;
    }
  }
  return 0;
}

std::string ExtractKeyParent(std::string_view path) {
  const size_t last = path.rfind('\\');
  return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string ExtractKeyTail(std::string_view path, int n) {
  int backslashes = 0;
  for (size_t i = path.size(); i > 0; --i) {
    if (path[i - 1] == '\\' && ++backslashes == n + 1) return std::string(path.substr(i));
  }
  return std::string(path);
}

// --- Process-wide facts ---

void InitRegistryAccess(const HostRegistry& registry) {
  const install::WindowsVersion& version = registry.installation().version();
  const uint32_t version_number = version.major * 100 + version.minor;
  g_facts.is_64bit_windows = registry.is_64bit();
  g_facts.no_view_flags = version_number == 0 || version_number <= kNoViewFlagsVersion;
  // RegQueryReflectionKey answers exactly where the two views exist.
  g_facts.reflection_supported = registry.is_64bit();
  g_facts.multi_byte_locale = IsDoubleByteCodePage(registry.ansi_code_page());
}

bool Is64BitWindows() {
  return g_facts.is_64bit_windows;
}
bool NoViewFlags() {
  return g_facts.no_view_flags;
}
bool ReflectionSupported() {
  return g_facts.reflection_supported;
}
bool MultiByteLocale() {
  return g_facts.multi_byte_locale;
}
bool IsWow64() {
  return g_facts.is_64bit_windows;
}

REGSAM ViewAccessFlags(bool view64) {
  if (g_facts.no_view_flags) return 0;
  return view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

FsRedirectionToken DisableFsRedirection() {
  FsRedirectionToken token{t_fs_redirection_disabled};
  t_fs_redirection_disabled = true;
  return token;
}

void RevertFsRedirection(FsRedirectionToken token) {
  t_fs_redirection_disabled = token.was_disabled;
}

bool FsRedirectionDisabled() {
  return t_fs_redirection_disabled;
}

// --- Key helpers on raw handles ---

bool KeyOpenRead(HKEY* handle, HKEY root, bool view64, const std::string& path) {
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | ViewAccessFlags(view64), handle) ==
         kErrorSuccess;
}

LSTATUS KeyOpenWrite(HKEY* handle, HKEY root, bool view64, const std::string& path) {
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | ViewAccessFlags(view64), handle);
}

bool KeyOpenWriteOk(HKEY* handle, HKEY root, bool view64, const std::string& path) {
  return KeyOpenWrite(handle, root, view64, path) == kErrorSuccess;
}

bool KeyOpenWriteMsg(std::string* error_text, HKEY* handle, HKEY root, bool view64,
                     const std::string& path) {
  const LSTATUS error = KeyOpenWrite(handle, root, view64, path);
  if (error == kErrorSuccess) return true;
  *error_text = WinErrorMessage(error);
  return false;
}

bool KeyExists(HKEY root, bool view64, const std::string& path) {
  HKEY handle = 0;
  if (!KeyOpenRead(&handle, root, view64, path)) return false;
  RegCloseKey(handle);
  return true;
}

bool RegValueExists(HKEY handle, const std::string& name) {
  return RegQueryValueExA(handle, name.c_str(), nullptr, nullptr, nullptr) != kErrorFileNotFound;
}

bool DeleteRegKeyTree(std::string* error_text, HKEY root, bool view64, const std::string& path) {
  // With the empty path the walk below would empty the whole root before the final delete was
  // refused.
  if (path.empty()) {
    *error_text = "RegDeleteKeyEx: " + WinErrorMessage(kErrorBadPathname);
    return false;
  }
  HKEY key = 0;
  if (LSTATUS error = KeyOpenWrite(&key, root, view64, path)) {
    *error_text = "RegKeyOpenEx: " + WinErrorMessage(error);
    return false;
  }
  KeyInfo info;
  if (LSTATUS error = RegQueryInfoKeyA(key, &info)) {
    RegCloseKey(key);
    *error_text = "RegQueryInfoKey: " + WinErrorMessage(error);
    return false;
  }
  // From the highest index down, so that the indexes still to come stay valid while children
  // disappear. A name that cannot be read is skipped; the final delete then reports the key as
  // not empty.
  std::string name(CodePageNameLength(info.max_subkey_len) + 1, '\0');
  for (uint32_t index = info.subkeys; index > 0; --index) {
    uint32_t name_size = static_cast<uint32_t>(name.size());
    if (RegEnumKeyExA(key, index - 1, name.data(), &name_size) != kErrorSuccess) continue;
    if (!DeleteRegKeyTree(error_text, root, view64, path + "\\" + name.substr(0, name_size))) {
      RegCloseKey(key);
      return false;
    }
  }
  RegCloseKey(key);
  if (LSTATUS error = RegDeleteKeyExA(root, path.c_str(), ViewAccessFlags(view64), 0)) {
    *error_text = "RegDeleteKeyEx: " + WinErrorMessage(error);
    return false;
  }
  return true;
}

bool DeleteRegKey(HKEY root, bool view64, const std::string& path) {
  std::string ignored;
  return DeleteRegKeyTree(&ignored, root, view64, path);
}

namespace {

// Whether the key behind an open handle is shared between the views; see KeyReflectionEnabled.
bool HandleReflectionEnabled(HKEY handle) {
  bool disabled = false;
  if (RegQueryReflectionKey(handle, &disabled) != kErrorSuccess) return true;
  return !disabled;
}

}  // namespace

bool KeyReflectionEnabled(HKEY root, bool view64, const std::string& path) {
  if (!g_facts.reflection_supported) return true;
  HKEY key = 0;
  if (!KeyOpenRead(&key, root, view64, path)) return true;
  const bool enabled = HandleReflectionEnabled(key);
  RegCloseKey(key);
  return enabled;
}

bool CurrentKeyReflectionEnabled(const TRegistry& registry) {
  if (!g_facts.reflection_supported) return true;
  return HandleReflectionEnabled(registry.CurrentKey());
}

bool KeyIsEmpty(const TRegistry& registry) {
  TRegKeyInfo info;
  if (!registry.GetKeyInfo(&info)) return false;
  return info.num_sub_keys == 0 && info.num_values == 0;
}

bool KeyHasContent(const TRegistry& registry) {
  TRegKeyInfo info;
  if (!registry.GetKeyInfo(&info)) return false;
  if (info.num_sub_keys > 0) return true;
  const uint32_t default_values = RegValueExists(registry.CurrentKey(), "") ? 1 : 0;
  return info.num_values > default_values;
}

TRegValueType RegTypeToValueType(uint32_t reg_type) {
  switch (reg_type) {
    case REG_NONE:
      return rvNone;
    case REG_SZ:
      return rvString;
    case REG_EXPAND_SZ:
      return rvExpandString;
    case REG_MULTI_SZ:
      return rvMultiString;
    case REG_DWORD:
      return rvDWord;
    case REG_BINARY:
      return rvBinary;
    default:
      return rvUnknown;
  }
}

// --- TRegistry ---

TRegistry::TRegistry() = default;

TRegistry::TRegistry(REGSAM access) : access_(access) {}

TRegistry::~TRegistry() {
  CloseKey();
}

void TRegistry::SetRootKey(HKEY root) {
  if (root == root_key_) return;
  root_key_ = root;
  CloseKey();
}

bool TRegistry::OpenWith(const std::string& key, REGSAM access, bool can_create) {
  // Scans open a key per key they visit: the texts are not copied more than once, and into a
  // per-thread buffer. `key` may be CurrentPath() itself, so nothing changes before the open.
  const size_t skip = !key.empty() && key.front() == '\\' ? 1 : 0;
  std::string_view sub_key(key);
  sub_key.remove_prefix(skip);
  if (!sub_key.empty() && sub_key.back() == '\\') sub_key.remove_suffix(1);
  // The registry functions take NUL-terminated text: `key` serves unless a backslash was cut off
  // its end.
  const char* text = key.c_str() + skip;
  thread_local std::string trimmed;
  if (skip + sub_key.size() < key.size()) {
    trimmed.assign(sub_key);
    text = trimmed.c_str();
  }
  const bool from_current = skip == 0 && current_key_ != 0;
  const HKEY base = from_current ? current_key_ : root_key_;
  HKEY opened = 0;
  LSTATUS error = kErrorFileNotFound;
  bool opened_below_base = false;
  if (!from_current && !can_create && open_base_.key != 0 && open_base_.root == root_key_ &&
      open_base_.view == (access & KEY_WOW64_RES)) {
    // A path below the open base: only the rest after it is converted and looked up.
    const size_t length = open_base_.length;
    if (length > 0 && sub_key.size() > length + 1 && sub_key[length] == '\\' &&
        std::memcmp(sub_key.data(), open_base_.path->data(), length) == 0) {
      error = RegOpenKeyExA(open_base_.key, text + length + 1, 0, access, &opened);
      opened_below_base = true;
    }
  }
  // The base answers like the root for a missing key; anything else (a handle closed under the
  // walk, a malformed rest) is asked again the ordinary way.
  if (!opened_below_base || (error != kErrorSuccess && error != kErrorFileNotFound)) {
    error = can_create && !sub_key.empty() ? RegCreateKeyExA(base, text, access, &opened)
                                           : RegOpenKeyExA(base, text, 0, access, &opened);
  }
  if (error != kErrorSuccess) return false;
  thread_local std::string path;
  if (from_current) {
    path.assign(current_path_);
    if (!path.empty() && !sub_key.empty()) path.push_back('\\');
    path.append(sub_key);
  } else {
    path.assign(sub_key);
  }
  CloseKey();
  current_key_ = opened;
  current_access_ = access;
  current_path_.swap(path);
  return true;
}

bool TRegistry::OpenKey(const std::string& key, bool can_create) {
  return OpenWith(key, access_, can_create);
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  const REGSAM read_access = KEY_READ | (access_ & KEY_WOW64_RES);
  if (!OpenWith(key, read_access, /*can_create=*/false)) return false;
  access_ = read_access;
  return true;
}

void TRegistry::CloseKey() {
  if (current_key_ == 0) return;
  RegCloseKey(current_key_);
  current_key_ = 0;
  current_access_ = 0;
  current_path_.clear();
}

HKEY TRegistry::TakeCurrentKey() {
  const HKEY key = current_key_;
  current_key_ = 0;
  current_access_ = 0;
  current_path_.clear();
  return key;
}

bool TRegistry::GetKeyInfo(TRegKeyInfo* info) const {
  *info = TRegKeyInfo();
  KeyInfo raw;
  if (RegQueryInfoKeyA(current_key_, &raw) != kErrorSuccess) return false;
  info->num_sub_keys = raw.subkeys;
  info->max_sub_key_len = CodePageNameLength(raw.max_subkey_len);
  info->num_values = raw.values;
  info->max_value_len = CodePageNameLength(raw.max_value_name_len);
  info->max_data_len = raw.max_value_len;
  return true;
}

std::vector<std::string> TRegistry::GetValueNames() const {
  std::vector<std::string> names;
  TRegKeyInfo info;
  if (!GetKeyInfo(&info)) return names;
  std::string buffer(info.max_value_len + 1, '\0');
  for (uint32_t index = 0; index < info.num_values; ++index) {
    uint32_t size = static_cast<uint32_t>(buffer.size());
    if (RegEnumValueA(current_key_, index, buffer.data(), &size, nullptr, nullptr, nullptr) ==
        kErrorSuccess) {
      names.emplace_back(buffer.data(), size);
    }
  }
  return names;
}

bool TRegistry::ValueExists(const std::string& name) const {
  uint32_t type = 0;
  uint32_t size = 0;
  return RegQueryValueExA(current_key_, name.c_str(), &type, nullptr, &size) == kErrorSuccess;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  uint32_t type = 0;
  uint32_t size = 0;
  if (RegQueryValueExA(current_key_, name.c_str(), &type, nullptr, &size) != kErrorSuccess) {
    return rdUnknown;
  }
  switch (type) {
    case REG_SZ:
      return rdString;
    case REG_EXPAND_SZ:
      return rdExpandString;
    case REG_DWORD:
      return rdInteger;
    case REG_BINARY:
      return rdBinary;
    default:
      return rdUnknown;
  }
}

Result<std::string> TRegistry::ReadString(const std::string& name) const {
  uint32_t type = 0;
  uint32_t size = 0;
  if (RegQueryValueExA(current_key_, name.c_str(), &type, nullptr, &size) != kErrorSuccess ||
      size == 0) {
    return std::string();
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    return Status::Error(kErrorInvalidData, "Invalid data type for '" + name + "'");
  }
  std::string text(size, '\0');
  if (LSTATUS error = RegQueryValueExA(current_key_, name.c_str(), &type,
                                       reinterpret_cast<uint8_t*>(text.data()), &size)) {
    return Status::Error(error, "Failed to get data for '" + name + "'");
  }
  text.resize(std::min<size_t>(size, std::strlen(text.c_str())));
  return text;
}

Status TRegistry::WriteString(const std::string& name, const std::string& value) {
  const LSTATUS error = RegSetValueExA(current_key_, name.c_str(), REG_SZ,
                                       reinterpret_cast<const uint8_t*>(value.c_str()),
                                       static_cast<uint32_t>(value.size() + 1));
  if (error != kErrorSuccess) {
    return Status::Error(error, "Failed to set data for '" + name + "'");
  }
  return Status::Ok();
}

// --- TRegistryAccess ---

TRegistryAccess::TRegistryAccess() : TRegistryAccess(KEY_ALL_ACCESS) {}

TRegistryAccess::TRegistryAccess(REGSAM access) : TRegistry(access) {
  SetView64(g_facts.is_64bit_windows);
}

void TRegistryAccess::SetView64(bool view64) {
  SetAccess((Access() & ~KEY_WOW64_RES) | ViewAccessFlags(view64));
}

bool TRegistryAccess::Is64BitView() const {
  return (Access() & KEY_WOW64_64KEY) != 0;
}

bool TRegistryAccess::DeleteTree(const std::string& path) {
  return DeleteRegKey(RootKey(), Is64BitView(), path);
}

// One subkey enumeration. The root and access mask are those of the enumerating object when the
// walk starts; the depth counters are the second object's, which the callbacks see. The path and
// the name buffer are shared by all levels, so the walk allocates nothing per key.
//
// Each key is opened below its parent's handle (only its name is converted and looked up), and
// the second object opens the paths the callbacks ask for below the same handle. When a callback
// leaves the second object holding the very key the walk would open next (same path, same
// access), the walk takes that handle over instead of opening the key once more; the callback
// cannot tell, as the second object is closed before every callback anyway.
class TRegistryAccess::SubKeyWalk {
 public:
  SubKeyWalk(const TRegistryAccess& owner, bool recursive, int32_t max_depth,
             const TEnumKeyProc& callback, void* thread)
      : root_(owner.RootKey()),
        access_(owner.Access()),
        recursive_(recursive),
        callback_(callback),
        thread_(thread),
        second_(owner.Access()),
        path_(owner.CurrentPath()),
        name_(kMaxSubKeyNameChars, '\0') {
    second_.SetRootKey(root_);
    second_.depth_ = 0;
    second_.max_depth_ = std::max(max_depth, 0);
  }

  void Run() {
    HKEY start = 0;
    if (RegOpenKeyExA(root_, path_.c_str(), 0, access_, &start) != kErrorSuccess) return;
    EnumChildren(start);
  }

 private:
  // Walks the children of `parent`, the open key at path_, and closes it; returns the last
  // callback code (2 or more: stop).
  uint8_t EnumChildren(HKEY parent) {
    KeyInfo info;
    if (RegQueryInfoKeyA(parent, &info) != kErrorSuccess) {
      RegCloseKey(parent);
      return 0;
    }
    const uint32_t name_capacity =
        std::min<uint32_t>(CodePageNameLength(info.max_subkey_len) + 1, kMaxSubKeyNameChars);
    ++second_.depth_;
    uint8_t code = 0;
    for (uint32_t index = 0; index < info.subkeys && code < 2; ++index) {
      uint32_t name_size = name_capacity;
      if (RegEnumKeyExA(parent, index, name_.data(), &name_size) != kErrorSuccess) continue;
      code = VisitChild(parent, std::string_view(name_.data(), name_size));
    }
    --second_.depth_;
    RegCloseKey(parent);
    return code;
  }

  // Hands the child `name` of `parent` (the key at path_) to the callback and descends when
  // asked to.
  uint8_t VisitChild(HKEY parent, std::string_view name) {
    const size_t parent_length = path_.size();
    if (!path_.empty()) path_.push_back('\\');
    path_.append(name);
    second_.CloseKey();
    second_.SetRootKey(root_);
    second_.SetAccess(access_);
    second_.SetOpenBase({parent, root_, access_ & KEY_WOW64_RES, &path_, parent_length});
    uint8_t code = callback_(thread_, second_, path_);
    second_.SetOpenBase({});
    if (code == 0 && recursive_ &&
        (second_.max_depth_ == 0 || second_.depth_ < second_.max_depth_)) {
      HKEY child = 0;
      if (second_.CurrentKey() != 0 && second_.RootKey() == root_ &&
          second_.CurrentAccess() == access_ && second_.CurrentPath() == path_) {
        child = second_.TakeCurrentKey();
      } else {
        // The name, NUL-terminated, is the end of path_.
        const char* relative = path_.c_str() + path_.size() - name.size();
        if (RegOpenKeyExA(parent, relative, 0, access_, &child) != kErrorSuccess) child = 0;
      }
      if (child != 0) code = EnumChildren(child);
    }
    path_.resize(parent_length);
    return code;
  }

  const HKEY root_;
  const REGSAM access_;
  const bool recursive_;
  const TEnumKeyProc& callback_;
  void* const thread_;
  TRegistryAccess second_;
  std::string path_;
  std::string name_;
};

void TRegistryAccess::EnumSubKeys(bool recursive, int32_t max_depth, const TEnumKeyProc& callback,
                                  void* thread) {
  SubKeyWalk walk(*this, recursive, max_depth, callback, thread);
  walk.Run();
}

void TRegistryAccess::EnumValues(const TEnumValueProc& callback, void* thread) {
  TRegistryAccess second(Access());
  TRegKeyInfo info;
  if (!GetKeyInfo(&info)) return;
  const uint32_t name_capacity = std::min(info.max_value_len + 1, kMaxValueNameChars);
  const uint32_t data_capacity = std::min(info.max_data_len, kMaxValueDataBytes);
  // Per-thread buffers that only grow: a scan enumerates the values of every key it visits,
  // and allocating (and freeing) up to 64 KiB for each would cost more than the reading. A
  // callback that enumerates values itself gets buffers of its own.
  thread_local ValueBuffers per_thread;
  ValueBuffers nested;
  ValueBuffers& buffers = per_thread.in_use ? nested : per_thread;
  buffers.in_use = true;
  struct Release {
    ValueBuffers& buffers;
    ~Release() { buffers.in_use = false; }
  } release{buffers};
  std::string& name = buffers.name;
  std::string& value_name = buffers.value_name;
  std::vector<uint8_t>& data = buffers.data;
  if (name.size() < name_capacity) name.resize(name_capacity);
  // One byte more than needed keeps the buffer non-null when every value is empty.
  if (data.size() < data_capacity + 1) data.resize(data_capacity + 1);
  for (uint32_t index = 0; index < info.num_values; ++index) {
    uint32_t name_size = name_capacity;
    uint32_t data_size = data_capacity;
    uint32_t type = REG_NONE;
    if (RegEnumValueA(CurrentKey(), index, name.data(), &name_size, &type, data.data(),
                      &data_size) != kErrorSuccess) {
      continue;
    }
    second.CloseKey();
    second.SetRootKey(RootKey());
    second.SetAccess(Access());
    value_name.assign(name.data(), name_size);
    if (!callback(thread, second, CurrentPath(), data_size, data.data(), RegTypeToValueType(type),
                  value_name)) {
      return;
    }
  }
}

}  // namespace hm::reg
