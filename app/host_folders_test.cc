#include "app/host_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/testing.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;
using hm::testing::TempDir;

TEST(HostFoldersTest, OnlyAPrivateFolderOfThisUserHoldsLocksAndSockets) {
  TempDir dir;
  const fs::path created = dir / "new";
  ASSERT_TRUE(EnsurePrivateFolder(created).ok());
  struct stat info;
  ASSERT_EQ(::lstat(created.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(EnsurePrivateFolder(created).ok());  // again: it is there and private

  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms::all);
  EXPECT_FALSE(EnsurePrivateFolder(dir / "shared").ok());
  fs::create_directory_symlink(created, dir / "link");
  EXPECT_FALSE(EnsurePrivateFolder(dir / "link").ok());
  hm::testing::WriteFileBytes(dir / "file", "");
  EXPECT_FALSE(EnsurePrivateFolder(dir / "file").ok());
}

TEST(HostFoldersTest, TheChosenInstallationIsRemembered) {
  TempDir dir;
  EXPECT_FALSE(ReadRememberedInstallation(dir / "config"));
  ASSERT_TRUE(RememberInstallation(dir / "config", {false, "/mnt/win dows", "ann"}).ok());
  auto remembered = ReadRememberedInstallation(dir / "config");
  ASSERT_TRUE(remembered);
  EXPECT_FALSE(remembered->demo);
  EXPECT_EQ(remembered->root, fs::path("/mnt/win dows"));
  EXPECT_EQ(remembered->user, "ann");

  ASSERT_TRUE(RememberInstallation(dir / "config", {true, {}, ""}).ok());
  remembered = ReadRememberedInstallation(dir / "config");
  ASSERT_TRUE(remembered);
  EXPECT_TRUE(remembered->demo);
  EXPECT_EQ(remembered->user, "");
  // A path that would not read back is refused, and the last choice stays.
  EXPECT_FALSE(RememberInstallation(dir / "config", {false, "/mnt/a\nroot=/etc", ""}).ok());
  EXPECT_TRUE(ReadRememberedInstallation(dir / "config")->demo);
}

}  // namespace
}  // namespace hm::app
