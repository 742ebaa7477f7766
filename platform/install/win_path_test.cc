#include "platform/install/win_path.h"

#include <gtest/gtest.h>

namespace hm::install {
namespace {

struct ParseCase {
  const char* text;
  const char* normalized;  // nullptr: an error with `error`
  uint32_t error = 0;
};

TEST(ParseWindowsPathTest, NormalizesAsWin32) {
  const ParseCase cases[] = {
      {"C:\\Windows\\System32", "C:\\Windows\\System32"},
      {"d:/data//x/./y", "D:\\data\\x\\y"},
      {"C:", "C:\\"},
      {"C:Windows", "C:\\Windows"},
      {"\\Users\\demo", "C:\\Users\\demo"},
      {"Users\\demo\\", "C:\\Users\\demo"},
      {"C:\\a\\b\\..\\c", "C:\\a\\c"},
      {"C:\\dir.\\file.txt. . ", "C:\\dir\\file.txt"},  // one period of an inner name goes
      {"C:\\dir..\\x", "C:\\dir..\\x"},                 // a run of periods stays inside
      {"C:\\x\\...", "C:\\x"},                          // a last name of periods is nothing
      {"\\\\.\\C:\\Windows\\..\\x", "C:\\x"},
      {"\\\\?\\C:\\dir.\\x ", "C:\\dir.\\x "},  // literal: no trimming
      {"\\??\\C:\\Windows", "C:\\Windows"},
      {"C:\\..", nullptr, kErrorPathNotFound},
      {"..\\..\\etc\\passwd", nullptr, kErrorPathNotFound},
      {"", nullptr, kErrorPathNotFound},
      {"1:\\x", nullptr, kErrorPathNotFound},
      {"\\\\server\\share\\x", nullptr, kErrorBadNetpath},
      {"\\\\.\\PhysicalDrive0", nullptr, kErrorBadPathname},
      {"C:\\a*b", nullptr, kErrorInvalidName},
      {"C:\\a\\b:stream", nullptr, kErrorInvalidName},
      {"C:\\a\"b", nullptr, kErrorInvalidName},
      {"\\\\?\\C:\\a\\..\\b", nullptr, kErrorInvalidName},
      {"\\\\?\\C:\\a/b", nullptr, kErrorInvalidName},
  };
  for (const ParseCase& c : cases) {
    Result<WindowsPath> parsed = ParseWindowsPath(c.text);
    if (c.normalized == nullptr) {
      ASSERT_FALSE(parsed.ok()) << c.text;
      EXPECT_EQ(parsed.status().code(), c.error) << c.text;
    } else {
      ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.status().ToString();
      EXPECT_EQ(WindowsPathText(*parsed), c.normalized) << c.text;
    }
  }
}

TEST(ParseDriveMappingTest, LetterTypeAndFolder) {
  Result<DriveMapping> plain = ParseDriveMapping("d=/mnt/data");
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain->letter, 'D');
  EXPECT_EQ(plain->type, kDriveFixed);
  EXPECT_EQ(plain->folder, "/mnt/data");

  Result<DriveMapping> typed = ParseDriveMapping("E:removable=/media/stick=1");
  ASSERT_TRUE(typed.ok());
  EXPECT_EQ(typed->type, kDriveRemovable);
  EXPECT_EQ(typed->folder, "/media/stick=1");

  for (const char* bad : {"C=/x", "D", "D=", "5=/x", "D:floppy=/x", "DX=/x"}) {
    Result<DriveMapping> parsed = ParseDriveMapping(bad);
    ASSERT_FALSE(parsed.ok()) << bad;
    EXPECT_EQ(parsed.status().code(), kErrorInvalidParameter);
    EXPECT_NE(parsed.status().context().find(bad), std::string::npos);
  }
}

}  // namespace
}  // namespace hm::install
