#include "app/application.h"

#include <gtest/gtest.h>

#include "app/app_test_support.h"
#include "registry/path_utils.h"
#include "platform/files/host_files.h"
#include "tests/support/testing.h"

namespace hm::app {
namespace {

// When the installation cannot hold the data folder, the program keeps it on the host, mapped
// where the installation would have held it: the undo store and the program's other files keep
// their Windows paths and can be written there.
TEST(ApplicationTest, AHostDataFolderKeepsItsWindowsPath) {
  hm::testing::TempDir dir;
  // A file where the user's application data folder belongs: nothing can be created below it.
  const std::filesystem::path root =
      testing::BuildTestInstallation(dir, testing::kWindows10Sources, "Users\\ann\\AppData size=1\n");
  StartupRequest request;
  request.argv = {"--root", root.string()};
  request.program_folder = dir.path() / "program";
  request.host.data = dir.path() / "host-data";
  request.host.config = dir.path() / "host-config";
  Result<std::unique_ptr<Application>> app = Application::Start(request);
  ASSERT_TRUE(app.ok()) << app.status().ToString();
  const Environment& environment = *(*app)->environment();
  ASSERT_FALSE(environment.data_folder.in_installation());
  EXPECT_EQ(environment.data_folder_windows, "C:\\Users\\ann\\AppData\\Local\\Corvexa");

  ASSERT_NE(reg::ProcessFiles(), nullptr);
  const Status created = reg::ProcessFiles()->CreateFolder(
      environment.data_folder_windows + "\\Undo\\2026-12-11", files::FsView::kNative);
  ASSERT_TRUE(created.ok()) << created.ToString();
  EXPECT_TRUE(std::filesystem::is_directory(environment.data_folder.path() / "Undo" / "2026-12-11"));
}

}  // namespace
}  // namespace hm::app
