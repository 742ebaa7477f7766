#include "cli/render.h"

#include <gtest/gtest.h>

#include "platform/install/reg_data.h"

namespace hm::cli {
namespace {

using install::DwordData;
using install::Utf8ToRegString;

TEST(RenderTest, DataReadsAsAPersonExpects) {
  const struct {
    uint32_t type;
    std::string data;
    std::string shown;
  } kCases[] = {
      {hive::kRegSz, Utf8ToRegString("C:\\Program Files\\\"x\""), "\"C:\\Program Files\\\"x\"\""},
      {hive::kRegExpandSz, "", "\"\""},
      {hive::kRegSz, std::string("a\0b\0", 4), "\"ab\" (no terminating NUL)"},
      {hive::kRegSz, std::string("abc", 3), "61 62 63"},
      {hive::kRegSz, Utf8ToRegString("one\ntwo"), "\"one\\x0atwo\""},
      {hive::kRegSz, Utf8ToRegString(std::string(200, 'x')),
       "\"" + std::string(160, 'x') + "\"... (200 bytes)"},
      {hive::kRegDword, DwordData(10), "0x0000000a (10)"},
      {hive::kRegDword, std::string("\x01\x02\x03", 3), "01 02 03"},
      {hive::kRegDwordBigEndian, std::string("\0\0\0\x0a", 4), "0x0000000a (10)"},
      {hive::kRegQword, install::QwordData(0x1d99ebe5c3a1e00ull),
       "0x01d99ebe5c3a1e00 (133312204412427776)"},
      {hive::kRegMultiSz, install::Utf8ToRegMultiString({"a", "b c"}), "\"a\" \"b c\""},
      {hive::kRegMultiSz, std::string(2, '\0'), "(no strings)"},
      {hive::kRegNone, "", "(no data)"},
      {hive::kRegBinary, std::string(100, '\xab'),
       [] {
         std::string s = "ab";
         for (int i = 1; i < 48; ++i) s += " ab";
         return s + " ... (100 bytes)";
       }()},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(RenderData(c.type, c.data), c.shown) << TypeName(c.type);
  }
}

TEST(RenderTest, NamesAndTimes) {
  EXPECT_EQ(TypeName(hive::kRegExpandSz), "REG_EXPAND_SZ");
  EXPECT_EQ(TypeName(0x20000), "0x00020000");
  EXPECT_EQ(ValueLabel(hive::Value{}), "(Default)");
  // Names from a hive cannot break a line or send escape sequences to the terminal.
  hive::Value named;
  named.name = u"a\nb\x1b[2J\x7f\u00e9";
  EXPECT_EQ(ValueLabel(named), "a\\x0ab\\x1b[2J\\x7f\u00e9");
  EXPECT_EQ(Printable(u"\tHKLM"), "\\x09HKLM");
  EXPECT_EQ(FormatFileTime(0), "never");
  EXPECT_EQ(FormatFileTime(116444736000000000ull), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(FormatFileTime(133312204412427776ull), "2023-06-14 12:47:21 UTC");
}

}  // namespace
}  // namespace hm::cli
