#include "platform/hive/upcase.h"

namespace hm::hive {

std::u16string WinUpcase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = WinUpcase(c);
  return out;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    char16_t ca = WinUpcase(a[i]);
    char16_t cb = WinUpcase(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

uint32_t NameHash(std::u16string_view name) {
  uint32_t hash = 0;
  for (char16_t c : name) hash = hash * 37 + WinUpcase(c);
  return hash;
}

}  // namespace hm::hive
