// A small 64-bit Windows 10 installation for the tests of the path utilities and the shell
// file operations, installed as the process's registry, files and environment for as long as
// it lives. Test code only; not thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/host_files.h"
#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "registry/host_environment.h"
#include "registry/host_registry.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::reg::testing {

inline constexpr char kUserSid[] = "S-1-5-21-1000-2000-3000-1001";

// REG_EXPAND_SZ data as a REGEDIT5 line: "hex(2):..".
inline std::string ExpandSz(const std::u16string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "hex(2):";
  std::u16string terminated = text + u'\0';
  for (size_t i = 0; i < terminated.size(); ++i) {
    for (int shift : {0, 8}) {
      const unsigned byte = (terminated[i] >> shift) & 0xFF;
      if (out.size() > 7) out += ',';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

inline std::string InstallationRegistry() {
  return std::string(R"reg(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"="6.3"
"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000
"SystemRoot"="C:\\Windows"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList]
"ProgramData"=)reg") +
         ExpandSz(u"%SystemDrive%\\ProgramData") + R"reg(

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1000-2000-3000-1001]
"ProfileImagePath"=)reg" +
         ExpandSz(u"%SystemDrive%\\Users\\ann") + R"reg(

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"
"CommonFilesDir"="C:\\Program Files\\Common Files"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramW6432Dir"="C:\\Program Files"
"CommonW6432Dir"="C:\\Program Files\\Common Files"

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\Shared\\lib\\Shared1.dll"=dword:00000001
"C:\\Shared\\lib\\gone.dll"=dword:00000001

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls]
"C:\\Shared\\lib64\\shared64.dll"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control\ComputerName\ComputerName]
"ComputerName"="TESTPC"

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control\Session Manager\Environment]
"PROCESSOR_ARCHITECTURE"="AMD64"
"Path"=)reg" +
         ExpandSz(u"%SystemRoot%\\system32;C:\\Tools\\bin;;\"C:\\Quoted Dir\"") + R"reg(
"TEMP"=)reg" +
         ExpandSz(u"%SystemRoot%\\TEMP") + R"reg(

[HKEY_CURRENT_USER\Environment]
"Path"=)reg" +
         ExpandSz(u"%USERPROFILE%\\AppData\\Local\\Notes") + R"reg(
"TEMP"=)reg" +
         ExpandSz(u"%USERPROFILE%\\AppData\\Local\\Temp") + R"reg(
"TMP"=)reg" +
         ExpandSz(u"%USERPROFILE%\\AppData\\Local\\Temp") + R"reg(

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]
"Local AppData"=)reg" +
         ExpandSz(u"%USERPROFILE%\\AppData\\Local") + R"reg(
"Personal"=)reg" +
         ExpandSz(u"%USERPROFILE%\\My Documents") + R"reg(

[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders]
"Personal"="C:\\Users\\ann\\Stale Documents"

[HKEY_CURRENT_USER\Control Panel\International]
"sDecimal"=","
"sThousand"="."
)reg";
}

inline constexpr char kInstallationFiles[] = R"reg(Windows\System32\kernel32.dll size=10
Windows\System32\rundll32.exe size=10
Windows\System32\only64.exe size=10
Windows\System32\drivers\etc\hosts size=10
Windows\SysWOW64\kernel32.dll size=10
Windows\SysWOW64\only32.dll size=10
Windows\notepad.exe size=10
Windows\Fonts\
Program Files\App One\app.exe size=10
Program Files\App One\helper.dll size=10
Program Files\Common Files\Shared\common.dll size=10
Program Files (x86)\Old App\old.exe size=10
Tools\bin\tool.exe size=10
Quoted Dir\q.exe size=10
Users\ann\AppData\Local\Notes\notes.exe size=10
Users\ann\AppData\Local\Temp\
Users\ann\My Documents\
Shared\lib\shared1.dll size=10
Shared\lib64\shared64.dll size=10
Old App\
x.dll size=10
ProgramData\
)reg";

class FilesInstallation {
 public:
  // `options` brings extra drive and folder mappings; `extra_registry` (REGEDIT5 text without
  // its header) is applied after the installation's own.
  explicit FilesInstallation(files::HostFiles::Options options = {},
                             const std::string& extra_registry = "") {
    std::filesystem::create_directories(dir_.path() / "sources/registry");
    hm::testing::WriteFileBytes(dir_.path() / "sources/registry/10.reg", InstallationRegistry());
    if (!extra_registry.empty()) {
      hm::testing::WriteFileBytes(dir_.path() / "sources/registry/20.reg",
                                  "Windows Registry Editor Version 5.00\n\n" + extra_registry);
    }
    hm::testing::WriteFileBytes(dir_.path() / "sources/files.txt", kInstallationFiles);
    Status built = install::BuildInstallation(dir_.path() / "sources", root());
    EXPECT_TRUE(built.ok()) << built.ToString();
    auto installation = install::Installation::Open(root());
    EXPECT_TRUE(installation.ok()) << installation.status().ToString();
    if (!installation.ok()) return;
    auto registry = HostRegistry::Open(std::move(installation).value(), {});
    EXPECT_TRUE(registry.ok()) << registry.status().ToString();
    if (!registry.ok()) return;
    registry_ = std::move(registry).value();
    SetProcessRegistry(registry_.get());
    InitRegistryAccess(*registry_);
    environment_ = HostEnvironment::Build(*registry_);
    auto files = OpenInstallationFiles(registry_->installation(), *environment_, options);
    EXPECT_TRUE(files.ok()) << files.status().ToString();
    if (!files.ok()) return;
    files_ = std::move(files).value();
    SetProcessFiles(files_.get(), environment_.get());
  }
  ~FilesInstallation() {
    SetProcessFiles(nullptr, nullptr);
    SetProcessRegistry(nullptr);
  }

  std::filesystem::path root() const { return dir_.path() / "c"; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  HostRegistry& registry() { return *registry_; }
  const HostEnvironment& environment() { return *environment_; }
  files::HostFiles& files() { return *files_; }

 private:
  hm::testing::TempDir dir_;
  std::unique_ptr<HostRegistry> registry_;
  std::unique_ptr<HostEnvironment> environment_;
  std::unique_ptr<files::HostFiles> files_;
};

}  // namespace hm::reg::testing
