// Text forms of registry data for the command-line tool: type names, value data, FILETIMEs and
// key paths. Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/hive/hive.h"

namespace hm::cli {

// "REG_SZ", "REG_DWORD", ...; a number without a name as "0x0000abcd".
std::string TypeName(uint32_t type);

// The data of a value as a person reads it: strings quoted (control characters escaped),
// DWORDs and QWORDs in hex and decimal, other types as hex bytes. Long data is cut short with a
// note of its full length.
std::string RenderData(uint32_t type, std::string_view data);

// A name or text read from a hive, made safe for one line of a terminal: control characters
// (a newline, an escape sequence) are shown as \xNN.
std::string Printable(std::string_view utf8);
std::string Printable(std::u16string_view name);

// "(Default)" for the empty name, else the name (as Printable()).
std::string ValueLabel(const hive::Value& value);

// "2024-05-01 12:30:00 UTC"; "never" for 0.
std::string FormatFileTime(uint64_t filetime);

}  // namespace hm::cli
