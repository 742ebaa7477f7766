#include "cli/json_text.h"

#include <gtest/gtest.h>

namespace hm::cli {
namespace {

TEST(JsonStringTest, EscapesWhatJsonForbidsAndKeepsTheOutputAscii) {
  const struct {
    std::u16string text;
    std::string json;
  } kCases[] = {
      {u"", "\"\""},
      {u"HKLM\\Software\\\"x\"", "\"HKLM\\\\Software\\\\\\\"x\\\"\""},
      {u"a\nb\tc\x1b[2J\x7f", "\"a\\u000ab\\u0009c\\u001b[2J\\u007f\""},
      {std::u16string(u"nul\0end", 7), "\"nul\\u0000end\""},
      {u"Caf\u00e9 \u20ac", "\"Caf\\u00e9 \\u20ac\""},
      {u"\U0001F600", "\"\\ud83d\\ude00\""},  // a surrogate pair stays a pair
  };
  for (const auto& c : kCases) EXPECT_EQ(JsonString(c.text), c.json) << c.json;
}

}  // namespace
}  // namespace hm::cli
