#include "app/environment.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "app/first_run.h"
#include "registry/win_registry.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;
using hm::testing::TempDir;
using testing::BuildTestInstallation;

TEST(WindowsVersionCodeTest, Table) {
  struct Case {
    VersionFacts facts;
    int code;
  };
  const Case kCases[] = {
      {{.has_version_numbers = true,
        .major_number = 10,
        .minor_number = 0,
        .platform = 2,
        .major = 6,
        .minor = 3},
       12},
      // Only both numbers together decide; otherwise CurrentVersion does.
      {{.has_version_numbers = false, .major_number = 10, .platform = 2, .major = 6, .minor = 3},
       11},
      {{.has_version_numbers = true, .major_number = 11, .platform = 2, .major = 6, .minor = 3},
       11},
      {{.platform = 1, .major = 4, .minor = 0}, 1},
      {{.platform = 1, .major = 4, .minor = 10}, 2},
      {{.platform = 1, .major = 4, .minor = 90}, 3},
      {{.platform = 1, .major = 4, .minor = 50}, 0},
      {{.platform = 2, .major = 3, .minor = 51}, 4},
      {{.platform = 2, .major = 4, .minor = 0}, 4},
      {{.platform = 2, .major = 5, .minor = 0}, 5},
      {{.platform = 2, .major = 5, .minor = 1}, 6},
      {{.platform = 2, .major = 5, .minor = 2}, 7},
      {{.platform = 2, .major = 6, .minor = 0}, 8},
      {{.platform = 2, .major = 6, .minor = 1}, 9},
      {{.platform = 2, .major = 6, .minor = 2}, 10},
      {{.platform = 2, .major = 6, .minor = 3}, 11},
      {{.platform = 2, .major = 6, .minor = 4}, 0},
      {{.platform = 2, .major = 10, .minor = 0}, 0},
      {{}, 0},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(WindowsVersionCode(c.facts), c.code)
        << c.facts.platform << " " << c.facts.major << "." << c.facts.minor;
  }
}

class EnvironmentTest : public ::testing::Test {
 protected:
  std::unique_ptr<reg::HostRegistry> Open(const fs::path& root) {
    auto installation = install::Installation::Open(root);
    EXPECT_TRUE(installation.ok()) << installation.status().ToString();
    if (!installation.ok()) return nullptr;
    auto registry = reg::HostRegistry::Open(std::move(*installation), {});
    EXPECT_TRUE(registry.ok()) << registry.status().ToString();
    return registry.ok() ? std::move(*registry) : nullptr;
  }
  EnvironmentOptions Options() const {
    EnvironmentOptions options;
    options.program_folder = dir_ / "bin";
    options.host_data_fallback = dir_ / "host-data";
    return options;
  }

  TempDir dir_;
};

TEST_F(EnvironmentTest, Windows10InstallationWithItsUsersDataFolder) {
  const fs::path root = BuildTestInstallation(dir_);
  // Windows folders differ in case from the path the program names: still the same folder.
  fs::create_directories(root / "Users" / "ann" / "appdata" / "LOCAL");
  auto registry = Open(root);
  ASSERT_TRUE(registry);
  Environment environment = PrepareEnvironment(*registry, Options());
  EXPECT_EQ(environment.title, "Hivemend");
  EXPECT_EQ(environment.windows_version, 12);
  EXPECT_EQ(environment.windows_folder, "C:\\WINDOWS\\");
  EXPECT_EQ(environment.system_folder, "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(environment.program_folder, dir_ / "bin");
  EXPECT_FALSE(environment.program_version.empty());
  EXPECT_TRUE(environment.data_folder.in_installation());
  EXPECT_EQ(environment.data_folder.path(), root / "Users/ann/appdata/LOCAL/Corvexa");
  EXPECT_TRUE(fs::is_directory(environment.data_folder.path()));
  EXPECT_EQ(environment.data_folder.windows_path(), "C:\\Users\\ann\\AppData\\Local\\Corvexa");
  // These test files belong to this process, so it may change the machine hives.
  EXPECT_TRUE(environment.strict_administrator);
  EXPECT_TRUE(environment.administrator);
}

TEST_F(EnvironmentTest, TheDataFolderFollowsAMovedLocalApplicationDataFolder) {
  const fs::path root = BuildTestInstallation(dir_);
  auto registry = Open(root);
  ASSERT_TRUE(registry);
  EnvironmentOptions options = Options();
  options.local_app_data = "C:\\Profiles\\Ann\\Local";  // as the user's shell folders say
  Environment environment = PrepareEnvironment(*registry, options);
  EXPECT_TRUE(environment.data_folder.in_installation());
  EXPECT_EQ(environment.data_folder.windows_path(), "C:\\Profiles\\Ann\\Local\\Corvexa");
  EXPECT_TRUE(fs::is_directory(root / "Profiles/Ann/Local/Corvexa"));
}

TEST_F(EnvironmentTest, OlderWindowsIsToldByCurrentVersion) {
  const fs::path root = BuildTestInstallation(dir_, R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"="6.1"
"CurrentMajorVersionNumber"=dword:0000000a
)");
  auto registry = Open(root);
  ASSERT_TRUE(registry);
  EXPECT_EQ(WindowsVersionCode(ReadVersionFacts(*registry)), 9);
}

TEST_F(EnvironmentTest, WithoutAUserTheDataFolderIsOnTheHost) {
  const fs::path root = BuildTestInstallation(dir_, R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"="6.1"
)");
  auto registry = Open(root);
  ASSERT_TRUE(registry);
  Environment environment = PrepareEnvironment(*registry, Options());
  EXPECT_FALSE(environment.data_folder.in_installation());
  EXPECT_EQ(environment.data_folder.path(), dir_ / "host-data" / "Corvexa");
  EXPECT_TRUE(fs::is_directory(environment.data_folder.path()));
  EXPECT_EQ(environment.data_folder.windows_path(), "");
}

TEST_F(EnvironmentTest, AnInstallationThatCannotHoldTheDataFolderLeavesItOnTheHost) {
  const fs::path root = BuildTestInstallation(dir_);
  hm::testing::WriteFileBytes(root / "Users/ann/AppData", "a file where the folder should be");
  auto registry = Open(root);
  ASSERT_TRUE(registry);
  Environment environment = PrepareEnvironment(*registry, Options());
  EXPECT_FALSE(environment.data_folder.in_installation());
  EXPECT_EQ(environment.data_folder.path(), dir_ / "host-data" / "Corvexa");
}

TEST_F(EnvironmentTest, AMissingMachineHiveCannotBeChanged) {
  const fs::path root = BuildTestInstallation(dir_);
  auto installation = install::Installation::Open(root);
  ASSERT_TRUE(installation.ok());
  EXPECT_TRUE(MayChangeMachineHives(**installation));
  fs::remove(root / "Windows/System32/config/SYSTEM");
  EXPECT_FALSE(MayChangeMachineHives(**installation));
  EXPECT_TRUE(AdministratorFlag(2, false, false));  // Windows 98 knows no administrators
  EXPECT_FALSE(AdministratorFlag(12, false, false));
  EXPECT_TRUE(AdministratorFlag(12, false, true));
}

TEST_F(EnvironmentTest, TheFirstRunMarkerIsKeptInTheUsersHive) {
  const fs::path root = BuildTestInstallation(dir_);
  auto running = Open(root);
  ASSERT_TRUE(running);
  reg::SetProcessRegistry(running.get());
  EXPECT_TRUE(CheckAndMarkFirstRun());
  EXPECT_FALSE(CheckAndMarkFirstRun());
  // The hive is on disk at once: a registry read from the files now sees the marker.
  auto from_disk = Open(root);
  ASSERT_TRUE(from_disk);
  reg::SetProcessRegistry(from_disk.get());
  EXPECT_FALSE(CheckAndMarkFirstRun());
  // A marker of another value is not the marker.
  reg::HKEY key = 0;
  ASSERT_EQ(reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, kFirstRunKey, 0, reg::KEY_ALL_ACCESS, &key),
            kErrorSuccess);
  const uint8_t two[4] = {2, 0, 0, 0};
  ASSERT_EQ(reg::RegSetValueExA(key, kFirstRunValue, reg::REG_DWORD, two, 4), kErrorSuccess);
  reg::RegCloseKey(key);
  EXPECT_TRUE(CheckAndMarkFirstRun());
  EXPECT_FALSE(CheckAndMarkFirstRun());
  reg::SetProcessRegistry(nullptr);
}

}  // namespace
}  // namespace hm::app
