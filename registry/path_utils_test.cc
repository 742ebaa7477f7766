#include "registry/path_utils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "registry/files_test_support.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;
using testing::FilesInstallation;

// --- Text helpers (no installation needed) ---

TEST(PathTextTest, Tokens) {
  int pos = 1;
  EXPECT_EQ(GetNextToken("   word rest", &pos, ' '), "word");
  EXPECT_EQ(pos, 9);
  EXPECT_EQ(GetNextToken("   word rest", &pos, ' '), "rest");
  EXPECT_EQ(pos, 13);
  EXPECT_EQ(GetNextToken("   word rest", &pos, ' '), "");
  pos = 1;
  EXPECT_EQ(GetNextToken("a,,b", &pos, ','), "a");
  EXPECT_EQ(GetNextToken("a,,b", &pos, ','), "");
  EXPECT_EQ(GetNextToken("a,,b", &pos, ','), "b");
  EXPECT_EQ(pos, 5);
  pos = 1;
  const char* numbers = "12,-7,x,99999999999999,+3";
  std::vector<int32_t> read;
  for (int i = 0; i < 5; ++i) read.push_back(GetNextIntToken(numbers, &pos, ','));
  EXPECT_EQ(read, (std::vector<int32_t>{12, -7, 0, 0, 3}));
}

TEST(PathTextTest, QuotesCommasAndSets) {
  EXPECT_EQ(StripQuotes("\""), "\"");
  EXPECT_EQ(StripQuotes("\"\""), "");
  EXPECT_EQ(StripQuotes("\"C:\\a b\""), "C:\\a b");
  EXPECT_EQ(StripQuotes("\"C:\\a b"), "\"C:\\a b");
  EXPECT_EQ(FindCharOfSet(1, "C:\\a b", " \\"), 3);
  EXPECT_EQ(FindCharOfSet(4, "C:\\a b", " \\"), 5);
  EXPECT_EQ(FindCharOfSet(6, "C:\\a b", " \\"), 0);
  std::string path, args;
  SplitCommaArgs("\"C:\\x,y\\app.exe\"", &path, &args);
  EXPECT_EQ(path, "\"C:\\x");  // the last comma decides, quotes or not
  EXPECT_EQ(args, "y\\app.exe\"");
  SplitCommaArgs(" \"C:\\app.exe\" , -3 ", &path, &args);
  EXPECT_EQ(path, "C:\\app.exe");
  EXPECT_EQ(args, "-3");
  SplitCommaArgs("C:\\app.exe", &path, &args);
  EXPECT_EQ(path, "C:\\app.exe");
  EXPECT_EQ(args, "");
  EXPECT_EQ(StripCommaArgs("shell32.dll,-21"), "shell32.dll");
  EXPECT_TRUE(IsValidPathText("C:\\a*b?:/"));
  EXPECT_FALSE(IsValidPathText("C:\\a|b"));
  EXPECT_FALSE(IsValidPathText(std::string("C:\\a\tb")));
  EXPECT_TRUE(IsValidFileNameText("app (1).exe"));
  EXPECT_FALSE(IsValidFileNameText("a:b"));
  EXPECT_FALSE(IsValidFileNameText("a\\b"));
}

TEST(PathTextTest, SplitLists) {
  auto split = [](std::string data) {
    std::vector<std::string> list;
    SplitOutsideQuotes(data.data(), data.size(), &list);
    return list;
  };
  using List = std::vector<std::string>;
  EXPECT_EQ(split(std::string("a;\"b;c\";d\0", 10)), (List{"a", "\"b;c\"", "d"}));
  EXPECT_EQ(split(std::string("a;;b\0", 5)), (List{"a", "", "b"}));
  EXPECT_EQ(split(std::string("a;\0", 3)), (List{"a"}));
  // Data stored without its terminating NUL keeps its last character.
  EXPECT_EQ(split("C:\\a;C:\\b"), (List{"C:\\a", "C:\\b"}));
  EXPECT_EQ(split(std::string("x\0y;z\0", 6)), (List{"x", "z"}));

  std::vector<std::string> multi;
  std::string data("one\0two\0\0three\0", 16);
  SplitMultiSz(data.data(), data.size(), &multi);
  EXPECT_EQ(multi, (List{"one", "two"}));
  multi.clear();
  SplitMultiSz("unterminated", 12, &multi);
  EXPECT_EQ(multi, (List{"unterminated"}));
}

TEST(PathTextTest, ByteSizes) {
  struct Case {
    int64_t size;
    const char* text;
  } cases[] = {
      {0, "0 B"},
      {1024, "1024 B"},
      {1025, "1 KB"},
      {1048576, "1024 KB"},
      {1048577, "1.00 MB"},
      {1073741824, "1,024.00 MB"},
      {1073741825, "1.00 GB"},
      {5 * 1048576 + 5 * 10486, "5.05 MB"},  // 5.0500... rounds to 5.05
      {3276800, "3.13 MB"},                  // exactly 3.125: half away from zero
      {int64_t{1} << 62, "4,294,967,296.00 GB"},
      {-5, "-5 B"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.size, '.', ','), c.text) << c.size;
  EXPECT_EQ(FormatByteSize(1073741824, ',', '.'), "1.024,00 MB");
}

TEST(PathTextTest, WideToUtf8) {
  std::string bytes = "old";
  EXPECT_TRUE(WideToUtf8(u"Größe", &bytes));
  EXPECT_EQ(bytes,
            "Gr\xC3\xB6\xC3\x9F"
            "e");
  EXPECT_FALSE(WideToUtf8(u"", &bytes));
}

// --- Against an installation ---

class PathUtilsTest : public ::testing::Test {
 protected:
  static files::HostFiles::Options Drives() {
    files::HostFiles::Options options;
    options.drives = {{'D', mapped_.path(), install::kDriveFixed},
                      {'E', mapped_.path(), install::kDriveRemovable},
                      {'N', mapped_.path(), install::kDriveRemote}};
    return options;
  }
  static void SetUpTestSuite() { hm::testing::WriteFileBytes(mapped_.path() / "data.txt", "x"); }

  // ProbePath's result and the path it leaves.
  static std::string Probe(std::string path) {
    int kind = ProbePath(&path);
    return std::to_string(kind) + " " + path;
  }

  static inline hm::testing::TempDir mapped_;
  FilesInstallation installation_{Drives()};
};

TEST_F(PathUtilsTest, ProbePathGrowsPrefixes) {
  struct Case {
    const char* text;
    const char* result;
  } cases[] = {
      {"C:\\Program Files\\App One\\app.exe -min", "1 C:\\Program Files\\App One\\app.exe"},
      {"\"C:\\Program Files\\App One\\app.exe\" /x", "1 C:\\Program Files\\App One\\app.exe"},
      {"C:\\Program Files\\App One\\app.exe,0", "1 C:\\Program Files\\App One\\app.exe"},
      {"rundll32 c:\\x.dll,Entry", "1 c:\\x.dll"},
      {"rundll32.exe C:\\x.dll", "1 C:\\x.dll"},
      {"C:\\Old App\\ /x", "2 C:\\Old App"},
      {"C:\\Program Files\\App One", "2 C:\\Program Files\\App One"},
      {"C:\\Program Files\\App One\\gone.exe -min", "0 C:\\Program Files\\App One\\gone.exe -min"},
      {"C:\\Program Files\\App One\\app.exe*", "1 C:\\Program Files\\App One\\app.exe"},
      {"notepad.exe", "0 notepad.exe"},
      {"D:\\data.txt", "1 D:\\data.txt"},
      {"E:\\data.txt", "0 E:\\data.txt"},  // removable: only the drive type is asked
      {"N:\\data.txt", "0 N:\\data.txt"},  // network
      {"Q:\\data.txt", "0 Q:\\data.txt"},  // no such drive
      {"\\\\server\\share\\data.txt", "0 \\\\server\\share\\data.txt"},
      {"open E:\\data.txt", "0 E:\\data.txt"},
      {"C:\\Windows\\System32\\only32.dll", "1 C:\\Windows\\System32\\only32.dll"},
      {"C:\\Windows\\System32\\only64.exe", "0 C:\\Windows\\System32\\only64.exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(Probe(c.text), c.result) << c.text;

  FsRedirectionToken token = DisableFsRedirection();
  EXPECT_EQ(Probe("C:\\Windows\\System32\\only32.dll"), "0 C:\\Windows\\System32\\only32.dll");
  EXPECT_EQ(Probe("C:\\Windows\\System32\\only64.exe"), "1 C:\\Windows\\System32\\only64.exe");
  RevertFsRedirection(token);
}

TEST_F(PathUtilsTest, RemovableAndNetworkDrivesAreNeverTouched) {
  installation_.files().DropCache();
  std::string path = "E:\\data.txt";
  EXPECT_EQ(ProbePath(&path), 0);
  path = "N:\\data.txt";
  EXPECT_EQ(ProbePath(&path), 0);
  EXPECT_EQ(installation_.files().cache_stats().folders_listed, 0u);
}

TEST_F(PathUtilsTest, ExistenceTestsTryBothViews) {
  EXPECT_TRUE(FileExistsEx("%ProgramFiles%\\App One\\app.exe"));   // found in the 64-bit view
  EXPECT_TRUE(FileExistsEx("C:\\Windows\\System32\\only64.exe"));  // redirection off
  EXPECT_TRUE(FileExistsEx("%windir%\\notepad.exe /p"));
  EXPECT_FALSE(FileExistsEx("C:\\Program Files\\App One"));
  EXPECT_FALSE(FileExistsEx("C:\\gone.exe"));
  EXPECT_TRUE(FolderExistsEx("\"C:\\Old App\""));
  EXPECT_TRUE(FolderExistsEx("%CommonProgramFiles%\\Shared"));
  EXPECT_FALSE(FolderExistsEx("C:\\Program Files\\App One\\app.exe"));
  EXPECT_FALSE(FsRedirectionDisabled());  // every probe reverted what it disabled

  EXPECT_TRUE(PathExistsEx("C:\\Program Files\\Old App\\old.exe", true));        // (x86) swapped in
  EXPECT_TRUE(PathExistsEx("C:\\PROGRAM FILES (X86)\\App One\\app.exe", true));  // and out
  EXPECT_TRUE(PathExistsEx("relative\\thing.dll", true));
  EXPECT_FALSE(PathExistsEx("relative\\thing.dll", false));
  EXPECT_FALSE(PathExistsEx("C:\\Program Files\\Gone\\x.exe", true));
  EXPECT_TRUE(PathExistsEx("%SystemRoot%\\System32\\only64.exe", true));
}

TEST_F(PathUtilsTest, FindFileOnPathSearchesFoldersAndSharedDlls) {
  struct Case {
    const char* text;
    bool use64;
    const char* found;
  } cases[] = {
      {"kernel32.dll", false, "c:\\windows\\system32\\kernel32.dll"},
      {"notepad.exe", false, "c:\\windows\\notepad.exe"},
      {"x.dll", false, "c:\\x.dll"},
      {"tool.exe", false, "C:\\Tools\\bin\\tool.exe"},
      {"q.exe", false, "C:\\Quoted Dir\\q.exe"},  // a quoted PATH entry
      {"notes.exe", false, "C:\\Users\\ann\\AppData\\Local\\Notes\\notes.exe"},  // user PATH
      {"SHARED1.DLL", false, "C:\\Shared\\lib\\Shared1.dll"},  // 32-bit shared-DLL list
      {"shared64.dll", false, ""},
      {"shared64.dll", true, "C:\\Shared\\lib64\\shared64.dll"},
      {"gone.dll", false, ""},
      {"\"C:\\x.dll", false, "C:\\x.dll"},
      {"C:\\gone\\x.dll", false, ""},
      {"%ProgramFiles%\\App One\\app.exe", true, "C:\\Program Files\\App One\\app.exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(FindFileOnPath(c.text, c.use64), c.found) << c.text;
  EXPECT_EQ(FindFileOnPathAnyView("only64.exe"), "c:\\windows\\system32\\only64.exe");
  EXPECT_TRUE(FileIsOnPath("only64.exe"));
  EXPECT_FALSE(FileIsOnPath(""));
  EXPECT_FALSE(FileIsOnPath("gone.exe"));
}

TEST_F(PathUtilsTest, CommandLines) {
  struct Extract {
    const char* command;
    const char* program;
  } extracts[] = {
      {"\"C:\\Program Files\\App One\\app.exe\" -x", "C:\\Program Files\\App One\\app.exe"},
      {"C:\\Program Files\\App One\\app.exe -x", "C:\\Program"},
      {"\"C:\\Program Files\\App One\\app.exe -x", "C:\\Program"},
      {"rundll32 c:\\x.dll,Entry", "c:\\x.dll,Entry"},
      {"notepad.exe %1", "notepad.exe"},
      {"app.exe/s", "app.exe"},
  };
  for (const Extract& e : extracts) EXPECT_EQ(ExtractCommandPath(e.command), e.program);

  struct Target {
    const char* command;
    bool exists;
  } targets[] = {
      {"", true},
      {"explorer.exe /e,C:\\gone", true},
      {"\"C:\\Program Files\\App One\\\"", true},  // a folder: not judged
      {"C:\\di\tr\\a.exe", true},                  // not a path: not judged
      {"C:\\Program Files\\App One\\app.exe -min", true},
      {"C:\\Program Files\\App One\\gone.exe -min", false},
      {"\"C:\\Program Files\\App One\\gone.exe\"", false},
      {"rundll32 c:\\x.dll,Entry", true},
      {"rundll32 c:\\gone.dll,Entry", false},
      {"C:\\Windows\\System32\\rundll32.exe shell32.dll,Control_RunDLL", true},
      {"C:\\Missing\\rundll32.exe shell32.dll,Control_RunDLL", false},
      {"notepad", true},  // ".exe" added
      {"notepad /p x.txt", true},
      {"gone /p", false},
      {"tool", true},
  };
  for (const Target& t : targets) EXPECT_EQ(CommandTargetExists(t.command), t.exists) << t.command;
  EXPECT_TRUE(CommandTargetExistsAnyView("%ProgramFiles%\\App One\\app.exe /s"));
  EXPECT_FALSE(CommandTargetExistsAnyView("%ProgramFiles%\\App One\\gone.exe /s"));
}

TEST_F(PathUtilsTest, KnownProgramNamesNeedNoFileAccess) {
  for (const char* command : {"%1", "rundll32", "svchost -k netsvcs", "vmware", "iexplore.exe"}) {
    installation_.files().DropCache();
    EXPECT_TRUE(CommandTargetExists(command)) << command;
    EXPECT_EQ(installation_.files().cache_stats().folders_listed, 0u) << command;
  }
}

TEST_F(PathUtilsTest, EnvironmentOfTheInstallation) {
  struct Case {
    const char* text;
    bool use64;
    const char* expanded;
  } cases[] = {
      {"%SystemRoot%\\x", false, "C:\\Windows\\x"},
      {"%WINDIR%", false, "C:\\Windows"},
      {"%ProgramFiles%", false, "C:\\Program Files (x86)"},
      {"%ProgramFiles%|%PROGRAMFILES%", true, "C:\\Program Files|C:\\Program Files"},
      {"%CommonProgramFiles%", false, "C:\\Program Files (x86)\\Common Files"},
      {"%commonprogramfiles%", true, "C:\\Program Files\\Common Files"},
      {"%ProgramFiles(x86)%", false, "C:\\Program Files (x86)"},
      {"%ProgramData%;%ALLUSERSPROFILE%", false, "C:\\ProgramData;C:\\ProgramData"},
      {"%USERPROFILE%", false, "C:\\Users\\ann"},
      {"%APPDATA%", false, "C:\\Users\\ann\\AppData\\Roaming"},
      {"%LOCALAPPDATA%", false, "C:\\Users\\ann\\AppData\\Local"},
      {"%TEMP%", false, "C:\\Users\\ann\\AppData\\Local\\Temp"},  // the user's wins
      {"%COMPUTERNAME% %USERNAME%", false, "TESTPC ann"},
      {"%PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%", false, "x86 AMD64"},
      {"%unknown%", false, "%unknown%"},
      {"%unknown%SystemRoot%", false, "%unknownC:\\Windows"},
      {"100% sure", false, "100% sure"},
      {"%%", false, "%%"},
      {"", false, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandEnvVars(c.text, c.use64), c.expanded) << c.text;
  EXPECT_EQ(ExpandEnvVars("%PATH%", false),
            "C:\\Windows\\system32;C:\\Tools\\bin;;\"C:\\Quoted Dir\";"
            "C:\\Users\\ann\\AppData\\Local\\Notes");
}

TEST_F(PathUtilsTest, Folders) {
  EXPECT_EQ(GetSystemDirLower(), "c:\\windows\\system32\\");
  EXPECT_EQ(GetWindowsDirLower(), "c:\\windows\\");
  EXPECT_EQ(GetTempDir(), "C:\\Users\\ann\\AppData\\Local\\Temp\\");
  EXPECT_EQ(GetSysNativeDir(), "C:\\Windows\\SysNative\\");
  EXPECT_TRUE(FileExists(GetSysNativeDir() + "only64.exe"));
  EXPECT_EQ(GetLocalAppDataDir(), "C:\\Users\\ann\\AppData\\Local");
  EXPECT_EQ(GetAppDataDir(), "C:\\Users\\ann\\AppData\\Roaming");
  EXPECT_EQ(GetCommonAppDataDir(), "C:\\ProgramData");
  struct Case {
    int csidl;
    const char* path;
  } cases[] = {
      {CSIDL_WINDOWS, "C:\\Windows"},
      {CSIDL_SYSTEM, "C:\\Windows\\system32"},
      {CSIDL_SYSTEMX86, "C:\\Windows\\SysWOW64"},
      {CSIDL_FONTS, "C:\\Windows\\Fonts"},
      {CSIDL_PROGRAM_FILES, "C:\\Program Files (x86)"},
      {CSIDL_PROGRAM_FILES_COMMON, "C:\\Program Files (x86)\\Common Files"},
      {CSIDL_PERSONAL, "C:\\Users\\ann\\My Documents"},  // User Shell Folders wins
      {CSIDL_PROFILE, "C:\\Users\\ann"},
      {CSIDL_RECENT, "C:\\Users\\ann\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
      {CSIDL_COMMON_PROGRAMS, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {CSIDL_COMMON_DESKTOPDIRECTORY, "C:\\Users\\Public\\Desktop"},
      {0x7F, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(GetSpecialFolder(c.csidl, false), c.path) << c.csidl;

  EXPECT_FALSE(fs::exists(installation_.root() / "Users/ann/AppData/Roaming/Microsoft"));
  std::string path;
  ASSERT_TRUE(GetSpecialFolderPath(nullptr, &path, CSIDL_STARTUP | CSIDL_FLAG_CREATE, false));
  EXPECT_TRUE(DirectoryExists(path));
  EXPECT_TRUE(
      fs::is_directory(installation_.root() /
                       "Users/ann/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Startup"));
  EXPECT_EQ(FormatByteSize(1073741824), "1.024,00 MB");  // the user's number format
}

TEST_F(PathUtilsTest, DevicePaths) {
  struct Case {
    const char* device_path;
    const char* dos_path;
  } cases[] = {
      {"\\Device\\HarddiskVolume2\\Windows\\System32\\config\\SOFTWARE",
       "C:\\Windows\\System32\\config\\SOFTWARE"},
      {"\\device\\harddiskvolume2\\x", "C:\\x"},
      {"\\Device\\HarddiskVolume3\\data.txt", "D:\\data.txt"},
      {"\\Device\\HarddiskVolume2", "C:"},
      {"\\Device\\HarddiskVolume21\\x", "\\Device\\HarddiskVolume21\\x"},
      {"\\REGISTRY\\MACHINE", "\\REGISTRY\\MACHINE"},
  };
  for (const Case& c : cases) EXPECT_EQ(DevicePathToDosPath(c.device_path), c.dos_path);
  // The hive list the registry serves names files this maps back to existing files.
  std::string software = DevicePathToDosPath(std::string(HostRegistry::kSystemVolumeDevice) +
                                             "\\Windows\\System32\\config\\SOFTWARE");
  FsRedirectionToken token = DisableFsRedirection();
  EXPECT_TRUE(FileExists(software));
  RevertFsRedirection(token);
}

TEST_F(PathUtilsTest, RedirectionIsAStateOfEachThread) {
  std::atomic<int> wrong{0};
  auto prober = [&](bool native) {
    FsRedirectionToken token{};
    if (native) token = DisableFsRedirection();
    for (int i = 0; i < 2000; ++i) {
      if (FileExists("C:\\Windows\\System32\\only64.exe") != native) ++wrong;
      if (FileExists("C:\\Windows\\System32\\only32.dll") == native) ++wrong;
    }
    if (native) RevertFsRedirection(token);
  };
  std::thread native(prober, true), redirected(prober, false);
  std::thread dropper([&] {
    for (int i = 0; i < 200; ++i) installation_.files().DropCache();
  });
  native.join();
  redirected.join();
  dropper.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(PathUtilsTest, TextsEndAtTheirFirstNulAsCStringsDo) {
  EXPECT_TRUE(FileExists(std::string("C:\\x.dll\0garbage", 17)));
  EXPECT_EQ(ExpandEnvVars(std::string("%windir%\0%windir%", 17), false), "C:\\Windows");
  EXPECT_EQ(GetDriveTypeA(std::string("C:\0D:", 5)), install::kDriveFixed);
}

TEST_F(PathUtilsTest, LongPathsFailAsForTheAnsiFunctions) {
  std::string path = "C:\\" + std::string(300, 'a');
  EXPECT_EQ(GetFileAttributesA(path), files::kInvalidFileAttributes);
  EXPECT_EQ(GetFileAttributesA(path.substr(0, 255)), files::kInvalidFileAttributes);
  // A probe of a long text with many break characters stays cheap and finds the real file.
  std::string text = "C:\\x.dll" + std::string(50000, ' ') + "tail";
  EXPECT_EQ(ProbePath(&text), 1);
  EXPECT_EQ(text, "C:\\x.dll");
  text = "C:\\gone.dll" + std::string(50000, ' ') + "tail";
  EXPECT_EQ(ProbePath(&text), 0);
}

}  // namespace
}  // namespace hm::reg
