#include "cli/render.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/install/reg_data.h"
#include "registry/reg_types.h"

namespace hm::cli {
namespace {

constexpr size_t kMaxChars = 160;  // of a string shown
constexpr size_t kMaxBytes = 48;   // of binary data shown

std::string Hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
  return text;
}

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

std::string Escaped(unsigned char c) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
  return escaped;
}

// Quotes a UTF-8 string for reading, not for parsing back: backslashes and quotes stay as they
// are (Windows paths read naturally), control characters are escaped so the line stays one line.
std::string Quote(std::string_view text) {
  std::string out = "\"";
  size_t shown = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xc0) != 0x80 && ++shown > kMaxChars) {
      out += "\"... (" + std::to_string(text.size()) + " bytes)";
      return out;
    }
    if (IsControl(c)) {
      out += Escaped(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string HexBytes(std::string_view data) {
  if (data.empty()) return "(no data)";
  std::string out;
  for (size_t i = 0; i < data.size() && i < kMaxBytes; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
    if (i > 0) out += ' ';
    out += byte;
  }
  if (data.size() > kMaxBytes) out += " ... (" + std::to_string(data.size()) + " bytes)";
  return out;
}

std::string RenderString(std::string_view data) {
  if (data.size() % 2 != 0) return HexBytes(data);
  std::string text = Quote(install::RegStringToUtf8(data));
  const bool terminated = data.size() >= 2 && data[data.size() - 2] == 0 && data.back() == 0;
  return terminated || data.empty() ? text : text + " (no terminating NUL)";
}

std::string RenderMultiString(std::string_view data) {
  if (data.size() % 2 != 0) return HexBytes(data);
  std::vector<std::string> strings = install::RegMultiStringToUtf8(data);
  std::string out;
  for (size_t i = 0; i < strings.size(); ++i) {
    if (out.size() > kMaxChars)
      return out + " ... (" + std::to_string(strings.size()) + " strings)";
    out += (i > 0 ? " " : "") + Quote(strings[i]);
  }
  return strings.empty() ? "(no strings)" : out;
}

}  // namespace

std::string TypeName(uint32_t type) {
  const std::string_view name = reg::RegTypeName(type);
  return name.empty() ? Hex(type, 8) : std::string(name);
}

std::string RenderData(uint32_t type, std::string_view data) {
  switch (type) {
    case hive::kRegSz:
    case hive::kRegExpandSz:
    case hive::kRegLink:
      return RenderString(data);
    case hive::kRegMultiSz:
      return RenderMultiString(data);
    case hive::kRegDword:
      if (auto value = install::RegDword(data))
        return Hex(*value, 8) + " (" + std::to_string(*value) + ")";
      break;
    case hive::kRegDwordBigEndian:
      if (auto value = install::RegDword(data)) {
        uint32_t swapped = __builtin_bswap32(*value);
        return Hex(swapped, 8) + " (" + std::to_string(swapped) + ")";
      }
      break;
    case hive::kRegQword:
      if (auto value = install::RegQword(data))
        return Hex(*value, 16) + " (" + std::to_string(*value) + ")";
      break;
  }
  return HexBytes(data);
}

std::string Printable(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    if (IsControl(static_cast<unsigned char>(c))) {
      out += Escaped(c);
    } else {
      out += c;
    }
  }
  return out;
}

std::string Printable(std::u16string_view name) {
  return Printable(hive::ToUtf8(name));
}

std::string ValueLabel(const hive::Value& value) {
  return value.name.empty() ? "(Default)" : Printable(value.name);
}

std::string FormatFileTime(uint64_t filetime) {
  if (filetime == 0) return "never";
  constexpr uint64_t kUnixEpoch = 116444736000000000ull;  // 1970-01-01 as a FILETIME
  if (filetime < kUnixEpoch) return "before 1970 (" + std::to_string(filetime) + ")";
  std::time_t seconds = static_cast<std::time_t>((filetime - kUnixEpoch) / 10000000);
  std::tm utc{};
  if (gmtime_r(&seconds, &utc) == nullptr) return std::to_string(filetime);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

}  // namespace hm::cli
