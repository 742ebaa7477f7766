// Windows' way of comparing registry names: every UTF-16 code unit is upper-cased on its own
// through the system's upper-case table (as RtlUpcaseUnicodeChar does), then the code units are
// compared as numbers. No normalization, no locale. Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/hive/upcase_table.h"

namespace hm::hive {

// Windows' upper-case form of one UTF-16 code unit. Inline: name comparisons call it per unit.
inline char16_t WinUpcase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  return UpcaseTableLookup(c);
}
std::u16string WinUpcase(std::u16string_view text);

// <0, 0 or >0 as Windows orders two names in a subkey list.
int CompareNames(std::u16string_view a, std::u16string_view b);
inline bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

// The hash stored beside each entry of an "lh" subkey list: over the upper-cased name,
// hash = hash * 37 + code unit.
uint32_t NameHash(std::u16string_view name);

}  // namespace hm::hive
