#include "platform/install/installation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/hive/hive.h"
#include "platform/install/builder.h"
#include "platform/install/reg_data.h"
#include "platform/install/win_path.h"
#include "tests/support/testing.h"

namespace hm::install {
namespace {

namespace fs = std::filesystem;
using hm::testing::TempDir;

void Touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  hm::testing::WriteFileBytes(file, "x");
}

// root/ holds a small tree; outside/ lies next to it and must never be reached from root/.
class WinPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path() / "root";
    Touch(root_ / "Windows/System32/config/SYSTEM");
    Touch(root_ / "Users/demo/notes.txt");
    Touch(dir_.path() / "outside/secret.txt");
    fs::create_directory_symlink(dir_.path() / "outside", root_ / "escape");
    fs::create_directory_symlink("../../outside", root_ / "Users/relative-escape");
    fs::create_directory_symlink("../Users", root_ / "Windows/Profiles");
    fs::create_symlink(root_ / "nowhere", root_ / "dangling");
  }

  TempDir dir_;
  fs::path root_;
};

TEST_F(WinPathTest, ResolvesWithoutRegardToCaseAndNeverLeavesTheRoot) {
  const struct {
    const char* windows_path;
    const char* host_path;  // below root_; nullptr: not found with `code`
    uint32_t code;
  } kCases[] = {
      {"windows\\SYSTEM32\\Config\\system", "Windows/System32/config/SYSTEM", 0},
      {"C:\\Windows\\System32", "Windows/System32", 0},
      {"c:/users/DEMO/Notes.TXT", "Users/demo/notes.txt", 0},
      {"\\Users\\.\\demo\\", "Users/demo", 0},
      {"Windows\\..\\Users\\demo", "Users/demo", 0},
      {"Windows\\Profiles\\demo\\notes.txt", "Windows/Profiles/demo/notes.txt", 0},
      {"..\\outside\\secret.txt", nullptr, kErrorPathNotFound},
      {"Windows\\..\\..\\outside", nullptr, kErrorPathNotFound},
      {"escape\\secret.txt", nullptr, kErrorPathNotFound},
      {"escape", nullptr, kErrorFileNotFound},
      {"users\\relative-escape\\secret.txt", nullptr, kErrorPathNotFound},
      {"dangling", nullptr, kErrorFileNotFound},
      {"D:\\Windows", nullptr, kErrorPathNotFound},
      {"\\\\server\\share\\x", nullptr, kErrorPathNotFound},
      {"Windows\\nothing", nullptr, kErrorFileNotFound},
      {"Windows\\nothing\\x", nullptr, kErrorPathNotFound},
      {"Users\\demo\\notes.txt\\x", nullptr, kErrorPathNotFound},
  };
  for (const auto& c : kCases) {
    Result<fs::path> resolved = ResolveWindowsPath(root_, c.windows_path);
    if (c.host_path != nullptr) {
      ASSERT_TRUE(resolved.ok()) << c.windows_path << ": " << resolved.status().ToString();
      EXPECT_EQ(resolved.value(), root_ / c.host_path) << c.windows_path;
    } else {
      ASSERT_FALSE(resolved.ok()) << c.windows_path << " -> " << resolved.value();
      EXPECT_EQ(resolved.status().code(), c.code) << c.windows_path;
    }
  }
}

TEST_F(WinPathTest, ExactSpellingWinsOverOtherCaseOnACaseSensitiveDisk) {
  Touch(root_ / "Data/a");
  Touch(root_ / "data/b");
  EXPECT_EQ(ResolveWindowsPath(root_, "data\\b").value(), root_ / "data/b");
  EXPECT_EQ(ResolveWindowsPath(root_, "DATA\\a").value(), root_ / "Data/a");  // first by byte order
}

TEST_F(WinPathTest, NonAsciiNamesMatchWithoutRegardToCase) {
  Touch(root_ / "Users/Ärger/Übung.txt");
  EXPECT_EQ(ResolveWindowsPath(root_, "users\\ärger\\ÜBUNG.TXT").value(),
            root_ / "Users/Ärger/Übung.txt");
}

TEST_F(WinPathTest, MappingForCreationKeepsExistingNamesAndStaysInside) {
  EXPECT_EQ(MapWindowsPath(root_, "WINDOWS\\system32\\New Folder\\a.txt").value(),
            root_ / "Windows/System32/New Folder/a.txt");
  EXPECT_FALSE(MapWindowsPath(root_, "..\\x").ok());
  EXPECT_FALSE(MapWindowsPath(root_, "escape\\new.txt").ok());
  EXPECT_FALSE(MapWindowsPath(root_, "Users\\demo\\notes.txt\\x").ok());
}

TEST(InstallationOpenTest, RefusesWhatIsNoInstallationWithOneClearLine) {
  TempDir dir;
  Touch(dir / "half/Windows/System32/config/SYSTEM");
  Touch(dir / "a-file");
  const struct {
    std::string root;
    std::string message;
  } kCases[] = {
      {(dir / "empty").string(), "/empty does not exist"},
      {(dir / "a-file").string(), "/a-file is not a Windows installation: it is not a folder"},
      {dir.path().string(),
       " is not a Windows installation: Windows\\System32\\config\\SYSTEM is missing"},
      {(dir / "half").string(),
       "/half is not a Windows installation: Windows\\System32\\config\\SOFTWARE is missing"},
  };
  for (const auto& c : kCases) {
    Result<std::unique_ptr<Installation>> opened = Installation::Open(c.root);
    ASSERT_FALSE(opened.ok()) << c.root;
    EXPECT_NE(opened.status().context().find(c.message), std::string::npos)
        << opened.status().ToString();
    EXPECT_NE(opened.status().code(), kErrorSuccess);
    EXPECT_EQ(opened.status().ToString().find('\n'), std::string::npos);
  }
}

TEST(InstallationOpenTest, UnreadableSoftwareLeavesUsersUnknownButOpens) {
  TempDir dir;
  ASSERT_TRUE(hive::Hive::CreateEmpty()->WriteTo(dir / "SYSTEM").ok());
  fs::create_directories(dir / "Windows/System32/config");
  fs::rename(dir / "SYSTEM", dir / "Windows/System32/config/SYSTEM");
  hm::testing::WriteFileBytes(dir / "Windows/System32/config/software", std::string(4096, 'x'));
  Result<std::unique_ptr<Installation>> opened = Installation::Open(dir.path());
  ASSERT_TRUE(opened.ok()) << opened.status().ToString();
  EXPECT_FALSE(opened.value()->software_status().ok());
  EXPECT_TRUE(opened.value()->users().empty());
  EXPECT_EQ(opened.value()->hives().size(), 2u);
}

class DemoInstallationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    Status built = BuildInstallation(hm::testing::SourceDir() / "demo/win10", dir_->path());
    ASSERT_TRUE(built.ok()) << built.ToString();
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::unique_ptr<Installation> Open() {
    Result<std::unique_ptr<Installation>> opened = Installation::Open(dir_->path());
    EXPECT_TRUE(opened.ok()) << opened.status().ToString();
    return opened.ok() ? std::move(opened).value() : nullptr;
  }

  static TempDir* dir_;
};
TempDir* DemoInstallationTest::dir_ = nullptr;

TEST_F(DemoInstallationTest, FindsVersionUserAndEveryHive) {
  std::unique_ptr<Installation> demo = Open();
  ASSERT_NE(demo, nullptr);
  EXPECT_EQ(demo->version().major, 10u);
  EXPECT_EQ(demo->version().minor, 0u);
  EXPECT_EQ(demo->version().current_version, "6.3");
  EXPECT_EQ(demo->version().build, "19045");
  EXPECT_EQ(demo->version().product_name, "Windows 10 Pro");
  EXPECT_TRUE(demo->is_64bit());

  ASSERT_EQ(demo->users().size(), 1u);  // the service profiles S-1-5-18/19/20 are not users
  const UserProfile& user = demo->users()[0];
  EXPECT_EQ(user.name, "demo");
  EXPECT_EQ(user.sid.rfind("S-1-5-21-", 0), 0u);
  EXPECT_EQ(user.folder, dir_->path() / "Users/demo");
  EXPECT_EQ(demo->DefaultUser(), &user);

  const std::string mounts[] = {"HKLM\\SOFTWARE",
                                "HKLM\\SYSTEM",
                                "HKLM\\SAM",
                                "HKLM\\SECURITY",
                                "HKU\\.DEFAULT",
                                "HKU\\" + user.sid,
                                "HKU\\" + user.sid + "_Classes"};
  ASSERT_EQ(demo->hives().size(), std::size(mounts));
  for (const std::string& mount : mounts) {
    const HiveFile* file = demo->FindHive(mount);
    ASSERT_NE(file, nullptr) << mount;
    Result<std::unique_ptr<hive::Hive>> hive = hive::Hive::Open(file->file);
    ASSERT_TRUE(hive.ok()) << mount << ": " << hive.status().ToString();
    EXPECT_TRUE(hive.value()->header().clean());
    EXPECT_TRUE(hive.value()->damage().empty()) << mount;
  }
  EXPECT_EQ(demo->FindHive("hku\\.default"), demo->FindHive("HKU\\.DEFAULT"));
}

// The folders the demo's registry names as the system's and the user's exist on disk, so that a
// scan of the demo reports only the faults planted on purpose.
TEST_F(DemoInstallationTest, FoldersNamedByTheRegistryExist) {
  std::unique_ptr<Installation> demo = Open();
  ASSERT_NE(demo, nullptr);
  const struct {
    std::string mount;
    std::u16string key;
  } kFolderKeys[] = {
      {"HKLM\\SOFTWARE", u"Microsoft\\Windows\\CurrentVersion"},
      {"HKLM\\SOFTWARE", u"WOW6432Node\\Microsoft\\Windows\\CurrentVersion"},
      {"HKLM\\SOFTWARE", u"Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"},
      {"HKU\\" + demo->users()[0].sid,
       u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"},
  };
  int checked = 0;
  for (const auto& [mount, key_path] : kFolderKeys) {
    Result<std::unique_ptr<hive::Hive>> hive = hive::Hive::Open(demo->FindHive(mount)->file);
    ASSERT_TRUE(hive.ok());
    const hive::Key* key = hive.value()->Find(key_path);
    ASSERT_NE(key, nullptr) << hive::ToUtf8(key_path);
    for (const hive::Value& value : key->values()) {
      std::string text = RegStringToUtf8(value.data);
      if (value.type != hive::kRegSz || text.rfind("C:\\", 0) != 0) continue;
      Result<fs::path> folder = demo->Resolve(text);
      EXPECT_TRUE(folder.ok() && fs::is_directory(folder.value()))
          << hive::ToUtf8(value.name) << " = " << text;
      ++checked;
    }
  }
  EXPECT_GT(checked, 20);
}

TEST(ExpandSystemVariablesTest, ExpandsOnlyTheDriveAndWindowsFolder) {
  EXPECT_EQ(ExpandSystemVariables("%SystemDrive%\\Users\\demo"), "C:\\Users\\demo");
  EXPECT_EQ(ExpandSystemVariables("%systemroot%\\system32\\config\\systemprofile"),
            "C:\\Windows\\system32\\config\\systemprofile");
  EXPECT_EQ(ExpandSystemVariables("%TEMP%\\%windir%\\%"), "%TEMP%\\C:\\Windows\\%");
}

}  // namespace
}  // namespace hm::install
