#include "registry/shell_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/recycle_record.h"
#include "platform/utf.h"
#include "registry/files_test_support.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;
using hm::testing::ReadFileBytes;
using testing::FilesInstallation;

class ShellFilesTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearCaptureTools(); }

  fs::path Bin() const { return installation_.root() / "$Recycle.Bin" / testing::kUserSid; }

  FilesInstallation installation_;
};

TEST_F(ShellFilesTest, RecycledFileCanBeRestoredByWindows) {
  ASSERT_TRUE(FileExists("C:\\Program Files\\App One\\helper.dll"));
  ASSERT_EQ(ShellDeleteCode("c:\\program files\\APP ONE\\helper.dll", true), 0);
  EXPECT_FALSE(FileExists("C:\\Program Files\\App One\\helper.dll"));
  std::vector<fs::path> records;
  for (const auto& entry : fs::directory_iterator(Bin())) {
    if (entry.path().filename().string().starts_with("$I")) records.push_back(entry.path());
  }
  ASSERT_EQ(records.size(), 1u);
  Result<files::RecycleRecord> record = files::DecodeRecycleRecord(ReadFileBytes(records[0]));
  ASSERT_TRUE(record.ok());
  EXPECT_EQ(record->version, 2u);
  EXPECT_EQ(ToUtf8(record->original_path), "C:\\Program Files\\App One\\helper.dll");
  EXPECT_EQ(record->size, 10u);
  const std::string name = records[0].filename().string();
  EXPECT_EQ(name.size(), 2 + 6 + 4u);
  EXPECT_EQ(name.substr(name.size() - 4), ".dll");
  EXPECT_EQ(fs::file_size(Bin() / ("$R" + name.substr(2))), 10u);
}

TEST_F(ShellFilesTest, RecyclingInTheRedirectedViewRecordsTheRealPath) {
  ASSERT_EQ(ShellDeleteCode("C:\\Windows\\System32\\only32.dll", true), 0);
  EXPECT_TRUE(fs::exists(installation_.root() / "Windows/System32/only64.exe"));
  EXPECT_FALSE(fs::exists(installation_.root() / "Windows/SysWOW64/only32.dll"));
  int records = 0;
  for (const auto& entry : fs::directory_iterator(Bin())) {
    if (!entry.path().filename().string().starts_with("$I")) continue;
    ++records;
    auto record = files::DecodeRecycleRecord(ReadFileBytes(entry.path()));
    EXPECT_EQ(ToUtf8(record->original_path), "C:\\Windows\\SysWOW64\\only32.dll");
  }
  EXPECT_EQ(records, 1);
}

TEST_F(ShellFilesTest, DeleteRenameCopyResults) {
  EXPECT_EQ(ShellDeleteCode("C:\\gone.dll", true), 2);
  EXPECT_EQ(ShellDeleteCode("C:\\gone\\x.dll", false), 3);
  EXPECT_EQ(ShellDeleteCode("", false), kDeInvalidFiles);
  EXPECT_EQ(ShellDeleteCode("C:\\Tools\\*.*", false), 123);
  EXPECT_TRUE(ShellDelete("C:\\Tools", false));
  EXPECT_FALSE(fs::exists(installation_.root() / "Tools"));
  EXPECT_FALSE(fs::exists(Bin()));

  EXPECT_TRUE(ShellCopy("C:\\Program Files\\App One", "C:\\Backup\\Temp"));
  EXPECT_TRUE(FileExists("C:\\Backup\\Temp\\app.exe"));
  EXPECT_EQ(ShellCopyCode("C:\\Backup\\Temp", "c:\\backup\\TEMP"), kDeSameFile);
  EXPECT_EQ(ShellCopyCode("C:\\Backup", "C:\\Backup\\Temp"), kDeDestSubtree);
  EXPECT_EQ(ShellCopyCode("C:\\Backup", "C:\\Backup\\New"), kDeDestSubtree);

  EXPECT_TRUE(ShellRename("C:\\Backup\\Temp", "C:\\Backup\\UndoBackup"));
  EXPECT_TRUE(DirectoryExists("C:\\Backup\\UndoBackup"));
  EXPECT_EQ(ShellRenameCode("C:\\Backup\\UndoBackup", "C:\\Elsewhere\\UndoBackup"), kDeDiffDir);
  EXPECT_TRUE(ShellCopy("C:\\x.dll", "C:\\Backup\\y.dll"));
  EXPECT_EQ(ShellRenameCode("C:\\Backup\\UndoBackup", "C:\\Backup\\y.dll"), 183);
}

TEST_F(ShellFilesTest, RunAndCaptureRunsOnlyStandInsOfExistingPrograms) {
  std::vector<std::string> seen;
  RegisterCaptureTool("Tool.exe", [&](const std::vector<std::string>& arguments) {
    seen = arguments;
    return std::string("first\r\nsecond: \"x\"\n\nlast");
  });
  std::vector<std::string> lines = {"kept"};
  EXPECT_FALSE(RunAndCapture("C:\\Tools\\bin\\missing.exe /x", &lines));
  EXPECT_FALSE(RunAndCapture("C:\\Windows\\notepad.exe /x", &lines));  // exists, no stand-in
  EXPECT_FALSE(RunAndCapture("C:\\Old App\\tool.exe", &lines));        // stand-in, no program
  EXPECT_EQ(lines, std::vector<std::string>{"kept"});

  ASSERT_TRUE(RunAndCapture("\"C:\\Tools\\bin\\TOOL.EXE\" /list:{4BF4} \"a b\" /all", &lines));
  EXPECT_EQ(seen, (std::vector<std::string>{"/list:{4BF4}", "a b", "/all"}));
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second: \"x\"", "", "last"}));
  EXPECT_TRUE(RunAndCapture("tool /x", &lines));  // found on the search path, ".exe" added
}

}  // namespace
}  // namespace hm::reg
