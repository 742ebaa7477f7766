// The registry functions of Windows ("A" forms) over the process's HostRegistry.
//
// The program was written against these functions; they keep their contracts: error codes,
// caller buffers with ERROR_MORE_DATA, names and string data (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) in the installation's ANSI code page. A character that code page cannot hold
// reads as '?', as on Windows; code that must keep every name and every byte (the key export)
// uses HostRegistry's UTF-16 functions instead, which are lossless.
//
// SetProcessRegistry() installs the registry once at start, before any thread uses these
// functions; without one every call fails with ERROR_INVALID_HANDLE.
//
// Thread safety: as HostRegistry (any thread); SetProcessRegistry() only before threads start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "registry/host_registry.h"
#include "registry/reg_types.h"

namespace hm::reg {

// Installs (or, with nullptr, removes) the registry these functions work on. It must outlive
// its use.
void SetProcessRegistry(HostRegistry* registry);
HostRegistry* ProcessRegistry();
// The code page of the "A" functions: the installation's, or 1252 when this program does not
// know that one.
const CodePage& ProcessCodePage();

// The installation's code page text <-> UTF-16.
std::u16string AnsiToUtf16(std::string_view text);
std::string Utf16ToAnsi(std::u16string_view text);
// A name in the code page, upper-cased as the registry compares names: for case-blind lookups.
std::u16string UpcasedName(std::string_view text);

LSTATUS RegOpenKeyExA(HKEY key, const char* subkey, uint32_t options, REGSAM access, HKEY* result);
// Creates the key and missing keys on its way; *created tells whether the key is new.
LSTATUS RegCreateKeyExA(HKEY key, const char* subkey, REGSAM access, HKEY* result,
                        bool* created = nullptr);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegQueryInfoKeyA(HKEY key, KeyInfo* info);
// `name_size` holds the buffer size in characters including the terminator; on success it is
// set to the length without it. A name that does not fit gives ERROR_MORE_DATA.
LSTATUS RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* name_size);
// As RegEnumKeyExA for the name; `data` may be null (then only *data_size is set). Data that
// does not fit gives ERROR_MORE_DATA with *data_size set to the size needed. Any of type,
// data and data_size may be null.
LSTATUS RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                      uint8_t* data, uint32_t* data_size);
// ERROR_FILE_NOT_FOUND for a missing value, ERROR_MORE_DATA when `data` is too small (with
// *data_size set to the size needed).
LSTATUS RegQueryValueExA(HKEY key, const char* name, uint32_t* type, uint8_t* data,
                         uint32_t* data_size);
LSTATUS RegSetValueExA(HKEY key, const char* name, uint32_t type, const uint8_t* data,
                       uint32_t data_size);
LSTATUS RegDeleteValueA(HKEY key, const char* name);
LSTATUS RegDeleteKeyA(HKEY key, const char* subkey);
LSTATUS RegDeleteKeyExA(HKEY key, const char* subkey, REGSAM view, uint32_t reserved);
LSTATUS RegQueryReflectionKey(HKEY key, bool* disabled);
LSTATUS RegFlushKey(HKEY key);
// Windows Resource Protection's test: true when the key (in the view of `view`, KEY_WOW64_*) is
// owned by TrustedInstaller, the owner Windows gives the keys it protects. Read from the key's
// security descriptor in the hive; false when the key cannot be read.
bool SfcIsKeyProtected(HKEY root, std::u16string_view path, REGSAM view);

// The parts of the key's security descriptor that `security_information` names (OWNER_,
// GROUP_, DACL_SECURITY_INFORMATION), as a self-relative descriptor. `*size` holds the size of
// `descriptor` in bytes; when it is too small (or `descriptor` is null) the result is
// ERROR_INSUFFICIENT_BUFFER with *size set to the size needed. READ_CONTROL is needed; the SACL
// is refused with ERROR_PRIVILEGE_NOT_HELD.
LSTATUS RegGetKeySecurity(HKEY key, uint32_t security_information, uint8_t* descriptor,
                          uint32_t* size);
// See HostRegistry::SetKeySecurity.
LSTATUS RegSetKeySecurity(HKEY key, uint32_t security_information, std::string_view descriptor);

// The files are host paths.
LSTATUS RegSaveKeyA(HKEY key, const std::filesystem::path& file);
LSTATUS RegReplaceKeyA(HKEY key, const char* subkey, const std::filesystem::path& new_file,
                       const std::filesystem::path& old_file);

}  // namespace hm::reg
