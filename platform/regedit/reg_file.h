// Reader of registry editor export files (".reg"): the "REGEDIT4" and "Windows Registry Editor
// Version 5.00" formats, in UTF-16LE, UTF-8 or an ANSI code page. ParseRegFile turns a whole file
// into the list of key and value operations it asks for, in file order, without applying any of
// them; the data of each value is already in the exact bytes the hive must store. The accepted
// grammar, and where it is stricter than Windows' regedit, is described in docs/reg-file-format.md.
// Plain functions and values: thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/status.h"

namespace hm::regedit {

// Value types by their Windows numbers (REG_*).
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

struct ValueOp {
  std::u16string name;      // empty for the default value
  bool is_default = false;  // written as @ or ""
  bool remove = false;      // "name"=-  (type and data are then unused)
  uint32_t type = kRegNone;
  std::string data;  // raw bytes as stored in the hive
  int line = 0;      // 1-based line where the value starts
};

struct KeyOp {
  // Root in its full name (HKLM -> HKEY_LOCAL_MACHINE), the rest as written:
  // u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Foo".
  std::u16string key_text;
  bool remove = false;  // [-KEY]: delete the key and its subtree; never has values
  std::vector<ValueOp> values;
  int line = 0;
};

struct RegFile {
  int format = 0;  // 4 = REGEDIT4, 5 = Windows Registry Editor Version 5.00
  std::vector<KeyOp> keys;
};

// Parses a whole file. `ansi` decodes 8-bit REGEDIT4 text and the string-typed hex data of
// REGEDIT4 files. Any malformed line fails the whole parse with kErrorInvalidData and a context
// "<label>: line <n>: <what>"; nothing partial is returned.
Result<RegFile> ParseRegFile(std::string_view bytes, const CodePage& ansi, std::string_view label);

}  // namespace hm::regedit
