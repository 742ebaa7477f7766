// Placeholder: ASCII and Latin-1 only, until the full table lands.
#include "platform/hive/upcase_table.h"

namespace hm::hive {

char16_t UpcaseTableLookup(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  return c;
}

}  // namespace hm::hive
