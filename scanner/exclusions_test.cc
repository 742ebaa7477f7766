#include "scanner/exclusions.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::scan {
namespace {

namespace fs = std::filesystem;
using hm::testing::ReadFileBytes;
using hm::testing::TempDir;
using hm::testing::WriteFileBytes;

std::string Deflate(std::string_view text) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return "ZP" + out;
}

TEST(ExclusionsTest, ResourcesInflateOrStandAsTheyAre) {
  EXPECT_EQ(*InflateResource(Deflate("a\nb\n")), "a\nb\n");
  EXPECT_EQ(*InflateResource("plain text"), "plain text");
  std::string damaged = Deflate(std::string(4000, 'x') + "tail");
  damaged.resize(damaged.size() / 2);
  EXPECT_EQ(InflateResource(damaged).status().code(), kErrorInvalidData);
  damaged = Deflate("abc");
  damaged[2] = '\xff';
  EXPECT_FALSE(InflateResource(damaged).ok());

  const auto permanent =
      ParsePermanentIgnores(Deflate("{Group}\n  HKLM\\A  \n\n{Other}\nHKCU\\B\\\\:\n"));
  ASSERT_TRUE(permanent.ok());
  EXPECT_EQ(*permanent, (std::vector<std::string>{"HKLM\\A", "HKCU\\B\\\\:"}));
}

TEST(ExclusionsTest, BuiltInListsLoad) {
  auto skipped = DefaultSkippedKeys();
  ASSERT_TRUE(skipped.ok()) << skipped.status().ToString();
  ASSERT_FALSE(skipped->empty());
  for (const std::string& line : *skipped) {
    EXPECT_TRUE(line.starts_with("HKEY_LOCAL_MACHINE\\") || line.starts_with("HKEY_CURRENT_USER\\"))
        << line;
    EXPECT_TRUE(line.ends_with("=1")) << line;
  }
  auto permanent = LoadPermanentIgnores();
  ASSERT_TRUE(permanent.ok()) << permanent.status().ToString();
  ASSERT_FALSE(permanent->empty());
  for (const std::string& entry : *permanent) {
    EXPECT_NE(reg::NameToRootKey(entry.substr(0, entry.find('\\'))), 0u) << entry;
  }
  EXPECT_EQ(FilterWords().size(), 35u);
}

TEST(ExclusionsTest, IgnoreLookupMatchesKeysAndValues) {
  const IgnoreLookup lookup({"HKLM\\Software\\A", "HKEY_CURRENT_USER\\Software\\V\\\\:Path",
                             "hkcu\\Software\\D\\\\:", "HKCR\\.txt", "Bogus\\Software\\A",
                             "no backslash", "HKLM\\Software\\Caf\xe9"});
  const struct {
    reg::HKEY root;
    const char* key;
    const char* value;
    bool ignored;
  } kCases[] = {
      {reg::HKEY_LOCAL_MACHINE, "Software\\A", "", true},
      {reg::HKEY_LOCAL_MACHINE, "software\\a", "X", true},  // a key entry covers its values
      {reg::HKEY_LOCAL_MACHINE, "Software\\A\\B", "", false},
      {reg::HKEY_CURRENT_USER, "Software\\A", "", false},
      {reg::HKEY_CURRENT_USER, "Software\\V", "Path", true},
      {reg::HKEY_CURRENT_USER, "Software\\V", "PATH", true},
      {reg::HKEY_CURRENT_USER, "Software\\V", "", false},
      {reg::HKEY_CURRENT_USER, "Software\\D", "", true},  // the default value
      {reg::HKEY_CURRENT_USER, "Software\\D", "Other", false},
      {reg::HKEY_CLASSES_ROOT, ".txt", "", true},
      {reg::HKEY_LOCAL_MACHINE, "Software\\Classes\\.txt", "", false},
      {0, "Software\\A", "", false},  // a shortcut finding has no root
      // Beyond ASCII, letters compare as the registry compares them (code page 1252 here).
      {reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\CAF\xc9", "", true},
      {reg::HKEY_LOCAL_MACHINE, "Software\\Cafe", "", false},
      {reg::HKEY_LOCAL_MACHINE, "Software\\Caf", "\xe9", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(lookup.IsIgnored(c.root, c.key, c.value), c.ignored) << c.key << " / " << c.value;
  }
}

TEST(ExclusionsTest, IgnoreFileReadAddAndRemove) {
  TempDir dir;
  const fs::path file = dir / "ignore.txt";
  EXPECT_TRUE(IgnoreFileEntries(file)->empty());  // missing: nothing

  WriteFileBytes(file,
                 "[HKEY_LOCAL_MACHINE\\Software\\K]\r\n(default)=\r\nName=\r\n\r\n"
                 "[HKEY_CURRENT_USER\\Software\\Empty]\r\n");
  EXPECT_EQ(*IgnoreFileEntries(file),
            (std::vector<std::string>{
                "HKEY_LOCAL_MACHINE\\Software\\K\\\\:", "HKEY_LOCAL_MACHINE\\Software\\K\\\\:Name",
                "HKEY_CURRENT_USER\\Software\\Empty"}));

  ASSERT_TRUE(AddToIgnoreFile(file, "HKEY_LOCAL_MACHINE\\Software\\Bare").ok());
  ASSERT_TRUE(AddToIgnoreFile(file, "HKEY_LOCAL_MACHINE\\Software\\Bare").ok());
  const std::string text = ReadFileBytes(file);
  EXPECT_EQ(text.find("[HKEY_LOCAL_MACHINE\\Software\\Bare]"),
            text.rfind("[HKEY_LOCAL_MACHINE\\Software\\Bare]"));  // listed once

  ASSERT_TRUE(AddToIgnoreFile(file, "HKEY_LOCAL_MACHINE\\Software\\New\\\\:(DEFAULT)").ok());
  ASSERT_TRUE(RemoveFromIgnoreFile(file, "HKEY_LOCAL_MACHINE\\Software\\K\\\\:Name").ok());
  ASSERT_TRUE(RemoveFromIgnoreFile(file, "HKEY_LOCAL_MACHINE\\Software\\K\\\\:(default)").ok());
  ASSERT_TRUE(RemoveFromIgnoreFile(file, "HKEY_CURRENT_USER\\Software\\Empty").ok());
  // The last value of a section takes the section with it; every line ends in CR LF.
  EXPECT_EQ(*IgnoreFileEntries(file),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Bare",
                                      "HKEY_LOCAL_MACHINE\\Software\\New\\\\:"}));
  const std::string final_text = ReadFileBytes(file);
  for (size_t i = 0; i < final_text.size(); ++i) {
    if (final_text[i] == '\n') {
      EXPECT_EQ(final_text[i - 1], '\r');
    }
  }
}

TEST(ExclusionsTest, BuildIgnoreListTakesNamesBeforeTheLastEquals) {
  EXPECT_EQ(BuildIgnoreList({"HKLM\\A=1", "HKLM\\B=C=1", "HKLM\\D"}, {"HKLM\\P"}, {"HKCU\\F"}),
            (std::vector<std::string>{"HKLM\\A", "HKLM\\B=C", "HKLM\\D", "HKLM\\P", "HKCU\\F"}));
}

TEST(ExclusionsTest, SkipKeysAndWordFilter) {
  const SkipKeyList skip({"ControlSet001", "ControlSet002"});
  EXPECT_TRUE(skip.IsSkippedKey("software\\classes"));
  EXPECT_FALSE(skip.IsSkippedKey("software\\classe\xe9"));
  EXPECT_TRUE(skip.IsSkippedKey("System\\ControlSet001"));
  EXPECT_TRUE(skip.IsSkippedKey("Software\\Microsoft\\Windows\\CurrentVersion\\Run-"));
  EXPECT_TRUE(skip.IsSkippedKey("System\\CurrentControlSet\\Services\\Eventlog"));
  EXPECT_FALSE(skip.IsSkippedKey("System\\CurrentControlSet\\Services"));
  EXPECT_FALSE(skip.IsSkippedKey("System\\ControlSet003"));
  EXPECT_FALSE(skip.IsSkippedKey("System\\CurrentControlSet"));

  for (const char* untestable :
       {"http://example.com/app.exe", "HTTPS://X", "\\Device\\HarddiskVolume2\\Windows",
        "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", "shell:AppsFolder",
        "mk:@MSITStore:C:\\x.chm::/a.htm", "\\\\?\\Volume{12}\\x", "\\SystemRoot\\System32\\x.sys",
        "HKEY_LOCAL_MACHINE\\Software"}) {
    EXPECT_FALSE(PassesWordFilter(untestable)) << untestable;
  }
  for (const char* testable : {"C:\\Program Files\\App\\app.exe", "\"C:\\x.exe\" %1",
                               "%SystemRoot%\\system32\\shell32.dll,-21"}) {
    EXPECT_TRUE(PassesWordFilter(testable)) << testable;
  }
}

}  // namespace
}  // namespace hm::scan
