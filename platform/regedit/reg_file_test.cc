#include "platform/regedit/reg_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/utf.h"

namespace hm::regedit {
namespace {

// A UTF-16LE file with its byte-order mark, as Windows' regedit writes version 5 exports.
std::string Utf16File(std::u16string_view text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

// One line per operation: "[key]" / "-[key]", then "  name=type:hex bytes" or "  name=-".
std::string Describe(const RegFile& file) {
  std::string out = "v" + std::to_string(file.format) + "\n";
  for (const KeyOp& key : file.keys) {
    out += (key.remove ? "-[" : "[") + ToUtf8(key.key_text) + "]\n";
    for (const ValueOp& v : key.values) {
      out += "  " + (v.is_default ? std::string("@") : "\"" + ToUtf8(v.name) + "\"");
      if (v.remove) {
        out += "=-\n";
        continue;
      }
      out += "=" + std::to_string(v.type) + ":";
      for (size_t i = 0; i < v.data.size(); ++i) {
        char buf[4];
        std::snprintf(buf, sizeof(buf), "%s%02x", i ? " " : "",
                      static_cast<unsigned char>(v.data[i]));
        out += buf;
      }
      out += "\n";
    }
  }
  return out;
}

class RegFileTest : public ::testing::Test {
 protected:
  Result<RegFile> Parse(std::string_view bytes) { return ParseRegFile(bytes, *cp1252_, "t.reg"); }
  std::unique_ptr<CodePage> cp1252_ = CodePage::ForNumber(1252);
};

constexpr char kV5[] = "Windows Registry Editor Version 5.00\r\n\r\n";
constexpr char kV4[] = "REGEDIT4\r\n\r\n";

struct GoodCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST_F(RegFileTest, ParsesGoodFiles) {
  const GoodCase cases[] = {
      {"every data form, version 5",
       std::string(kV5) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Foo]\r\n"
                          "@=\"d\"\r\n"
                          "\"s\"=\"ab\"\r\n"
                          "\"dw\"=dword:0102abCD\r\n"
                          "\"short\"=dword:7\r\n"
                          "\"bin\"=hex:de,AD,be,ef\r\n"
                          "\"exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                          "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                          "\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                          "\"big\"=hex(ffffffff):01\r\n"
                          "\"gone\"=-\r\n",
       "v5\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Foo]\n"
       "  @=1:64 00 00 00\n"
       "  \"s\"=1:61 00 62 00 00 00\n"
       "  \"dw\"=4:cd ab 02 01\n"
       "  \"short\"=4:07 00 00 00\n"
       "  \"bin\"=3:de ad be ef\n"
       "  \"exp\"=2:25 00 41 00 25 00 00 00\n"
       "  \"multi\"=7:61 00 00 00 62 00 00 00 00 00\n"
       "  \"q\"=11:01 02 03 04 05 06 07 08\n"
       "  \"big\"=4294967295:01\n"
       "  \"gone\"=-\n"},
      {"roots normalised, rest kept as written",
       std::string(kV5) + "[HKLM\\Software\\A b]\n"
                          "[hkey_current_user\\x\\y]\n"
                          "[HKCR]\n"
                          "[HKU\\S-1-5-18]\n"
                          "[HKCC\\System]\n"
                          "[HKEY_DYN_DATA\\d]\n"
                          "[HKEY_PERFORMANCE_DATA]\n"
                          "[-HKCU\\Software\\Old]\n"
                          "[HKCU\\a]b]\n",
       "v5\n[HKEY_LOCAL_MACHINE\\Software\\A b]\n[HKEY_CURRENT_USER\\x\\y]\n"
       "[HKEY_CLASSES_ROOT]\n[HKEY_USERS\\S-1-5-18]\n[HKEY_CURRENT_CONFIG\\System]\n"
       "[HKEY_DYN_DATA\\d]\n[HKEY_PERFORMANCE_DATA]\n-[HKEY_CURRENT_USER\\Software\\Old]\n"
       "[HKEY_CURRENT_USER\\a]b]\n"},
      {"comments, blanks and spacing",
       std::string(kV5) + "; a comment\n"
                          "   ;indented comment\n"
                          "\t\n"
                          "  [HKCU\\k]  \n"
                          "  \"a\" = \"x\"  ; trailing comment\n"
                          "\"b\"=dword: 10 ;c\n"
                          "\"c\"= hex: 1, 2 ,a ; comment\n"
                          "\"d\"=hex:01,02,;list ends here\n"
                          "\"e\"=hex:01,02,\n"
                          "\"f\"=- ; gone\n"
                          "@ = \"\"\n",
       "v5\n[HKEY_CURRENT_USER\\k]\n  \"a\"=1:78 00 00 00\n  \"b\"=4:10 00 00 00\n"
       "  \"c\"=3:01 02 0a\n  \"d\"=3:01 02\n  \"e\"=3:01 02\n  \"f\"=-\n  @=1:00 00\n"},
      {"escapes and the empty name",
       std::string(kV5) + "[HKCU\\k]\n"
                          "\"a\\\\b\\\"c\"=\"1\\\\2\\\"3\"\n"
                          "\"nl\"=\"x\\ny\\r\"\n"
                          "\"semi;colon=\"=\"[not a key]\"\n"
                          "\"\"=\"default\"\n"
                          "\"\"=-\n",
       "v5\n[HKEY_CURRENT_USER\\k]\n  \"a\\b\"c\"=1:31 00 5c 00 32 00 22 00 33 00 00 00\n"
       "  \"nl\"=1:78 00 0a 00 79 00 0d 00 00 00\n"
       "  \"semi;colon=\"=1:5b 00 6e 00 6f 00 74 00 20 00 61 00 20 00 6b 00 65 00 79 00 5d 00 "
       "00 00\n"
       "  @=1:64 00 65 00 66 00 61 00 75 00 6c 00 74 00 00 00\n  @=-\n"},
      {"empty hex lists stay empty",
       std::string(kV5) + "[HKCU\\k]\n"
                          "\"a\"=hex:\n"
                          "\"b\"=hex(2):\n"
                          "\"c\"=hex(7): ;nothing\n"
                          "\"d\"=hex(0):\n",
       "v5\n[HKEY_CURRENT_USER\\k]\n  \"a\"=3:\n  \"b\"=2:\n  \"c\"=7:\n  \"d\"=0:\n"},
      {"version 5 string hex lists are stored byte for byte, terminator or not",
       std::string(kV5) + "[HKCU\\k]\n"
                          "\"a\"=hex(2):41,00\n"
                          "\"b\"=hex(7):41,00,00,00\n"
                          "\"c\"=hex(1):41,00,42\n"
                          "\"d\"=hex(1):41,00,00,00,42,00\n"
                          "\"e\"=hex(0):41,00\n",
       "v5\n[HKEY_CURRENT_USER\\k]\n  \"a\"=2:41 00\n  \"b\"=7:41 00 00 00\n"
       "  \"c\"=1:41 00 42\n  \"d\"=1:41 00 00 00 42 00\n  \"e\"=0:41 00\n"},
      {"REGEDIT4: ANSI text and string hex lists become UTF-16",
       std::string(kV4) + "[HKCU\\Caf\xE9]\n"
                          "\"\x80\"=\"\xE9t\xE9\"\n"
                          "\"p\"=hex(2):25,50,25\n"
                          "\"m\"=hex(7):61,00,e9,00,00\n"
                          "\"s\"=hex(1):e9,00\n"
                          "\"b\"=hex:e9,00\n"
                          "\"n\"=hex(0):e9\n",
       "v4\n[HKEY_CURRENT_USER\\Caf\xC3\xA9]\n"
       "  \"\xE2\x82\xAC\"=1:e9 00 74 00 e9 00 00 00\n"
       "  \"p\"=2:25 00 50 00 25 00\n"
       "  \"m\"=7:61 00 00 00 e9 00 00 00 00 00\n"
       "  \"s\"=1:e9 00 00 00\n"
       "  \"b\"=3:e9 00\n"
       "  \"n\"=0:e9\n"},
      {"UTF-8 with a byte-order mark",
       "\xEF\xBB\xBF" + std::string(kV5) +
           "[HKCU\\\xD0\x96]\n\"\xE5\x90\x8D\"=\"\xF0\x9F\x98\x80\"\n",
       "v5\n[HKEY_CURRENT_USER\\\xD0\x96]\n  \"\xE5\x90\x8D\"=1:3d d8 00 de 00 00\n"},
      {"continuation to the end of the file", std::string(kV5) + "[HKCU\\k]\n\"a\"=hex:01,\\",
       "v5\n[HKEY_CURRENT_USER\\k]\n  \"a\"=3:01\n"},
      {"continuation right after the type", std::string(kV5) + "[HKCU\\k]\n\"a\"=hex:\\\n  01\n",
       "v5\n[HKEY_CURRENT_USER\\k]\n  \"a\"=3:01\n"},
      {"lone CR line ends", "REGEDIT4\r\r[HKCU\\k]\r\"a\"=dword:1\r",
       "v4\n[HKEY_CURRENT_USER\\k]\n  \"a\"=4:01 00 00 00\n"},
      {"strings span lines and keep their own line ends",
       std::string(kV4) + "[HKCU\\k]\r\n\"a\"=\"x\r\ny\nz\rw\"\r\n\"n\r\nm\"=dword:1\r\n\"b\"=\"\"\r\n",
       "v4\n[HKEY_CURRENT_USER\\k]\n  \"a\"=1:78 00 0d 00 0a 00 79 00 0a 00 7a 00 0d 00 77 00 00 00\n"
       "  \"n\r\nm\"=4:01 00 00 00\n  \"b\"=1:00 00\n"},
  };
  for (const GoodCase& c : cases) {
    auto parsed = Parse(c.input);
    ASSERT_TRUE(parsed.ok()) << c.name << ": " << parsed.status().ToString();
    EXPECT_EQ(Describe(*parsed), c.expected) << c.name;
  }
}

TEST_F(RegFileTest, ReadsUtf16File) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\\u0416\U0001F600]\r\n"
      u"\"\u540D\"=\"\u5024\"\r\n"
      u"\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      u"\"REGEDIT4\"=dword:00000001\r\n";
  auto parsed = Parse(Utf16File(text));
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  EXPECT_EQ(parsed->format, 5);
  ASSERT_EQ(parsed->keys.size(), 1u);
  EXPECT_EQ(parsed->keys[0].key_text, u"HKEY_CURRENT_USER\\Software\\\u0416\U0001F600");
  ASSERT_EQ(parsed->keys[0].values.size(), 3u);
  EXPECT_EQ(parsed->keys[0].values[0].name, u"\u540D");
  EXPECT_EQ(parsed->keys[0].values[0].data, std::string("\x24\x50\0\0", 4));
  EXPECT_EQ(parsed->keys[0].values[1].data, std::string("%\0A\0%\0\0\0", 8));

  // A REGEDIT4 header in a UTF-16 file: the text is already Unicode, hex(2) is still ANSI.
  auto v4 = Parse(Utf16File(u"REGEDIT4\r\n[HKCU\\k]\r\n\"\u0416\"=hex(2):e9\r\n"));
  ASSERT_TRUE(v4.ok()) << v4.status().ToString();
  EXPECT_EQ(v4->format, 4);
  EXPECT_EQ(v4->keys[0].values[0].name, u"\u0416");
  EXPECT_EQ(v4->keys[0].values[0].data, std::string("\xE9\0", 2));
}

// REGEDIT4 text goes through the code page the caller names, not a fixed one.
TEST_F(RegFileTest, UsesTheGivenAnsiCodePage) {
  auto cp1251 = CodePage::ForNumber(1251);
  auto parsed = ParseRegFile("REGEDIT4\n[HKCU\\\xC6]\n\"a\"=hex(2):c6\n", *cp1251, "t.reg");
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  EXPECT_EQ(parsed->keys[0].key_text, u"HKEY_CURRENT_USER\\\u0416");
  EXPECT_EQ(parsed->keys[0].values[0].data, std::string("\x16\x04", 2));
}

TEST_F(RegFileTest, LongContinuedHexListAndLineNumbers) {
  std::string input = std::string(kV4) + "[HKLM\\Big]\r\n\"before\"=dword:1\r\n\"blob\"=hex:";
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    char buf[8];
    std::snprintf(buf, sizeof(buf), "%02x,", i & 0xFF);
    input += buf;
    expected.push_back(static_cast<char>(i & 0xFF));
    if (i % 25 == 24 && i != 999) input += "\\\r\n  ";
    if (i == 500) input += "\\\r\n; a comment inside the list\r\n\r\n  ";
  }
  input += "\r\n\"after\"=\"x\"\r\n";
  auto parsed = Parse(input);
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  const KeyOp& key = parsed->keys[0];
  EXPECT_EQ(key.line, 3);
  ASSERT_EQ(key.values.size(), 3u);
  EXPECT_EQ(key.values[0].line, 4);
  EXPECT_EQ(key.values[1].line, 5);
  EXPECT_EQ(key.values[1].data, expected);
  // 39 continuations of the 25-byte rows plus the extra break with its comment and blank line.
  EXPECT_EQ(key.values[2].line, 5 + 39 + 3 + 1);
}

struct BadCase {
  std::string input;
  int line;
  const char* message;  // part of the error text
};

TEST_F(RegFileTest, RejectsMalformedFiles) {
  const std::string k5 = std::string(kV5) + "[HKCU\\k]\n";  // the next line is line 4
  const BadCase cases[] = {
      {"", 1, "not a registry file"},
      {"REGEDIT 4\n[HKCU\\k]\n", 1, "not a registry file"},
      {"regedit4\n", 1, "not a registry file"},
      {std::string("regf\x01\0\0\0\xff\xfe", 10), 1, "not a registry file"},  // a hive
      {"Windows Registry Editor Version 5.0\n", 1, "not a registry file"},
      {"\n" + std::string(kV5), 1, "not a registry file"},
      {std::string(kV5) + "\"a\"=\"x\"\n", 3, "before any key"},
      {std::string(kV5) + "[ HKCU\\k]\n", 3, "blank after '['"},
      {std::string(kV5) + "[HKCU\\k\n", 3, "without ']'"},
      {std::string(kV5) + "[HKCU\\k] x\n", 3, "text after ']'"},
      {std::string(kV5) + "[SOFTWARE\\k]\n", 3, "unknown root key 'SOFTWARE'"},
      {std::string(kV5) + "[HKEY_LOCAL_MACHINEX\\k]\n", 3, "unknown root key"},
      {std::string(kV5) + "[]\n", 3, "unknown root key"},
      {std::string(kV5) + "[-HKLM]\n", 3, "root key cannot be deleted"},
      {std::string(kV5) + "[-HKLM\\]\n", 3, "root key cannot be deleted"},
      {std::string(kV5) + "[-HKCU\\k]\n\"a\"=-\n", 4, "key being deleted"},
      {k5 + "\"a=\"x\"\n", 4, "missing '='"},
      {k5 + "\"a\"=\"x\n", 4, "missing closing quote"},
      {k5 + "\"a\"=\"x\n\"b\"=dword:1\n", 5, "text after the string"},
      {k5 + "\"a\"=\"x\n\n\n", 4, "missing closing quote"},
      {k5 + "\"a\"=\"x\\\n", 4, "missing closing quote"},
      {k5 + "\"a\" \"x\"\n", 4, "missing '='"},
      {k5 + "@\n", 4, "missing '='"},
      {k5 + "\"a\"=\"x\" y\n", 4, "text after the string"},
      {k5 + "\"a\"=\"foo\"bar\"\n", 4, "text after the string"},
      {k5 + "\"a\"=\"x\\0\"\n", 4, "unknown escape '\\0'"},
      {k5 + "\"a\\t\"=\"x\"\n", 4, "unknown escape"},
      {k5 + "\"a\"=\n", 4, "unknown data"},
      {k5 + "\"a\"=x\n", 4, "unknown data"},
      {k5 + "\"a\"=DWORD:1\n", 4, "unknown data"},
      {k5 + "\"a\"=qword:1\n", 4, "unknown data"},
      {k5 + "\"a\"=-x\n", 4, "text after '-'"},
      {k5 + "\"a\"=dword:\n", 4, "1 to 8 hex digits"},
      {k5 + "\"a\"=dword:123456789\n", 4, "1 to 8 hex digits"},
      {k5 + "\"a\"=dword:012345678\n", 4, "1 to 8 hex digits"},
      {k5 + "\"a\"=dword:0x12\n", 4, "text after the dword"},
      {k5 + "\"a\"=dword:12 34\n", 4, "text after the dword"},
      {k5 + "\"a\"=dword:1234g\n", 4, "text after the dword"},
      {k5 + "\"a\"=hex:11,G1\n", 4, "bad hex byte 'G1'"},
      {k5 + "\"a\"=hex:100\n", 4, "bad hex byte '100'"},
      {k5 + "\"a\"=hex:11 22\n", 4, "missing ','"},
      {k5 + "\"a\"=hex:,11\n", 4, "empty hex byte"},
      {k5 + "\"a\"=hex:11,,22\n", 4, "empty hex byte"},
      {k5 + "\"a\"=hex:11\\\n  22\n", 4, "missing ',' before the '\\'"},
      {k5 + "\"a\"=hex:11,\\ x\n  22\n", 4, "text after '\\'"},
      {k5 + "\"a\"=hex:11,\\\n,22\n", 5, "expected the hex list to continue"},
      {k5 + "\"a\"=hex:11,\\\n  22,\\\n\"b\"=\"x\"\n", 6, "expected the hex list to continue"},
      {k5 + "\"a\"=hex:11,\\\n  22,\\\n  \\\n", 6, "expected the hex list to continue"},
      {k5 + "\"a\"=hex:11,\\\n  2,\\\n  #c\n", 6, "expected the hex list to continue"},
      {k5 + "\"a\"=hex:11,;c\n  22\n", 5, "unexpected text"},
      {k5 + "\"a\"=hex(0x2):00\n", 4, "bad value type"},
      {k5 + "\"a\"=hex():00\n", 4, "bad value type"},
      {k5 + "\"a\"=hex(2:00\n", 4, "bad value type"},
      {k5 + "\"a\"=hex(100000000):00\n", 4, "value type out of range"},
      {k5 + "just text\n", 4, "unexpected text 'just text'"},
      {k5 + "#comment\n", 4, "unexpected text"},
      {k5 + "\"a\"=\"\xE9\"\n", 4, "not valid UTF-8"},
      {k5 + "\"a\"=\"\xC0\xAF\"\n", 4, "not valid UTF-8"},
      {k5 + std::string("\"a\"=\"\0\"\n", 8), 4, "NUL character"},
      {"\xFE\xFF", 1, "big-endian"},
      {Utf16File(u"Windows Registry Editor Version 5.00\r\n\"a\"") + "x", 2, "odd number"},
      {Utf16File(u"REGEDIT4\r\n[HKCU\\k]\r\n\"a\"=hex:zz\r\n"), 3, "bad hex byte 'zz'"},
  };
  for (const BadCase& c : cases) {
    auto parsed = Parse(c.input);
    ASSERT_FALSE(parsed.ok()) << c.input;
    EXPECT_EQ(parsed.status().code(), kErrorInvalidData) << c.input;
    const std::string& context = parsed.status().context();
    const std::string prefix = "t.reg: line " + std::to_string(c.line) + ": ";
    EXPECT_EQ(context.substr(0, prefix.size()), prefix) << c.input << "\n-> " << context;
    EXPECT_NE(context.find(c.message), std::string::npos) << c.input << "\n-> " << context;
  }
}

TEST_F(RegFileTest, ErrorNamesLabelAndLine) {
  auto parsed = ParseRegFile(
      "REGEDIT4\r\n\r\n[HKLM\\Software]\r\n\"ok\"=hex:00,\\\r\n  01,\\\r\n"
      "  02,03,\\\r\n  04,05,\\\r\n\r\n\r\n\r\n\r\n  0a,G1\r\n",
      *cp1252_, "demo.reg");
  ASSERT_FALSE(parsed.ok());
  EXPECT_EQ(parsed.status().context(), "demo.reg: line 12: bad hex byte 'G1'");
}

}  // namespace
}  // namespace hm::regedit
