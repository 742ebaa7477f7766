// The vocabulary of the registry interface: handles, predefined roots, access rights and value
// types, with the numbers Windows gives them, so that code written against the Windows registry
// reads the same here.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

namespace hm::reg {

// A key handle: one of the predefined roots below, or a value handed out by Registry::OpenKey.
// Zero is never a valid handle.
using HKEY = uint64_t;
// A Windows error code (ERROR_SUCCESS = 0), as the registry functions of Windows return it.
using LSTATUS = uint32_t;
// An access mask.
using REGSAM = uint32_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006;

inline constexpr bool IsPredefinedRoot(HKEY key) {
  return key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA;
}

// Access rights of a key handle.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_WOW64_RES = 0x0300;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM WRITE_DAC = 0x00040000;
inline constexpr REGSAM WRITE_OWNER = 0x00080000;
inline constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
// The rights that change a key or what it holds; a read-only hive refuses handles that ask for
// any of them.
inline constexpr REGSAM kKeyChangeRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// Value types (REG_*).
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
inline constexpr uint32_t REG_LINK = 6;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_RESOURCE_LIST = 8;
inline constexpr uint32_t REG_FULL_RESOURCE_DESCRIPTOR = 9;
inline constexpr uint32_t REG_RESOURCE_REQUIREMENTS_LIST = 10;
inline constexpr uint32_t REG_QWORD = 11;

// "REG_SZ", ... for the types Windows names (0 to 11); empty for any other number.
inline constexpr std::string_view RegTypeName(uint32_t type) {
  constexpr std::string_view kNames[] = {"REG_NONE",
                                         "REG_SZ",
                                         "REG_EXPAND_SZ",
                                         "REG_BINARY",
                                         "REG_DWORD",
                                         "REG_DWORD_BIG_ENDIAN",
                                         "REG_LINK",
                                         "REG_MULTI_SZ",
                                         "REG_RESOURCE_LIST",
                                         "REG_FULL_RESOURCE_DESCRIPTOR",
                                         "REG_RESOURCE_REQUIREMENTS_LIST",
                                         "REG_QWORD"};
  return type < std::size(kNames) ? kNames[type] : std::string_view();
}

// Types whose data is UTF-16 text in the hive and code-page text through the "A" functions.
inline constexpr bool IsTextType(uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// What RegQueryInfoKey reports. Lengths of names are in characters without the terminator,
// lengths of data in bytes.
struct KeyInfo {
  uint32_t subkeys = 0;
  uint32_t max_subkey_len = 0;
  uint32_t max_class_len = 0;
  uint32_t values = 0;
  uint32_t max_value_name_len = 0;
  uint32_t max_value_len = 0;
  uint64_t last_write_time = 0;  // FILETIME
};

}  // namespace hm::reg
