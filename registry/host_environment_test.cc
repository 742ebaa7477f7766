#include "registry/host_environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/install/builder.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/shell_files.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;

// A 32-bit Windows 7 whose Windows folder is C:\WINNT, without any user profile.
constexpr char kWindows7[] = R"reg(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"="6.1"
"SystemRoot"="C:\\WINNT"

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control\Session Manager\Environment]
"PROCESSOR_ARCHITECTURE"="x86"
)reg";

class Windows7Test : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "sources/registry");
    hm::testing::WriteFileBytes(dir_.path() / "sources/registry/10.reg", kWindows7);
    hm::testing::WriteFileBytes(dir_.path() / "sources/files.txt",
                                "WINNT\\System32\\only.dll size=1\nProgram Files\\App\\a.exe\n");
    ASSERT_TRUE(install::BuildInstallation(dir_.path() / "sources", dir_.path() / "c").ok());
    auto installation = install::Installation::Open(dir_.path() / "c");
    ASSERT_TRUE(installation.ok());
    auto registry = HostRegistry::Open(std::move(installation).value(), {});
    ASSERT_TRUE(registry.ok()) << registry.status().ToString();
    registry_ = std::move(registry).value();
    SetProcessRegistry(registry_.get());
    InitRegistryAccess(*registry_);
    environment_ = HostEnvironment::Build(*registry_);
    auto files = OpenInstallationFiles(registry_->installation(), *environment_, {});
    ASSERT_TRUE(files.ok());
    files_ = std::move(files).value();
    SetProcessFiles(files_.get(), environment_.get());
  }
  void TearDown() override {
    SetProcessFiles(nullptr, nullptr);
    SetProcessRegistry(nullptr);
  }

  hm::testing::TempDir dir_;
  std::unique_ptr<HostRegistry> registry_;
  std::unique_ptr<HostEnvironment> environment_;
  std::unique_ptr<files::HostFiles> files_;
};

TEST_F(Windows7Test, OneViewNoUserAndTheInstallationsOwnWindowsFolder) {
  EXPECT_FALSE(IsWow64());
  EXPECT_EQ(GetSysNativeDir(), "");
  EXPECT_EQ(GetWindowsDirLower(), "c:\\winnt\\");
  EXPECT_EQ(ExpandEnvVars("%windir%|%ProgramFiles%|%PROCESSOR_ARCHITECTURE%", false),
            "C:\\WINNT|C:\\Program Files|x86");
  EXPECT_EQ(ExpandEnvVars("%ProgramW6432%|%ProgramFiles(x86)%|%USERPROFILE%", false),
            "%ProgramW6432%|%ProgramFiles(x86)%|%USERPROFILE%");
  EXPECT_TRUE(FileExistsEx("%SystemRoot%\\System32\\only.dll"));  // no redirector
  EXPECT_TRUE(FileExistsEx("C:\\Program Files\\App\\a.exe"));
  EXPECT_EQ(FindFileOnPath("only.dll", false), "c:\\winnt\\system32\\only.dll");
  EXPECT_EQ(GetSpecialFolder(CSIDL_SYSTEMX86, false), "C:\\WINNT\\system32");
  EXPECT_EQ(GetSpecialFolder(CSIDL_COMMON_APPDATA, false), "C:\\ProgramData");
  EXPECT_EQ(GetLocalAppDataDir(), "");  // per-user folders need a user
  EXPECT_EQ(GetTempDir(), "C:\\WINNT\\");
  EXPECT_EQ(ShellDeleteCode("C:\\Program Files\\App\\a.exe", true), 50);  // no user's bin
  EXPECT_TRUE(FileExistsEx("C:\\Program Files\\App\\a.exe"));
}

TEST(HostEnvironmentTest, ExpansionAsWindowsDoesIt) {
  auto env = HostEnvironment::FromVariables({{"Path", "C:\\bin"}, {"EMPTY", ""}, {"P", "%P%"}});
  EXPECT_EQ(env->Expand("%path%;%PATH%"), "C:\\bin;C:\\bin");
  EXPECT_EQ(env->Expand("[%EMPTY%]"), "[]");
  EXPECT_EQ(env->Expand("%P%"), "%P%");  // one pass: a value is not expanded again
  EXPECT_EQ(env->Expand("%a%b%path%"), "%a%bC:\\bin");
  EXPECT_EQ(env->Expand("%x%path%"), "%xC:\\bin");
  EXPECT_EQ(env->Expand("50%"), "50%");
  EXPECT_EQ(env->Expand("%"), "%");
}

}  // namespace
}  // namespace hm::reg
