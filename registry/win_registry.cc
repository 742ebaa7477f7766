#include "registry/win_registry.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "platform/hive/upcase.h"
#include "registry/security_descriptor.h"

namespace hm::reg {
namespace {

HostRegistry* g_registry = nullptr;
std::unique_ptr<CodePage> g_code_page;

// A name or path in UTF-16, in a per-thread buffer that keeps its capacity.
std::u16string_view Name(const char* text) {
  thread_local std::u16string buffer;
  ProcessCodePage().ToUtf16(text == nullptr ? std::string_view() : std::string_view(text), &buffer);
  return buffer;
}

// Per-thread buffers for converted names and data, so that a walk over many values does not
// allocate for each.
thread_local std::string t_name_buffer;
thread_local std::string t_data_buffer;

// Text below 0x80 reads the same in every code page (they differ above it), and it is nearly
// all the text a walk reads: names and data in plain ASCII are narrowed here, four code units at
// a time, without the code page's table. `units` holds `count` UTF-16 code units stored
// little-endian, as a hive stores them (value data need not be aligned for char16_t); a name in
// memory is the same on this little-endian host.
static_assert(std::endian::native == std::endian::little, "names are read as little-endian bytes");

bool IsAscii(const unsigned char* units, size_t count) {
  constexpr uint64_t kNotAscii = 0xFF80FF80FF80FF80ull;  // per code unit: high byte, bit 7
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    uint64_t word;
    std::memcpy(&word, units + 2 * i, 8);
    if (word & kNotAscii) return false;
  }
  for (; i < count; ++i) {
    if (units[2 * i + 1] != 0 || units[2 * i] >= 0x80) return false;
  }
  return true;
}

// Writes the low bytes of `count` ASCII code units to `narrow`.
void Narrow(const unsigned char* units, size_t count, char* narrow) {
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    uint64_t word;
    std::memcpy(&word, units + 2 * i, 8);
    const uint32_t four = static_cast<uint32_t>((word & 0xFF) | ((word >> 8) & 0xFF00) |
                                                ((word >> 16) & 0xFF0000) |
                                                ((word >> 24) & 0xFF000000));
    std::memcpy(narrow + i, &four, 4);
  }
  for (; i < count; ++i) narrow[i] = static_cast<char>(units[2 * i]);
}

const unsigned char* Units(std::u16string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

const std::string& AnsiName(std::u16string_view name) {
  if (IsAscii(Units(name), name.size())) {
    t_name_buffer.resize(name.size());
    Narrow(Units(name), name.size(), t_name_buffer.data());
  } else {
    ProcessCodePage().FromUtf16(name, &t_name_buffer);
  }
  return t_name_buffer;
}

// Data as the "A" functions show it: text types in the code page, the rest as stored.
std::string_view AnsiData(const hive::Value& value) {
  std::string_view raw = value.data.view();
  if (!IsTextType(value.type)) return raw;
  // A trailing odd byte is not a character, here as below.
  const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
  if (IsAscii(bytes, raw.size() / 2)) {
    t_data_buffer.resize(raw.size() / 2);
    Narrow(bytes, raw.size() / 2, t_data_buffer.data());
    return t_data_buffer;
  }
  // The data need not be aligned for char16_t: convert in pieces through an aligned buffer.
  t_data_buffer.clear();
  char16_t units[256];
  thread_local std::string piece;
  for (size_t offset = 0; offset + 1 < raw.size();) {
    const size_t count = std::min(sizeof units / 2, (raw.size() - offset) / 2);
    std::memcpy(units, raw.data() + offset, count * 2);
    ProcessCodePage().FromUtf16(std::u16string_view(units, count), &piece);
    t_data_buffer += piece;
    offset += count * 2;
  }
  return t_data_buffer;
}

// Copies `text` and its terminator into a caller's character buffer of *size characters.
LSTATUS CopyName(std::string_view text, char* buffer, uint32_t* size) {
  if (size == nullptr || buffer == nullptr) return kErrorInvalidParameter;
  if (text.size() + 1 > *size) return kErrorMoreData;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  *size = static_cast<uint32_t>(text.size());
  return kErrorSuccess;
}

// Copies data into a caller's buffer, Windows' way: a null buffer asks for the size only.
LSTATUS CopyData(std::string_view bytes, uint32_t* type, uint32_t stored_type, uint8_t* data,
                 uint32_t* data_size) {
  if (type != nullptr) *type = stored_type;
  if (data_size == nullptr) return data == nullptr ? kErrorSuccess : kErrorInvalidParameter;
  const uint32_t capacity = *data_size;
  *data_size = static_cast<uint32_t>(bytes.size());
  if (data == nullptr) return kErrorSuccess;
  if (bytes.size() > capacity) return kErrorMoreData;
  std::memcpy(data, bytes.data(), bytes.size());
  return kErrorSuccess;
}

// CopyName(AnsiName(name), ...), with a plain ASCII name narrowed straight into the buffer.
LSTATUS CopyAnsiName(std::u16string_view name, char* buffer, uint32_t* size) {
  if (size == nullptr || buffer == nullptr || !IsAscii(Units(name), name.size())) {
    return CopyName(AnsiName(name), buffer, size);
  }
  if (name.size() + 1 > *size) return kErrorMoreData;
  Narrow(Units(name), name.size(), buffer);
  buffer[name.size()] = '\0';
  *size = static_cast<uint32_t>(name.size());
  return kErrorSuccess;
}

// CopyData(AnsiData(value), ...), with plain ASCII text narrowed straight into a buffer that
// holds it: a walk reads the data of every value.
LSTATUS CopyAnsiData(const hive::Value& value, uint32_t* type, uint8_t* data,
                     uint32_t* data_size) {
  const std::string_view raw = value.data.view();
  const auto* units = reinterpret_cast<const unsigned char*>(raw.data());
  const size_t count = raw.size() / 2;
  if (!IsTextType(value.type) || data == nullptr || data_size == nullptr || count > *data_size ||
      !IsAscii(units, count)) {
    return CopyData(AnsiData(value), type, value.type, data, data_size);
  }
  if (type != nullptr) *type = value.type;
  Narrow(units, count, reinterpret_cast<char*>(data));
  *data_size = static_cast<uint32_t>(count);
  return kErrorSuccess;
}

}  // namespace

void SetProcessRegistry(HostRegistry* registry) {
  g_registry = registry;
  g_code_page.reset();
  if (registry != nullptr) g_code_page = CodePage::ForNumber(registry->ansi_code_page());
  if (g_code_page == nullptr) g_code_page = CodePage::ForNumber(CodePage::kDefault);
}

HostRegistry* ProcessRegistry() {
  return g_registry;
}

const CodePage& ProcessCodePage() {
  if (g_code_page == nullptr) g_code_page = CodePage::ForNumber(CodePage::kDefault);
  return *g_code_page;
}

std::u16string AnsiToUtf16(std::string_view text) {
  return ProcessCodePage().ToUtf16(text);
}

std::string Utf16ToAnsi(std::u16string_view text) {
  std::string ansi;
  ProcessCodePage().FromUtf16(text, &ansi);
  return ansi;
}

std::u16string UpcasedName(std::string_view text) {
  return hive::WinUpcase(AnsiToUtf16(text));
}

LSTATUS RegOpenKeyExA(HKEY key, const char* subkey, uint32_t /*options*/, REGSAM access,
                      HKEY* result) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->OpenKey(key, Name(subkey), access, result);
}

LSTATUS RegCreateKeyExA(HKEY key, const char* subkey, REGSAM access, HKEY* result, bool* created) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->CreateKey(key, Name(subkey), access, result, created);
}

LSTATUS RegCloseKey(HKEY key) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->CloseKey(key);
}

LSTATUS RegQueryInfoKeyA(HKEY key, KeyInfo* info) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  if (info == nullptr) return kErrorInvalidParameter;
  return g_registry->QueryInfoKey(key, info);
}

LSTATUS RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* name_size) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  LSTATUS result = kErrorSuccess;
  const LSTATUS error = g_registry->EnumKey(
      key, index, [&](std::u16string_view found) { result = CopyAnsiName(found, name, name_size); });
  return error != kErrorSuccess ? error : result;
}

LSTATUS RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                      uint8_t* data, uint32_t* data_size) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  LSTATUS result = kErrorSuccess;
  LSTATUS error = g_registry->EnumValue(key, index, [&](const hive::Value& value) {
    result = CopyAnsiName(value.name, name, name_size);
    LSTATUS data_result = CopyAnsiData(value, type, data, data_size);
    if (result == kErrorSuccess) result = data_result;
  });
  return error != kErrorSuccess ? error : result;
}

LSTATUS RegQueryValueExA(HKEY key, const char* name, uint32_t* type, uint8_t* data,
                         uint32_t* data_size) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  LSTATUS result = kErrorSuccess;
  LSTATUS error = g_registry->QueryValue(key, Name(name), [&](const hive::Value& value) {
    result = CopyData(AnsiData(value), type, value.type, data, data_size);
  });
  return error != kErrorSuccess ? error : result;
}

LSTATUS RegSetValueExA(HKEY key, const char* name, uint32_t type, const uint8_t* data,
                       uint32_t data_size) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  if (data == nullptr && data_size != 0) return kErrorInvalidParameter;
  std::string_view bytes(reinterpret_cast<const char*>(data), data == nullptr ? 0 : data_size);
  if (!IsTextType(type)) return g_registry->SetValue(key, Name(name), type, bytes);
  std::u16string text = AnsiToUtf16(bytes);
  return g_registry->SetValue(
      key, Name(name), type,
      std::string_view(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

LSTATUS RegDeleteValueA(HKEY key, const char* name) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->DeleteValue(key, Name(name));
}

LSTATUS RegDeleteKeyA(HKEY key, const char* subkey) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->DeleteKey(key, Name(subkey), 0);
}

LSTATUS RegDeleteKeyExA(HKEY key, const char* subkey, REGSAM view, uint32_t /*reserved*/) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->DeleteKey(key, Name(subkey), view & KEY_WOW64_RES);
}

LSTATUS RegQueryReflectionKey(HKEY key, bool* disabled) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  if (disabled == nullptr) return kErrorInvalidParameter;
  return g_registry->QueryReflectionKey(key, disabled);
}

LSTATUS RegFlushKey(HKEY key) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->FlushKey(key);
}

namespace {

// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464, the TrustedInstaller service,
// in its binary form.
constexpr uint8_t kTrustedInstallerSid[] = {
    1,    6,    0,    0,    0, 0, 0, 5, 80, 0, 0, 0,  // revision, 6 parts, NT authority, 80
    0xB5, 0x89, 0xFB, 0x38,                           // 956008885
    0x19, 0x84, 0xC2, 0xCB,                           // 3418522649
    0x5C, 0x6C, 0x23, 0x6D,                           // 1831038044
    0x57, 0x00, 0x77, 0x6E,                           // 1853292631
    0xC0, 0x02, 0x64, 0x87,                           // 2271478464
};

// The owner SID of a self-relative security descriptor, or an empty view.
std::string_view OwnerSid(std::string_view descriptor) {
  if (descriptor.size() < 20) return {};
  uint32_t offset = 0;
  std::memcpy(&offset, descriptor.data() + 4, 4);
  if (offset == 0 || offset + 8 > descriptor.size()) return {};
  const size_t size = 8 + 4 * static_cast<uint8_t>(descriptor[offset + 1]);
  if (offset + size > descriptor.size()) return {};
  return descriptor.substr(offset, size);
}

}  // namespace

bool SfcIsKeyProtected(HKEY root, std::u16string_view path, REGSAM view) {
  if (g_registry == nullptr) return false;
  HKEY key = 0;
  if (g_registry->OpenKey(root, path, KEY_READ | (view & KEY_WOW64_RES), &key) != 0) return false;
  std::string descriptor;
  const bool read = g_registry->GetKeySecurity(key, &descriptor) == kErrorSuccess;
  g_registry->CloseKey(key);
  const std::string_view owner = OwnerSid(descriptor);
  return read && owner == std::string_view(reinterpret_cast<const char*>(kTrustedInstallerSid),
                                           sizeof kTrustedInstallerSid);
}

LSTATUS RegGetKeySecurity(HKEY key, uint32_t security_information, uint8_t* descriptor,
                          uint32_t* size) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  if (size == nullptr) return kErrorInvalidParameter;
  if (security_information & SACL_SECURITY_INFORMATION) return kErrorPrivilegeNotHeld;
  std::string stored;
  if (LSTATUS error = g_registry->GetKeySecurity(key, &stored)) return error;
  Result<DescriptorParts> parts = ParseSecurityDescriptor(stored);
  if (!parts.ok()) return parts.status().code();
  DescriptorParts wanted;
  if (security_information & OWNER_SECURITY_INFORMATION) {
    wanted.owner = parts->owner;
    wanted.control |= parts->control & SE_OWNER_DEFAULTED;
  }
  if (security_information & GROUP_SECURITY_INFORMATION) {
    wanted.group = parts->group;
    wanted.control |= parts->control & SE_GROUP_DEFAULTED;
  }
  if (security_information & DACL_SECURITY_INFORMATION) {
    wanted.dacl = parts->dacl;
    wanted.control |= parts->control & kDaclControlBits;
  }
  const std::string result = BuildSecurityDescriptor(wanted);
  const uint32_t capacity = *size;
  *size = static_cast<uint32_t>(result.size());
  if (descriptor == nullptr || capacity < result.size()) return kErrorInsufficientBuffer;
  std::memcpy(descriptor, result.data(), result.size());
  return kErrorSuccess;
}

LSTATUS RegSetKeySecurity(HKEY key, uint32_t security_information, std::string_view descriptor) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->SetKeySecurity(key, security_information, descriptor);
}

LSTATUS RegSaveKeyA(HKEY key, const std::filesystem::path& file) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->SaveKey(key, file);
}

LSTATUS RegReplaceKeyA(HKEY key, const char* subkey, const std::filesystem::path& new_file,
                       const std::filesystem::path& old_file) {
  if (g_registry == nullptr) return kErrorInvalidHandle;
  return g_registry->ReplaceKey(key, Name(subkey), new_file, old_file);
}

}  // namespace hm::reg
