// The software list checks over a small 64-bit installation with planted faults beside valid
// entries of the same shape that must not be reported.
#include "scanner/software_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "registry/files_test_support.h"
#include "scanner/scan_test_support.h"
#include "scanner/scanner.h"

namespace hm::scan {
namespace {

// A "SlowInfoCache" record naming `program`, cut to `size` bytes.
std::string SlowInfoCache(const std::u16string& program, uint32_t has_name,
                          size_t size = kSlowInfoCacheSize) {
  std::string record(kSlowInfoCacheSize, '\0');
  auto put32 = [&](size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<char>(value >> (8 * i));
  };
  put32(0, kSlowInfoCacheSize);
  put32(4, has_name);
  for (size_t i = 0; i < program.size() && 28 + 2 * i + 1 < record.size(); ++i) {
    record[28 + 2 * i] = static_cast<char>(program[i] & 0xFF);
    record[28 + 2 * i + 1] = static_cast<char>(program[i] >> 8);
  }
  record.resize(size);
  return record;
}

// REGEDIT5 binary data: "hex:aa,bb,...".
std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "hex:";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ',';
    out += kDigits[static_cast<uint8_t>(bytes[i]) >> 4];
    out += kDigits[static_cast<uint8_t>(bytes[i]) & 15];
  }
  return out;
}

#define CV "Software\\Microsoft\\Windows\\CurrentVersion\\"
#define HKLM_CV "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
#define HKCU_CV "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"

std::string Lists() {
  return
      // A program not where the default says, but in its "Path" folder: valid.
      HKLM_CV "App Paths\\app.exe]\n@=\"C:\\\\Gone\\\\app.exe\"\n"
      "\"Path\"=\"C:\\\\Program Files\\\\App One\"\n"
      // One folder of several gone (the quoted and the empty element are fine).
      HKLM_CV "App Paths\\tool.exe]\n@=\"C:\\\\Tools\\\\bin\\\\tool.exe\"\n"
      "\"Path\"=\"C:\\\\Tools\\\\bin;C:\\\\Gone\\\\bin;;\\\"C:\\\\Quoted Dir\\\"\"\n"
      // The program and its only folder gone.
      HKLM_CV "App Paths\\gone.exe]\n@=\"C:\\\\Gone\\\\gone.exe\"\n\"Path\"=\"C:\\\\Gone\\\\\"\n"
      // A missing install source on a fixed drive is reported, on a removable one it is not.
      HKLM_CV "Uninstall\\Fixed]\n\"InstallSource\"=\"D:\\\\Setup\\\\\"\n"
      "\"DisplayIcon\"=\"C:\\\\Program Files\\\\App One\\\\app.exe,0\"\n"
      "\"UninstallString\"=\"\\\"C:\\\\Program Files\\\\App One\\\\app.exe\\\" /uninstall\"\n"
      HKLM_CV "Uninstall\\Removable]\n\"InstallSource\"=\"E:\\\\Setup\\\\\"\n"
      "\"UninstallString\"=\"C:\\\\Gone\\\\uninst.exe\"\n"
      // The quiet command is tested only when there is no plain one.
      HKLM_CV "Uninstall\\Quiet]\n\"QuietUninstallString\"=\"C:\\\\Gone\\\\q.exe /S\"\n"
      HKLM_CV "Uninstall\\Both]\n\"UninstallString\"=\"C:\\\\Tools\\\\bin\\\\tool.exe /u\"\n"
      "\"QuietUninstallString\"=\"C:\\\\Gone\\\\q.exe /S\"\n"
      HKLM_CV "App Management\\ARPCache\\Gone]\n\"SlowInfoCache\"=" +
      Hex(SlowInfoCache(u"C:\\Gone\\cached.exe", 1)) + "\n" +
      HKLM_CV "App Management\\ARPCache\\Short]\n\"SlowInfoCache\"=" +
      Hex(SlowInfoCache(u"C:\\Gone\\cached.exe", 1, kSlowInfoCacheSize - 1)) + "\n" +
      HKLM_CV "App Management\\ARPCache\\Unnamed]\n\"SlowInfoCache\"=" +
      Hex(SlowInfoCache(u"C:\\Gone\\cached.exe", 0)) + "\n" +
      // A name outside ASCII, of a file that exists.
      HKLM_CV "App Management\\ARPCache\\Cafe]\n\"SlowInfoCache\"=" +
      Hex(SlowInfoCache(u"C:\\Caf\u00e9\\caf\u00e9.exe", 1)) + "\n" +
      HKLM_CV "Installer\\Folders]\n\"C:\\\\Tools\\\\bin\\\\\"=\"\"\n\"C:\\\\Gone\\\\\"=\"\"\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache]\n"
      "\"LangID\"=hex:09,04\n\"@C:\\\\Gone\\\\res.dll,-5\"=\"Gone resource\"\n"
      "\"@%SystemRoot%\\\\notepad.exe,-1\"=\"Notepad\"\n\"C:\\\\Gone\\\\y.exe\"=\"Y\"\n"
      // Only the machine's RunServices lists are read.
      HKLM_CV "Run]\n\"Gone\"=\"C:\\\\Gone\\\\x.exe -min\"\n\"Tool\"=\"tool.exe\"\n"
      "\"Number\"=dword:00000001\n"
      HKLM_CV "RunServices-]\n\"Gone\"=\"C:\\\\Gone\\\\svc.exe\"\n"
      HKCU_CV "RunServices]\n\"Gone\"=\"C:\\\\Gone\\\\svc.exe\"\n"
      // Shell folders: a folder not made yet is valid, an empty one is not; notes are skipped.
      HKCU_CV "Explorer\\Shell Folders]\n\"!Do not use this key\"=\"\"\n"
      "\"Later\"=\"C:\\\\Not Made Yet\"\n\"Blank\"=\"\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts]\n"
      "\"Good (TrueType)\"=\"good.ttf\"\n\"Gone (TrueType)\"=\"gone.ttf\"\n"
      "\"Full (TrueType)\"=\"C:\\\\Program Files\\\\App One\\\\helper.dll\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help]\n"
      "\"app.exe\"=\"C:\\\\Program Files\\\\App One\\\\\"\n\"gone.hlp\"=\"C:\\\\Gone\"\n"
      "\"bin.hlp\"=hex:00\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Session Manager\\KnownDLLs]\n"
      "\"DllDirectory\"=\"C:\\\\Windows\\\\System32\\\\\"\n\"kernel32\"=\"kernel32.dll\"\n"
      "\"gone\"=\"gone.dll\"\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\SessionManager\\Known16DLLs]\n"
      "\"old\"=\"old16.dll\"\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\InstalledFiles]\n"
      "\"app\"=\"C:\\\\Program Files\\\\App One\\\\app.exe\"\n\"empty\"=\"\"\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\VXD\\GONE]\n"
      "\"StaticVxD\"=\"C:\\\\Gone\\\\gone.vxd\"\n";
}

// "category view kind action root\key \\: value = data" for every stored finding.
std::set<std::string> Findings(TRegScanner& scanner) {
  std::set<std::string> findings;
  for (int i = 0; i < scanner.ErrorCount(); ++i) {
    const TRegError& f = *scanner.Errors().Item(i);
    findings.insert(std::string(CategoryName(f.Category())) + " " + std::to_string(f.View()) +
                    " " + std::to_string(f.Kind()) + " " + std::to_string(f.Action()) + " " +
                    f.KeyText() + "\\\\:" + f.ValueName() + "=" + f.Data());
  }
  return findings;
}

TErrorCategories SoftwareCategories() {
  return testing::Categories({ecAppPaths, ecAddRemoveCache, ecSharedFiles, ecInstalledFiles,
                              ecSessionManagerKnownDLLs, ecVirualDevices, ecStartup,
                              ecShellFolders, ecWindowsFonts, ecHelpFiles, ecHTMLHelp});
}

class SoftwareChecksTest : public ::testing::Test {
 protected:
  static files::HostFiles::Options Drives() {
    files::HostFiles::Options options;
    options.drives = {{'D', fixed_.path(), install::kDriveFixed},
                      {'E', removable_.path(), install::kDriveRemovable}};
    return options;
  }

  // Scans the categories and returns the findings.
  std::set<std::string> Scan(reg::testing::FilesInstallation& installation,
                             TErrorCategories categories) {
    hm::testing::WriteFileBytes(installation.root() / "Windows/Fonts/good.ttf", "x");
    std::filesystem::create_directories(installation.root() / "Caf\u00e9");
    hm::testing::WriteFileBytes(installation.root() / "Caf\u00e9/caf\u00e9.exe", "MZ");
    TRegScanner scanner(queue_);
    scanner.SetScanCategories(categories);
    testing::ScanToEnd(scanner, queue_);
    tests_ = scanner.Tests(ecAddRemoveCache);
    return Findings(scanner);
  }

  static inline hm::testing::TempDir fixed_;
  static inline hm::testing::TempDir removable_;
  MainThreadQueue queue_;
  int tests_ = 0;
};

TEST_F(SoftwareChecksTest, ReportExactlyThePlantedFaults) {
  reg::testing::FilesInstallation installation(Drives(), Lists());
  const std::string lm = "HKLM\\" CV;
  const std::set<std::string> expected = {
      "Application Locations 1 24 3 " + lm + "App Paths\\tool.exe\\\\:Path=C:\\Gone\\bin",
      "Application Locations 1 22 1 " + lm + "App Paths\\gone.exe\\\\:Path=C:\\Gone\\",
      "Application Locations 1 22 1 " + lm + "App Paths\\gone.exe\\\\:=C:\\Gone\\gone.exe",
      "Add/Remove Cache 1 22 1 " + lm + "Uninstall\\Fixed\\\\:InstallSource=D:\\Setup\\",
      "Add/Remove Cache 1 22 0 " + lm +
          "Uninstall\\Removable\\\\:UninstallString=C:\\Gone\\uninst.exe",
      "Add/Remove Cache 1 22 0 " + lm +
          "Uninstall\\Quiet\\\\:QuietUninstallString=C:\\Gone\\q.exe /S",
      "Add/Remove Cache 1 22 0 " + lm +
          "App Management\\ARPCache\\Gone\\\\:SlowInfoCache=C:\\Gone\\cached.exe",
      "Add/Remove Cache 1 22 1 " + lm + "Installer\\Folders\\\\:C:\\Gone\\=C:\\Gone\\",
      // The user's Software key is one key in both views: examined once.
      "Add/Remove Cache 0 11 1 HKCU\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache\\\\:"
      "@C:\\Gone\\res.dll,-5=@C:\\Gone\\res.dll,-5",
      "Add/Remove Cache 0 22 1 HKCU\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache\\\\:"
      "C:\\Gone\\y.exe=C:\\Gone\\y.exe",
      // The fixture's own shared-DLL lists: one missing library in the 32-bit view.
      "Shared DLLs 0 7 1 " + lm + "SharedDLLs\\\\:C:\\Shared\\lib\\gone.dll=",
      "Startup 1 22 1 " + lm + "Run\\\\:Gone=C:\\Gone\\x.exe -min",
      "Startup 1 0 1 " + lm + "Run\\\\:Number=REG_SZ or REG_EXPAND_SZ",
      "Startup 1 22 1 " + lm + "RunServices-\\\\:Gone=C:\\Gone\\svc.exe",
      "Registry Integrity 0 22 1 HKCU\\" CV "Explorer\\Shell Folders\\\\:Blank=",
      "Windows Fonts 0 26 1 HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\\\:"
      "Gone (TrueType)=gone.ttf",
      "Help and Resources 1 8 1 HKLM\\Software\\Microsoft\\Windows\\Help\\\\:gone.hlp=C:\\Gone",
      "Known Drivers 0 22 1 HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs"
      "\\\\:gone=gone.dll",
      "Known Drivers 0 22 1 HKLM\\System\\CurrentControlSet\\Control\\SessionManager\\Known16DLLs"
      "\\\\:old=old16.dll",
      "Installed Files 0 22 1 HKLM\\System\\CurrentControlSet\\Control\\InstalledFiles\\\\:empty=",
      "Virtual Devices 0 22 1 HKLM\\System\\CurrentControlSet\\Services\\VXD\\GONE\\\\:StaticVxD="
      "C:\\Gone\\gone.vxd",
  };
  EXPECT_EQ(Scan(installation, SoftwareCategories()), expected);
}

// Every item counted is stepped through: the scan ends at 100 percent, and the values a list
// skips (empty names, notes, other types) still advance it.
TEST_F(SoftwareChecksTest, StepsThroughEveryCountedItem) {
  reg::testing::FilesInstallation installation(Drives(), Lists());
  TRegScanner scanner(queue_);
  scanner.SetScanCategories(SoftwareCategories());
  int last_total = -1;
  std::set<std::string> steps;
  scanner.OnProgress = [&](const std::string& location, TErrorCategory, int, int total) {
    last_total = total;
    steps.insert(location);
  };
  testing::ScanToEnd(scanner, queue_);
  EXPECT_EQ(last_total, 100);
  // Installer folders step with their last component, shared DLLs with their file name, the
  // interface cache with the name the shell showed.
  for (const char* location : {"Gone", "gone.dll", "Gone resource", "!Do not use this key",
                               "bin.hlp", "LangID"}) {
    EXPECT_EQ(steps.count(location), 1u) << location;
  }
}

// Which tests an uninstall entry gets: none when it may not be removed or has subkeys; the
// source and icon tests but no command test for parts of Windows and installer products.
TEST_F(SoftwareChecksTest, UninstallEntriesAreTestedAsFarAsTheirMarksAllow) {
  const std::string gone =
      "\"InstallSource\"=\"C:\\\\Gone\\\\\"\n\"DisplayIcon\"=\"C:\\\\Gone\\\\a.ico\"\n"
      "\"UninstallString\"=\"C:\\\\Gone\\\\un.exe\"\n";
  const struct {
    const char* marks;
    int tests;
    int findings;
  } kCases[] = {
      {"", 3, 3},
      {"\"NoRemove\"=dword:00000001\n", 0, 0},
      {"\"NoRemove\"=dword:00000000\n", 3, 3},
      {"\"NoRemove\"=\"1\"\n", 3, 3},  // only a number counts
      {"\"SystemComponent\"=dword:00000001\n", 2, 2},
      {"\"WindowsInstaller\"=dword:00000001\n", 2, 2},
  };
  for (const auto& c : kCases) {
    reg::testing::FilesInstallation installation(
        {}, HKLM_CV "Uninstall\\Entry]\n" + gone + c.marks);
    EXPECT_EQ(Scan(installation, testing::Categories({ecAddRemoveCache})).size(),
              static_cast<size_t>(c.findings))
        << c.marks;
    EXPECT_EQ(tests_, c.tests) << c.marks;
  }
  reg::testing::FilesInstallation with_subkey(
      {}, HKLM_CV "Uninstall\\Entry]\n" + gone + HKLM_CV "Uninstall\\Entry\\Part]\n");
  EXPECT_TRUE(Scan(with_subkey, testing::Categories({ecAddRemoveCache})).empty());
  EXPECT_EQ(tests_, 0);
}

TEST(SlowInfoCacheTest, ReadsTheProgramNameInTheCodePage) {
  reg::testing::FilesInstallation installation;  // code page 1252
  const std::u16string full(300, u'x');
  const struct {
    std::string record;
    std::optional<std::string> program;
  } kCases[] = {
      {SlowInfoCache(u"C:\\A\\b.exe", 1), "C:\\A\\b.exe"},
      {SlowInfoCache(u"C:\\A\\b.exe", 0x100), "C:\\A\\b.exe"},
      {SlowInfoCache(u"C:\\A\\b.exe", 0), std::nullopt},
      {SlowInfoCache(u"C:\\A\\b.exe", 1, kSlowInfoCacheSize - 1), std::nullopt},
      {SlowInfoCache(u"C:\\Caf\u00e9\\x.exe", 1), "C:\\Caf\xe9\\x.exe"},
      // Not in the code page: cannot be probed through it.
      {SlowInfoCache(u"C:\\\u65e5\u672c\\x.exe", 1), std::nullopt},
      // A name filling the whole field without a terminator.
      {SlowInfoCache(full, 1), std::string(262, 'x')},
      {SlowInfoCache(u"", 1), ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SlowInfoCacheProgram(c.record), c.program) << c.program.value_or("(none)");
  }
}

}  // namespace
}  // namespace hm::scan
