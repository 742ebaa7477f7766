// A small Windows installation for the tests of this folder: 64-bit Windows 10 with one user
// "ann" whose profile folder exists. Used by tests only.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/install/builder.h"
#include "tests/support/testing.h"

namespace hm::app::testing {

inline constexpr char kAnnSid[] = "S-1-5-21-1000-2000-3000-1001";

inline constexpr char kWindows10Sources[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control]
"Set"="one"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000
"CurrentVersion"="6.3"
"SystemRoot"="C:\\WINDOWS"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1000-2000-3000-1001]
"ProfileImagePath"="%SystemDrive%\\Users\\ann"

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Vendor]
"Bits"="32"

[HKEY_CURRENT_USER\Software\Demo]
"Name"="ann"
)";

// Builds an installation from `registry_text` (one .reg file) and `files` (files.txt) into
// `dir`/c and returns its root.
inline std::filesystem::path BuildTestInstallation(
    const hm::testing::TempDir& dir, const std::string& registry_text = kWindows10Sources,
    const std::string& files = "Users\\ann\\\n") {
  const std::filesystem::path sources = dir / "sources";
  std::filesystem::create_directories(sources / "registry");
  hm::testing::WriteFileBytes(sources / "registry" / "10.reg", registry_text);
  hm::testing::WriteFileBytes(sources / "files.txt", files);
  const std::filesystem::path root = dir / "c";
  Status built = install::BuildInstallation(sources, root);
  EXPECT_TRUE(built.ok()) << built.ToString();
  return root;
}

}  // namespace hm::app::testing
