#include "registry/reg_export.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win_error.h"
#include "registry/files_test_support.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::reg {
namespace {

constexpr char kFile[] = "C:\\Backups\\Undo\\1.reg";
constexpr char kHeader[] = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n";

// `count` bytes 0, 1, 2, ... as upper-case hex with commas, the last without.
std::string HexRun(int first, int count, bool last_in_list) {
  std::string out;
  for (int i = first; i < first + count; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof(buf), "%02X", i);
    out += buf;
    if (!(last_in_list && i == first + count - 1)) out += ',';
  }
  return out;
}

// 70 bytes under a 10-character name: 20 bytes, then 25, then the last 25.
std::string SeventyBytesLine(const std::string& prefix) {
  return "\"TenLetters\"=" + prefix + HexRun(0, 20, false) + "\\\r\n  " + HexRun(20, 25, false) +
         "\\\r\n  " + HexRun(45, 25, true) + "\r\n";
}

std::string SeventyBytesAfterLongPrefix(const std::string& prefix) {
  return "\"TenLetters\"=" + prefix + HexRun(0, 19, false) + "\\\r\n  " + HexRun(19, 25, false) +
         "\\\r\n  " + HexRun(44, 25, false) + "\\\r\n  " + HexRun(69, 1, true) + "\r\n";
}

std::string Bytes(int count) {
  std::string data;
  for (int i = 0; i < count; ++i) data.push_back(static_cast<char>(i));
  return data;
}

class RegExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", KEY_ALL_ACCESS, &key_),
              kErrorSuccess);
  }
  void TearDown() override { RegCloseKey(key_); }

  void Set(const char* name, uint32_t type, const std::string& data) {
    ASSERT_EQ(RegSetValueExA(key_, name, type, reinterpret_cast<const uint8_t*>(data.data()),
                             static_cast<uint32_t>(data.size())),
              kErrorSuccess);
  }
  std::filesystem::path HostFile() const { return install_.root() / "Backups/Undo/1.reg"; }

  testing::FilesInstallation install_;
  HKEY key_ = 0;
};

struct ExportCase {
  const char* what;
  const char* name;
  uint32_t type;
  std::string data;
  std::string line;   // the value line(s) expected after the header; empty: no file
  std::string error;  // the error text expected; empty: success
};

TEST_F(RegExportTest, WritesEachValueExactly) {
  // Text types are set through the "A" functions and read back through them: bytes below 0x80
  // come back as they were.
  const ExportCase cases[] = {
      {"dword", "Count", REG_DWORD, std::string("\x1A\0\0\0", 4), "\"Count\"=dword:0000001A\r\n",
       ""},
      {"dword, high bits", "Mask", REG_DWORD, "\xEF\xBE\xAD\xDE", "\"Mask\"=dword:DEADBEEF\r\n",
       ""},
      {"escaping, line break as is", "a\\b\"c", REG_SZ,
       std::string("C:\\dir \"x\"\r\nnext\0after", 23),
       "\"a\\\\b\\\"c\"=\"C:\\\\dir \\\"x\\\"\r\nnext\"\r\n", ""},
      {"default value", "", REG_SZ, std::string("dflt\0", 5), "\"\"=\"dflt\"\r\n", ""},
      {"binary, 70 bytes under 10 letters", "TenLetters", REG_BINARY, Bytes(70),
       SeventyBytesLine("hex:"), ""},
      // The three seven-letter prefixes put 19 bytes on the first line, then 25, 25 and 1.
      {"REG_NONE", "TenLetters", REG_NONE, Bytes(70), SeventyBytesAfterLongPrefix("hex(0):"), ""},
      {"REG_EXPAND_SZ", "TenLetters", REG_EXPAND_SZ, Bytes(70),
       SeventyBytesAfterLongPrefix("hex(2):"), ""},
      {"REG_MULTI_SZ", "TenLetters", REG_MULTI_SZ, Bytes(70),
       SeventyBytesAfterLongPrefix("hex(7):"), ""},
      {"empty binary", "e", REG_BINARY, "", "\"e\"=hex:\r\n", ""},
      {"REG_QWORD", "Q", REG_QWORD, std::string(8, '\x01'), "",
       "RegExportValue: unsupported data type 11"},
      {"too large", "Big", REG_BINARY, std::string(65536, 'x'), "",
       "RegQueryValueEx(\"Big\"): " + WinErrorMessage(kErrorMoreData)},
  };
  for (const ExportCase& c : cases) {
    SCOPED_TRACE(c.what);
    Set(c.name, c.type, c.data);
    std::string error = "before";
    const bool ok = RegExportOneValue(&error, HKEY_CURRENT_USER, key_, c.name, kFile,
                                      "Software\\Test");
    EXPECT_EQ(ok, c.error.empty());
    if (c.error.empty()) {
      EXPECT_EQ(error, "before");
      EXPECT_EQ(hm::testing::ReadFileBytes(HostFile()), kHeader + c.line);
    } else {
      EXPECT_EQ(error, c.error);
      EXPECT_FALSE(std::filesystem::exists(HostFile()));
    }
    std::filesystem::remove(HostFile());
    ASSERT_EQ(RegDeleteValueA(key_, c.name), kErrorSuccess);
  }
}

TEST_F(RegExportTest, SeveralValuesAndTheLastFailureWins) {
  Set("one", REG_DWORD, std::string("\x01\0\0\0", 4));
  Set("two", REG_SZ, std::string("2\0", 2));
  std::string error;
  ASSERT_TRUE(RegExportValue(&error, HKEY_CURRENT_USER, key_, {"two", "one"}, kFile,
                             "Software\\Test"));
  EXPECT_EQ(hm::testing::ReadFileBytes(HostFile()),
            std::string(kHeader) + "\"two\"=\"2\"\r\n\"one\"=dword:00000001\r\n");

  // A failure removes the file that was there; the text is that of the last failure.
  Set("q", REG_QWORD, std::string(8, '\0'));
  EXPECT_FALSE(RegExportValue(&error, HKEY_CURRENT_USER, key_, {"missing", "one", "q"}, kFile,
                              "Software\\Test"));
  EXPECT_EQ(error, "RegExportValue: unsupported data type 11");
  EXPECT_FALSE(std::filesystem::exists(HostFile()));
  EXPECT_FALSE(RegExportValue(&error, HKEY_CURRENT_USER, key_, {"q", "missing"}, kFile,
                              "Software\\Test"));
  EXPECT_EQ(error, "RegQueryValueEx(\"missing\"): " + WinErrorMessage(kErrorFileNotFound));
}

TEST_F(RegExportTest, FolderThatCannotBeCreated) {
  std::filesystem::create_directories(install_.root() / "Backups");
  hm::testing::WriteFileBytes(install_.root() / "Backups/Undo", "a file where the folder goes");
  Set("one", REG_DWORD, std::string("\x01\0\0\0", 4));
  std::string error;
  EXPECT_FALSE(RegExportOneValue(&error, HKEY_CURRENT_USER, key_, "one", kFile, "Software\\Test"));
  EXPECT_EQ(error, "CreateDirectory: " + WinErrorMessage(kErrorAlreadyExists) + " C:\\Backups\\Undo");
  EXPECT_EQ(hm::testing::ReadFileBytes(install_.root() / "Backups/Undo"),
            "a file where the folder goes");
}

// A value backup restores the values it holds, line breaks and escapes included.
TEST_F(RegExportTest, BackupImportsBack) {
  Set("text", REG_SZ, std::string("a\\b \"c\"\r\nsecond line\0", 21));
  Set("expand", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9));
  Set("multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9));
  Set("bin", REG_BINARY, Bytes(100));
  Set("", REG_DWORD, std::string("\x07\0\0\0", 4));
  const std::vector<std::string> names = {"text", "expand", "multi", "bin", ""};
  std::vector<HostRegistry::ValueEntry> before(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(install_.registry().QueryValue(key_, AnsiToUtf16(names[i]), &before[i]),
              kErrorSuccess);
  }
  std::string error;
  ASSERT_TRUE(RegExportValue(&error, HKEY_CURRENT_USER, key_, names, kFile, "Software\\Test"))
      << error;
  for (const std::string& name : names) ASSERT_EQ(RegDeleteValueA(key_, name.c_str()), kErrorSuccess);
  ASSERT_TRUE(RegImportFile(true, kFile));
  for (size_t i = 0; i < names.size(); ++i) {
    HostRegistry::ValueEntry after;
    ASSERT_EQ(install_.registry().QueryValue(key_, AnsiToUtf16(names[i]), &after), kErrorSuccess);
    EXPECT_EQ(after.type, before[i].type) << names[i];
    EXPECT_EQ(after.data, before[i].data) << names[i];
  }
}

// A name that turns out to be a folder is never deleted on failure.
TEST_F(RegExportTest, FailureNeverDeletesAFolder) {
  std::filesystem::create_directories(HostFile() / "inside");
  std::string error;
  EXPECT_FALSE(RegExportOneValue(&error, HKEY_CURRENT_USER, key_, "missing", kFile,
                                 "Software\\Test"));
  EXPECT_TRUE(std::filesystem::exists(HostFile() / "inside"));
}

}  // namespace
}  // namespace hm::reg
