#include "cli/json_text.h"

#include <cstdio>

namespace hm::cli {

std::string JsonString(std::u16string_view text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}

}  // namespace hm::cli
