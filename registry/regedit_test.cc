#include "registry/regedit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "platform/utf.h"
#include "platform/win_error.h"
#include "registry/files_test_support.h"
#include "registry/reg_export.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::reg {
namespace {

// A key tree as read: each key's path (below the exported key) with its values in stored order.
struct ValueCopy {
  std::u16string name;
  uint32_t type;
  std::string data;
  bool operator==(const ValueCopy&) const = default;
};
using Tree = std::map<std::u16string, std::vector<ValueCopy>>;

void ReadTree(HostRegistry& registry, HKEY root, const std::u16string& path, REGSAM view,
              const std::u16string& relative, Tree* tree) {
  HKEY key = 0;
  ASSERT_EQ(registry.OpenKey(root, path, KEY_READ | view, &key), kErrorSuccess) << ToUtf8(path);
  std::vector<ValueCopy>& values = (*tree)[relative];
  HostRegistry::ValueEntry value;
  for (uint32_t i = 0; registry.EnumValue(key, i, &value) == kErrorSuccess; ++i) {
    values.push_back({value.name, value.type, value.data});
  }
  std::u16string name;
  std::vector<std::u16string> names;
  for (uint32_t i = 0; registry.EnumKey(key, i, &name) == kErrorSuccess; ++i) names.push_back(name);
  registry.CloseKey(key);
  for (const std::u16string& child : names) {
    ReadTree(registry, root, path + u'\\' + child, view, relative + u'\\' + child, tree);
  }
}

Tree TreeOf(HostRegistry& registry, HKEY root, const std::u16string& path, bool view64) {
  Tree tree;
  ReadTree(registry, root, path, RegEditViewBits(registry, view64), u"", &tree);
  return tree;
}

std::string Le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::string FromUtf16LeFile(const std::string& bytes) {
  std::u16string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                         (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return ToUtf8(text);
}

class RegEditTest : public ::testing::Test {
 protected:
  HostRegistry& registry() { return install_.registry(); }

  HKEY Create(HKEY root, const std::u16string& path, bool view64 = true) {
    HKEY key = 0;
    EXPECT_EQ(registry().CreateKey(root, path, KEY_ALL_ACCESS | RegEditViewBits(registry(), view64),
                                   &key),
              kErrorSuccess);
    opened_.push_back(key);
    return key;
  }
  void Set(HKEY key, const std::u16string& name, uint32_t type, const std::string& data) {
    ASSERT_EQ(registry().SetValue(key, name, type, data), kErrorSuccess) << ToUtf8(name);
  }
  bool Exists(HKEY root, const std::u16string& path, bool view64 = true) {
    HKEY key = 0;
    if (registry().OpenKey(root, path, KEY_READ | RegEditViewBits(registry(), view64), &key) !=
        kErrorSuccess) {
      return false;
    }
    registry().CloseKey(key);
    return true;
  }
  Status Import(const std::string& text, bool view64 = true) {
    return ImportRegFile(registry(), text, view64, "t.reg");
  }
  void TearDown() override {
    for (HKEY key : opened_) registry().CloseKey(key);
  }

  testing::FilesInstallation install_;
  std::vector<HKEY> opened_;
};

std::string Z(std::u16string_view text) {
  return Le(text) + std::string(2, '\0');
}

// Every kind of value a hive can hold, under names in several scripts and with the characters
// the file format escapes, survives export, deletion and import byte for byte.
TEST_F(RegEditTest, RoundTripIsLossless) {
  const std::u16string top = u"Software\\Round";
  HKEY key = Create(HKEY_CURRENT_USER, top);
  Set(key, u"", REG_SZ, Z(u"default"));
  Set(key, u"plain", REG_SZ, Z(u"C:\\Program Files\\\"x\"; [y] @=z"));
  Set(key, u"no terminator", REG_SZ, Le(u"abc"));
  Set(key, u"embedded NUL", REG_SZ, Le(std::u16string(u"ab\0cd\0", 6)));
  Set(key, u"odd size", REG_SZ, std::string("a\0b", 3));
  Set(key, u"empty data", REG_SZ, "");
  Set(key, u"empty text", REG_SZ, Z(u""));
  Set(key, u"line breaks", REG_SZ, Z(u"one\r\ntwo\nthree\rfour"));
  Set(key, u"expand", REG_EXPAND_SZ, Z(u"%SystemRoot%\\x"));
  Set(key, u"multi", REG_MULTI_SZ, Le(std::u16string(u"a\0b\0\0", 5)));
  Set(key, u"dword", REG_DWORD, std::string("\x1A\0\0\0", 4));
  Set(key, u"short dword", REG_DWORD, std::string("\x01\x02", 2));
  Set(key, u"big endian", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x1A", 4));
  Set(key, u"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  Set(key, u"binary", REG_BINARY, std::string(300, '\xAB'));
  Set(key, u"empty binary", REG_BINARY, "");
  Set(key, u"none", REG_NONE, std::string("\0\x01", 2));
  Set(key, u"link", REG_LINK, Le(u"\\Registry\\Machine\\Software"));
  Set(key, u"resources", REG_RESOURCE_LIST, std::string(40, '\x07'));
  Set(key, u"unknown type", 0x12345, "odd");
  Set(key, u"\u540D\u524D \u0416", REG_SZ, Z(u"\u5024 \u00E9"));
  Set(key, u"emoji \U0001F600", REG_SZ, Z(u"\U0001F600"));
  Set(key, u"back\\slash \"quoted\"", REG_SZ, Z(u"\\\""));
  Set(key, u"name with\r\nline break", REG_DWORD, std::string(4, '\0'));
  Set(key, u";not a comment", REG_SZ, Z(u"x"));
  Set(key, std::u16string(300, u'n'), REG_BINARY, std::string(1, '\x01'));
  HKEY cjk = Create(HKEY_CURRENT_USER, top + u"\\\u952E\\\U0001F511 key");
  Set(cjk, u"", REG_BINARY, std::string(70000, '\x5A'));  // more than the REGEDIT4 limit
  Create(HKEY_CURRENT_USER, top + u"\\]bracket[ \"quote\" =");
  Create(HKEY_CURRENT_USER, top + u"\\empty\\deeper\\deepest");

  const Tree before = TreeOf(registry(), HKEY_CURRENT_USER, top, true);
  Result<std::string> exported = ExportKeyTree(registry(), HKEY_CURRENT_USER, top, true);
  ASSERT_TRUE(exported.ok()) << exported.status().ToString();
  ASSERT_TRUE(Import("Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\" +
                     ToUtf8(top) + "]\r\n")
                  .ok());
  ASSERT_FALSE(Exists(HKEY_CURRENT_USER, top));
  const Status imported = Import(*exported);
  ASSERT_TRUE(imported.ok()) << imported.ToString();
  EXPECT_EQ(TreeOf(registry(), HKEY_CURRENT_USER, top, true), before);
  // Exporting again gives the same file.
  Result<std::string> again = ExportKeyTree(registry(), HKEY_CURRENT_USER, top, true);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *exported);
}

TEST_F(RegEditTest, ExportIsWhatRegeditWrites) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Fmt");
  Set(key, u"s", REG_SZ, Z(u"a\\b"));
  Set(key, u"", REG_SZ, Z(u"d"));
  Set(key, u"d", REG_DWORD, std::string("\xAB\0\0\0", 4));
  Set(key, u"raw", REG_SZ, Le(u"ab"));
  Set(key, u"q", REG_QWORD, std::string(8, '\x01'));
  Create(HKEY_CURRENT_USER, u"Software\\Fmt\\B");
  Create(HKEY_CURRENT_USER, u"Software\\Fmt\\a");
  Result<std::string> exported = ExportKeyTree(registry(), HKEY_CURRENT_USER, u"Software\\Fmt", true);
  ASSERT_TRUE(exported.ok());
  EXPECT_EQ(exported->substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(FromUtf16LeFile(*exported),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Fmt]\r\n"
            "\"s\"=\"a\\\\b\"\r\n"
            "@=\"d\"\r\n"
            "\"d\"=dword:000000ab\r\n"
            "\"raw\"=hex(1):61,00,62,00\r\n"
            "\"q\"=hex(b):01,01,01,01,01,01,01,01\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Fmt\\a]\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\Fmt\\B]\r\n"
            "\r\n");
}

TEST_F(RegEditTest, NamesNoFileCanHoldFailTheExport) {
  Create(HKEY_CURRENT_USER, u"Software\\Bad\\line\nbreak");
  Result<std::string> exported = ExportKeyTree(registry(), HKEY_CURRENT_USER, u"Software\\Bad", true);
  ASSERT_FALSE(exported.ok());
  EXPECT_EQ(exported.status().code(), kErrorInvalidName);
  EXPECT_FALSE(ExportKeyTree(registry(), HKEY_CURRENT_USER, u"Software\\Missing", true).ok());
}

TEST_F(RegEditTest, ImportAppliesDeletionsContinuationsAndComments) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Imp\\Old\\Sub");
  Set(key, u"x", REG_SZ, Z(u"x"));
  HKEY keep = Create(HKEY_CURRENT_USER, u"Software\\Imp\\Keep");
  Set(keep, u"gone", REG_SZ, Z(u"x"));
  Set(keep, u"stays", REG_SZ, Z(u"y"));
  const Status status = Import(
      "REGEDIT4\r\n\r\n"
      "; a comment\r\n"
      "[-HKEY_CURRENT_USER\\Software\\Imp\\Old]\r\n"
      "[-HKCU\\Software\\Imp\\NeverWasThere]\r\n"
      "[HKCU\\Software\\Imp\\Keep]\r\n"
      "\"gone\"=-\r\n"
      "\"not there\"=-\r\n"
      "\"bin\"=hex:01,02,\\\r\n"
      "  ; inside the list\r\n"
      "  03\r\n"
      "\"text\"=\"two\r\nlines\"\r\n"
      "[HKCU\\Software\\Imp\\New\\Deep]\r\n"
      "@=dword:00000010\r\n");
  ASSERT_TRUE(status.ok()) << status.ToString();
  EXPECT_FALSE(Exists(HKEY_CURRENT_USER, u"Software\\Imp\\Old"));
  const Tree tree = TreeOf(registry(), HKEY_CURRENT_USER, u"Software\\Imp", true);
  const Tree expected = {
      {u"", {}},
      {u"\\Keep",
       {{u"stays", REG_SZ, Z(u"y")},
        {u"bin", REG_BINARY, "\x01\x02\x03"},
        {u"text", REG_SZ, Z(u"two\r\nlines")}}},
      {u"\\New", {}},
      {u"\\New\\Deep", {{u"", REG_DWORD, std::string("\x10\0\0\0", 4)}}},
  };
  EXPECT_EQ(tree, expected);
}

struct RejectCase {
  std::string body;  // after the header line and an empty line: the first line here is line 3
  int line;
  const char* what;
};

// A file that cannot be applied whole is refused with its line, before anything changes.
TEST_F(RegEditTest, ImportRejectsBeforeChangingAnything) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Guard");
  Set(key, u"v", REG_SZ, Z(u"old"));
  const std::string first =
      "[HKCU\\Software\\Guard]\r\n\"v\"=\"new\"\r\n[-HKCU\\Software\\Guard]\r\n[HKCU\\Software\\G2]\r\n";
  const RejectCase cases[] = {
      {first + "\"a\"=hex:zz\r\n", 7, "bad hex byte"},
      {first + "[HKLM\\NewHive]\r\n", 7, "cannot be changed"},
      {first + "[HKEY_DYN_DATA\\x]\r\n", 7, "no keys can be imported"},
      {first + "[HKCU\\a\\\\b]\r\n", 7, "empty key name"},
      {first + "[HKCU\\" + std::string(256, 'k') + "]\r\n", 7, "longer than 255"},
      {first + "[-HKLM\\SOFTWARE]\r\n", 7, "cannot be deleted"},
      {first + "[-HKCU\\Software]\r\n", 7, "cannot be deleted"},
      {first + "\"open\"=\"never closed\r\n\r\n", 7, "missing closing quote"},
  };
  const Tree before = TreeOf(registry(), HKEY_CURRENT_USER, u"Software\\Guard", true);
  ASSERT_FALSE(Exists(HKEY_CURRENT_USER, u"Software\\G2"));
  for (const RejectCase& c : cases) {
    const Status status = Import("REGEDIT4\r\n\r\n" + c.body);
    ASSERT_FALSE(status.ok()) << c.body;
    const std::string prefix = "t.reg: line " + std::to_string(c.line) + ": ";
    EXPECT_EQ(status.context().substr(0, prefix.size()), prefix) << status.ToString();
    EXPECT_NE(status.ToString().find(c.what), std::string::npos) << status.ToString();
    EXPECT_EQ(TreeOf(registry(), HKEY_CURRENT_USER, u"Software\\Guard", true), before);
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, u"Software\\G2"));
  }
}

// The view of the call decides where a key text lands.
TEST_F(RegEditTest, ImportAndExportInBothViews) {
  const std::string file =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ViewTest]\r\n"
      "\"v\"=dword:00000020\r\n";
  ASSERT_TRUE(Import(file, false).ok());
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\WOW6432Node\\ViewTest", true));
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ViewTest", true));
  Result<std::string> exported =
      ExportKeyTree(registry(), HKEY_LOCAL_MACHINE, u"SOFTWARE\\ViewTest", false);
  ASSERT_TRUE(exported.ok());
  EXPECT_EQ(FromUtf16LeFile(*exported), file + "\r\n");
  EXPECT_FALSE(ExportKeyTree(registry(), HKEY_LOCAL_MACHINE, u"SOFTWARE\\ViewTest", true).ok());
  ASSERT_TRUE(Import(file, true).ok());
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ViewTest", true));
}

// RegExportKey and RegImportFile keep the registry editor's contract on Windows paths.
TEST_F(RegEditTest, EditorContract) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", false);
  Set(key, u"v", REG_SZ, Z(u"32-bit"));
  const std::filesystem::path host = install_.root() / "Undo/k.reg";
  std::string error = "untouched";
  ASSERT_TRUE(RegExportKey(&error, HKEY_LOCAL_MACHINE, false, "C:\\Undo\\k.reg", "SOFTWARE\\Vendor"));
  EXPECT_EQ(error, "untouched");
  const std::string backup = hm::testing::ReadFileBytes(host);
  EXPECT_NE(FromUtf16LeFile(backup).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]"), std::string::npos);

  // A key that does not exist: the editor's non-zero exit code, and no file.
  EXPECT_FALSE(RegExportKey(&error, HKEY_LOCAL_MACHINE, true, "C:\\Undo\\k.reg", "SOFTWARE\\Vendor"));
  EXPECT_EQ(error, "ExitCode: 1");
  EXPECT_FALSE(std::filesystem::exists(host));

  // Restore into the 32-bit view after the key was deleted.
  hm::testing::WriteFileBytes(host, backup);
  ASSERT_TRUE(DeleteRegKeyTree(&error, HKEY_LOCAL_MACHINE, false, "SOFTWARE\\Vendor")) << error;
  EXPECT_TRUE(RegImportFile(false, "C:\\Undo\\k.reg"));
  EXPECT_TRUE(Exists(HKEY_LOCAL_MACHINE, u"SOFTWARE\\WOW6432Node\\Vendor", true));
  EXPECT_TRUE(std::filesystem::exists(host));  // the file stays after an import
  EXPECT_FALSE(RegImportFile(false, "C:\\Undo\\missing.reg"));
}

TEST_F(RegEditTest, TestSeamMakesTheEditorFail) {
  Create(HKEY_CURRENT_USER, u"Software\\Seam");
  const std::filesystem::path host = install_.root() / "Undo/s.reg";
  std::string error = "untouched";
  {
    ScopedRegEditFault fault(RegEditFault::kExitCode, 5);
    EXPECT_FALSE(RegExportKey(&error, HKEY_CURRENT_USER, true, "C:\\Undo\\s.reg", "Software\\Seam"));
    EXPECT_EQ(error, "ExitCode: 5");
    EXPECT_FALSE(std::filesystem::exists(host));
    hm::testing::WriteFileBytes(host, "REGEDIT4\r\n\r\n[HKCU\\Software\\FromSeam]\r\n");
    EXPECT_FALSE(RegImportFile(true, "C:\\Undo\\s.reg"));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, u"Software\\FromSeam"));
  }
  {
    ScopedRegEditFault fault(RegEditFault::kCannotStart);
    error = "untouched";
    EXPECT_FALSE(RegExportKey(&error, HKEY_CURRENT_USER, true, "C:\\Undo\\s.reg", "Software\\Seam"));
    EXPECT_EQ(error, "untouched");
    EXPECT_FALSE(std::filesystem::exists(host));
  }
  EXPECT_TRUE(RegExportKey(&error, HKEY_CURRENT_USER, true, "C:\\Undo\\s.reg", "Software\\Seam"));
}

// A subtree of a real user hive: export, delete, import, and every key, type and byte is back.
TEST(RegEditRealHiveTest, RoundTripOfARealUserHive) {
  hm::testing::TempDir dir;
  std::filesystem::create_directories(dir.path() / "sources/registry");
  hm::testing::WriteFileBytes(dir.path() / "sources/registry/10.reg",
                              testing::InstallationRegistry());
  hm::testing::WriteFileBytes(dir.path() / "sources/files.txt", testing::kInstallationFiles);
  const std::filesystem::path root = dir.path() / "c";
  ASSERT_TRUE(install::BuildInstallation(dir.path() / "sources", root).ok());
  const std::filesystem::path real = hm::testing::UnpackSharedHive("NTUSER.DAT", dir.path());
  ASSERT_FALSE(real.empty());
  std::filesystem::copy_file(real, root / "Users/ann/NTUSER.DAT",
                             std::filesystem::copy_options::overwrite_existing);
  auto installation = install::Installation::Open(root);
  ASSERT_TRUE(installation.ok()) << installation.status().ToString();
  auto opened = HostRegistry::Open(std::move(installation).value(), {});
  ASSERT_TRUE(opened.ok()) << opened.status().ToString();
  HostRegistry& registry = **opened;

  const std::u16string path = u"Software\\Microsoft";
  const Tree before = TreeOf(registry, HKEY_CURRENT_USER, path, true);
  ASSERT_GT(before.size(), 50u);
  Result<std::string> exported = ExportKeyTree(registry, HKEY_CURRENT_USER, path, true);
  ASSERT_TRUE(exported.ok()) << exported.status().ToString();
  ASSERT_TRUE(ImportRegFile(registry,
                            "REGEDIT4\r\n[-HKEY_CURRENT_USER\\Software\\Microsoft]\r\n", true, "d")
                  .ok());
  const Status imported = ImportRegFile(registry, *exported, true, "export.reg");
  ASSERT_TRUE(imported.ok()) << imported.ToString();
  EXPECT_EQ(TreeOf(registry, HKEY_CURRENT_USER, path, true), before);
}

}  // namespace
}  // namespace hm::reg
