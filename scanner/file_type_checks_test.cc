// The file type and shell checks over small installations, one per case: each plants faults
// beside valid entries of the same shape and names exactly the findings a scan must make.
#include "scanner/file_type_checks.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

#include "registry/files_test_support.h"
#include "scanner/scan_test_support.h"
#include "scanner/scanner.h"

namespace hm::scan {
namespace {

#define CLASSES "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\"
#define FILE_EXTS "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\"
#define MIME "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\MIME\\Database\\"
#define REGISTERED_CLASS "{00000000-0000-0000-0000-0000000000AA}"

constexpr char kClassesKey[] = "HKLM\\Software\\Classes\\";
constexpr char kFileExtsKey[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
constexpr char kCharsetKey[] = "HKLM\\Software\\Classes\\MIME\\Database\\Charset\\";
constexpr char kContentKey[] = "HKLM\\Software\\Classes\\MIME\\Database\\Content Type\\";

struct Case {
  const char* name;
  TErrorCategory category;
  const char* registry;  // REGEDIT5 text without its header
  // "view kind action key|value|data" for every finding.
  std::set<std::string> expected;
  int tests = -1;  // the tests the category must count; -1: not checked
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::string F(int kind, int action, const std::string& key, const std::string& value = "",
              const std::string& data = "", int view = 0) {
  return std::to_string(view) + " " + std::to_string(kind) + " " + std::to_string(action) + " " +
         key + "|" + value + "|" + data;
}

const Case kCases[] = {
    {"SkippedNamesAreNeitherTestedNorReported", ecFileTypes,
     CLASSES "*]\n" CLASSES ".EXE]\n@=\"\"\n" CLASSES ".reg]\n"
     CLASSES "My Type]\n" CLASSES "My Type\\shell\\open\\command]\n@=\"C:\\\\Gone\\\\x.exe\"\n",
     {},
     0},
    {"EmptyExtensionKeys", ecFileTypes,
     // Only an empty default value, or nothing: empty. A default naming a class, another value,
     // or a subkey: not empty.
     CLASSES ".a]\n@=\"\"\n" CLASSES ".b]\n" CLASSES ".c]\n@=\"cfile\"\n"
     CLASSES ".d]\n@=\"\"\n\"Content Type\"=\"text/plain\"\n"
     CLASSES ".e]\n@=\"\"\n" CLASSES ".e\\ShellNew]\n\"NullFile\"=\"\"\n",
     {F(17, 0, std::string(kClassesKey) + ".a"), F(17, 0, std::string(kClassesKey) + ".b")}},
    {"ShellVerbs", ecFileTypes,
     // A command holding only its default value goes whole; one with more keeps the rest.
     CLASSES "xfile\\shell\\open\\command]\n@=\"\\\"C:\\\\Gone\\\\x.exe\\\" \\\"%1\\\"\"\n"
     CLASSES "xfile\\shell\\edit\\command]\n@=\"C:\\\\Gone\\\\x.exe /e\"\n"
             "\"DelegateExecute\"=\"{00000000-0000-0000-0000-000000000001}\"\n"
     CLASSES "xfile\\shell\\print\\command]\n@=\"C:\\\\Gone\\\\x.exe /p\"\n"
     CLASSES "xfile\\shell\\print\\command\\ddeexec]\n"
     CLASSES "xfile\\shell\\blank\\command]\n"
     CLASSES "xfile\\shell\\find\\command]\n"
             "\"DelegateExecute\"=\"{00000000-0000-0000-0000-000000000001}\"\n"
     CLASSES "xfile\\shell\\play\\command]\n@=\"\\\"C:\\\\Windows\\\\notepad.exe\\\" \\\"%1\\\"\"\n"
     CLASSES "xfile\\shell\\self\\command]\n@=\"\\\"%1\\\" %*\"\n",
     {F(21, 0, std::string(kClassesKey) + "xfile\\Shell\\open\\Command", "",
        "\"C:\\Gone\\x.exe\" \"%1\""),
      F(21, 1, std::string(kClassesKey) + "xfile\\Shell\\edit\\Command", "", "C:\\Gone\\x.exe /e"),
      F(21, 1, std::string(kClassesKey) + "xfile\\Shell\\print\\Command", "", "C:\\Gone\\x.exe /p"),
      F(21, 0, std::string(kClassesKey) + "xfile\\Shell\\blank\\Command")}},
    {"DisplayTexts", ecFileTypes,
     CLASSES "yfile]\n@=\"Y\"\n\"FriendlyTypeName\"=\"@C:\\\\Gone\\\\res.dll,-5\"\n"
             "\"InfoTip\"=\"@%SystemRoot%\\\\notepad.exe,-1\"\n"
     CLASSES "zfile]\n@=\"Z\"\n\"FriendlyTypeName\"=\"@{Some.App_1.0?ms-resource://Some.App/x}\"\n"
             "\"InfoTip\"=\"@\"\n"
     CLASSES "wfile]\n@=\"W\"\n\"FriendlyTypeName\"=\"Plain words\"\n\"InfoTip\"=\"\"\n",
     {F(11, 1, std::string(kClassesKey) + "yfile", "FriendlyTypeName", "@C:\\Gone\\res.dll,-5"),
      F(11, 1, std::string(kClassesKey) + "zfile", "InfoTip", "@"),
      F(11, 1, std::string(kClassesKey) + "wfile", "InfoTip", "")}},
    {"HandlersAndClassReferences", ecFileTypes,
     CLASSES "CLSID\\" REGISTERED_CLASS "]\n@=\"Registered\"\n"
     CLASSES "hfile\\ShellEx\\ContextMenuHandlers\\{00000000-0000-0000-0000-0000000000BB}]\n"
     CLASSES "hfile\\ShellEx\\ContextMenuHandlers\\" REGISTERED_CLASS "]\n"
     CLASSES "hfile\\ShellEx\\ContextMenuHandlers\\Named]\n@=\"{00000000-0000-0000-0000-0000000000CC}\"\n"
     CLASSES "hfile\\ShellEx\\ContextMenuHandlers\\Good]\n@=\"" REGISTERED_CLASS "\"\n"
     CLASSES "hfile\\ShellEx\\IconHandler]\n@=\"{00000000-0000-0000-0000-0000000000DD}\"\n"
     CLASSES "hfile\\ShellEx\\PropertyHandler]\n@=\"" REGISTERED_CLASS "\"\n"
     CLASSES "hfile\\CLSID]\n"
     CLASSES "hfile\\PersistentHandler]\n@=\"" REGISTERED_CLASS "\"\n"
     // The 32-bit view's class store is no class reference.
     CLASSES "Wow6432Node\\CLSID\\{00000000-0000-0000-0000-0000000000EE}]\n@=\"32-bit\"\n",
     {F(12, 0,
        std::string(kClassesKey) +
            "hfile\\ShellEx\\ContextMenuHandlers\\{00000000-0000-0000-0000-0000000000BB}",
        "", "{00000000-0000-0000-0000-0000000000BB}"),
      F(12, 0, std::string(kClassesKey) + "hfile\\ShellEx\\ContextMenuHandlers\\Named", "",
        "{00000000-0000-0000-0000-0000000000CC}"),
      F(12, 0, std::string(kClassesKey) + "hfile\\ShellEx\\IconHandler", "",
        "{00000000-0000-0000-0000-0000000000DD}"),
      F(12, 0, std::string(kClassesKey) + "hfile\\CLSID")}},
    {"OpenWithEntriesAndVersions", ecFileTypes,
     CLASSES "qfile]\n@=\"Q\"\n" CLASSES "Applications\\known.exe]\n"
     CLASSES ".q]\n@=\"qfile\"\n"
     CLASSES ".q\\OpenWithList\\gone.exe]\n" CLASSES ".q\\OpenWithList\\known.exe]\n"
     CLASSES ".q\\OpenWithList\\own.exe\\shell\\open\\command]\n@=\"C:\\\\Gone\\\\own.exe\"\n"
     CLASSES ".q\\OpenWithProgids\\Shared]\n" CLASSES ".q\\OpenWithProgids\\qfile]\n"
     CLASSES ".q\\OpenWithProgids\\qfile.2]\n"
     // The current version is looked up without its version digits; the program identifier
     // subkeys above as written.
     CLASSES "qfile\\CurVer]\n@=\"qfile.2\"\n" CLASSES "rfile\\CurVer]\n@=\"\"\n"
     CLASSES "sfile\\CurVer]\n@=\"gone.3\"\n",
     {F(3, 0, std::string(kClassesKey) + ".q\\OpenWithList\\gone.exe", "", "gone.exe"),
      F(21, 0, std::string(kClassesKey) + ".q\\OpenWithList\\own.exe\\shell\\open\\Command", "",
        "C:\\Gone\\own.exe"),
      F(5, 0, std::string(kClassesKey) + ".q\\OpenWithProgids\\qfile.2", "", "qfile.2"),
      F(14, 0, std::string(kClassesKey) + "rfile\\CurVer"),
      F(14, 0, std::string(kClassesKey) + "sfile\\CurVer", "", "gone.3")}},
    {"NewFileEntries", ecFileTypes,
     CLASSES "nfile]\n@=\"N\"\n"
     CLASSES ".n]\n@=\"nfile\"\n" CLASSES ".n\\nfile\\ShellNew]\n\"FileName\"=\"gone.n\"\n"
     CLASSES ".n\\ShellNew]\n\"Command\"=\"C:\\\\Gone\\\\new.exe %1\"\n"
             "\"FileName\"=\"C:\\\\Windows\\\\notepad.exe\"\n"
     CLASSES ".m\\ShellNew]\n\"Command\"=\"\\\"C:\\\\Windows\\\\notepad.exe\\\" %1\"\n",
     {F(22, 1, std::string(kClassesKey) + ".n\\nfile\\ShellNew", "FileName", "gone.n"),
      F(21, 1, std::string(kClassesKey) + ".n\\ShellNew", "Command", "C:\\Gone\\new.exe %1")}},
    {"KeysBesideTheWalk", ecFileTypes,
     CLASSES "Directory\\Background\\shell\\gone\\command]\n@=\"C:\\\\Gone\\\\b.exe\"\n"
     CLASSES "Network\\Type\\ShellEx\\DropHandler]\n@=\"{00000000-0000-0000-0000-0000000000FF}\"\n",
     {F(21, 0, std::string(kClassesKey) + "Directory\\Background\\Shell\\gone\\Command", "",
        "C:\\Gone\\b.exe"),
      F(12, 0, std::string(kClassesKey) + "Network\\Type\\ShellEx\\DropHandler", "",
        "{00000000-0000-0000-0000-0000000000FF}")}},
    {"OpenWithListOrder", ecFileExtensions,
     // "c" and "d" have no entry: one finding rebuilds the order. An entry naming a program file
     // is never reported, even when the file is gone.
     FILE_EXTS ".x\\OpenWithList]\n\"a\"=\"C:\\\\Gone\\\\viewer.exe\"\n\"b\"=\"gone-viewer\"\n"
               "\"e\"=\"ab\"\n\"MRUList\"=\"acbde\"\n",
     {F(25, 9, std::string(kFileExtsKey) + ".x\\OpenWithList", "MRUList", "acbde"),
      F(4, 10, std::string(kFileExtsKey) + ".x\\OpenWithList", "b", "gone-viewer")}},
    {"OpenWithProgidsValues", ecFileExtensions,
     CLASSES "kfile]\n"
     FILE_EXTS ".k\\OpenWithProgids]\n\"gone.1\"=\"\"\n\"kfile.7\"=\"\"\n\"old.k.handler\"=\"\"\n"
               "\"marker\"=hex(0):\n"
     FILE_EXTS ".k\\OpenWithList]\n",
     {F(14, 2, std::string(kFileExtsKey) + ".k\\OpenWithProgids", "gone.1", "gone.1"),
      F(17, 0, std::string(kFileExtsKey) + ".k\\OpenWithList")}},
    {"ExtensionTable", ecFileExtensions,
     "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Extensions]\n"
     "@=\"C:\\\\Gone\\\\default.exe ^.d\"\n\"a\"=\"C:\\\\Gone\\\\a.exe ^.a\"\n\"b\"=dword:00000001\n"
     "\"c\"=\"notepad.exe ^.c\"\n",
     {F(22, 1, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Extensions", "a",
        "C:\\Gone\\a.exe ^.a"),
      F(0, 1, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Extensions", "b",
        "REG_SZ or REG_EXPAND_SZ")}},
    {"Applications", ecApplications,
     CLASSES "Applications\\gone.exe\\shell\\open\\command]\n@=\"C:\\\\Gone\\\\gone.exe %1\"\n"
     CLASSES "Applications\\notepad.exe\\shell\\open\\command]\n@=\"C:\\\\Windows\\\\notepad.exe %1\"\n",
     {F(21, 0, std::string(kClassesKey) + "Applications\\gone.exe\\shell\\open\\Command", "",
        "C:\\Gone\\gone.exe %1")}},
    {"ContentTypes", ecContentType,
     CLASSES ".txt]\n@=\"txtfile\"\n"
     MIME "Content Type\\text/plain]\n\"Extension\"=\".txt\"\n"
     MIME "Content Type\\x/gone]\n\"Extension\"=\".gone\"\n\"CLSID\"=\"\"\n"
     MIME "Content Type\\x/empty]\n",
     {F(15, 2, std::string(kContentKey) + "x/gone", "Extension", ".gone"),
      F(12, 2, std::string(kContentKey) + "x/gone", "CLSID", ""),
      F(17, 0, std::string(kContentKey) + "x/empty")}},
    {"CharacterSets", ecCodePages,
     MIME "Codepage\\1252]\n\"Description\"=\"Western\"\n"
     MIME "Charset\\good]\n\"Codepage\"=dword:000004e4\n"
     MIME "Charset\\alias]\n\"AliasForCharset\"=\"good\"\n"
     MIME "Charset\\text]\n\"Codepage\"=\"1252\"\n"
     MIME "Charset\\short]\n\"InternetEncoding\"=hex(4):e4,04\n"
     MIME "Charset\\gone]\n\"Codepage\"=dword:000004e4\n\"InternetEncoding\"=dword:0000fde9\n"
     MIME "Charset\\badalias]\n\"AliasForCharset\"=\"nothing\"\n"
     MIME "Charset\\blankalias]\n\"AliasForCharset\"=\"\"\n",
     {F(0, 1, std::string(kCharsetKey) + "text", "Codepage", "REG_DWORD"),
      F(0, 1, std::string(kCharsetKey) + "short", "InternetEncoding", "REG_DWORD"),
      F(2, 2, std::string(kCharsetKey) + "gone", "InternetEncoding", "65001"),
      F(1, 2, std::string(kCharsetKey) + "badalias", "AliasForCharset", "nothing"),
      F(1, 2, std::string(kCharsetKey) + "blankalias", "AliasForCharset", "")}},
};

std::set<std::string> Findings(TRegScanner& scanner) {
  std::set<std::string> findings;
  for (int i = 0; i < scanner.ErrorCount(); ++i) {
    const TRegError& f = *scanner.Errors().Item(i);
    findings.insert(F(f.Kind(), f.Action(), f.KeyText(), f.ValueName(), f.Data(), f.View()));
  }
  return findings;
}

class FileTypeChecksTest : public ::testing::TestWithParam<Case> {};

TEST_P(FileTypeChecksTest, ReportsExactlyThePlantedFaults) {
  const Case& c = GetParam();
  reg::testing::FilesInstallation installation({}, c.registry);
  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(testing::Categories({c.category}));
  testing::ScanToEnd(scanner, queue);
  ASSERT_TRUE(scanner.FullScanDone() || scanner.HasResults());
  EXPECT_EQ(Findings(scanner), c.expected);
  if (c.tests >= 0) EXPECT_EQ(scanner.Tests(c.category), c.tests);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileTypeChecksTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// Items left alone still count for the progress: the category reaches 100 % through them.
TEST(FileTypeChecksProgressTest, SkippedNamesAdvanceTheProgress) {
  reg::testing::FilesInstallation installation({}, CLASSES "*]\n" CLASSES ".exe]\n" CLASSES
                                                    ".reg]\n" CLASSES "A B]\n");
  MainThreadQueue queue;
  TRegScanner scanner(queue);
  scanner.SetScanCategories(testing::Categories({ecFileTypes}));
  std::set<std::string> locations;
  int last_percent = -1;
  scanner.OnProgress = [&](const std::string& location, TErrorCategory, int percent, int) {
    locations.insert(location);
    last_percent = percent;
  };
  testing::ScanToEnd(scanner, queue);
  EXPECT_TRUE(locations.count("Software\\Classes\\*"));
  EXPECT_TRUE(locations.count("Software\\Classes\\A B"));
  EXPECT_EQ(last_percent, 100);
  EXPECT_EQ(scanner.ErrorCount(), 0);
}

}  // namespace
}  // namespace hm::scan
