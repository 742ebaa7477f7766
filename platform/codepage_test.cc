#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace hm {
namespace {

TEST(CodePageTest, KnowsOnlyItsPages) {
  for (uint32_t number : {1250u, 1251u, 1252u}) {
    auto cp = CodePage::ForNumber(number);
    ASSERT_NE(cp, nullptr) << number;
    EXPECT_EQ(cp->number(), number);
  }
  EXPECT_EQ(CodePage::ForNumber(437), nullptr);
  EXPECT_EQ(CodePage::ForNumber(65001), nullptr);
  EXPECT_EQ(CodePage::kDefault, 1252u);
}

TEST(CodePageTest, DecodesTheUpperHalf) {
  struct Case {
    uint32_t page;
    char byte;
    char16_t expected;
  } cases[] = {
      {1252, '\x80', u'\u20AC'}, {1252, '\x9F', u'\u0178'}, {1252, '\xE9', u'\u00E9'},
      {1252, '\x81', u'\u0081'}, {1252, '\x8D', u'\u008D'}, {1252, '\x8F', u'\u008F'},
      {1252, '\x90', u'\u0090'}, {1252, '\x9D', u'\u009D'}, {1250, '\x8A', u'\u0160'},
      {1250, '\xFF', u'\u02D9'}, {1250, '\x83', u'\u0083'}, {1251, '\xC0', u'\u0410'},
      {1251, '\x98', u'\u0098'}, {1251, '\x88', u'\u20AC'}, {1252, '\x41', u'A'},
      {1252, '\0', u'\0'},
  };
  for (const Case& c : cases) {
    auto cp = CodePage::ForNumber(c.page);
    EXPECT_EQ(cp->ToUtf16(std::string(1, c.byte)), std::u16string(1, c.expected))
        << c.page << " byte " << static_cast<int>(static_cast<unsigned char>(c.byte));
  }
}

// Every byte, the undefined ones included, must come back unchanged: a clash in a table or
// in the reverse mapping shows up here.
TEST(CodePageTest, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (uint32_t number : {1250u, 1251u, 1252u}) {
    auto cp = CodePage::ForNumber(number);
    const std::u16string wide = cp->ToUtf16(all);
    ASSERT_EQ(wide.size(), 256u);
    std::string back;
    EXPECT_TRUE(cp->FromUtf16(wide, &back)) << number;
    EXPECT_EQ(back, all) << number;
  }
}

TEST(CodePageTest, UnmappableCharactersBecomeQuestionMarks) {
  auto cp = CodePage::ForNumber(1252);
  struct Case {
    std::u16string text;
    std::string expected;
    bool exact;
  } cases[] = {
      {u"caf\u00E9 \u20AC", "caf\xE9 \x80", true},
      {u"a\u4E2Db", "a?b", false},
      {u"\u0080", "?", false},                       // U+0080 is not what byte 0x80 means in 1252
      {u"\u0416", "?", false},                       // Cyrillic: fine in 1251, not here
      {u"x\U0001F600y", "x?y", false},               // one '?' for the pair
      {std::u16string(u"\xD800z", 2), "?z", false},  // lone surrogate
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(cp->FromUtf16(c.text, &out), c.exact) << c.expected;
    EXPECT_EQ(out, c.expected);
  }
  std::string out;
  EXPECT_TRUE(CodePage::ForNumber(1251)->FromUtf16(u"\u0416", &out));
  EXPECT_EQ(out, "\xC6");
}

}  // namespace
}  // namespace hm
