// Tests of whole-file reads and atomic replacement: a process killed at any step of
// AtomicWriteFile leaves the target as exactly the old file or exactly the new one.
#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/hive/hive.h"
#include "tests/support/testing.h"

namespace hm {
namespace {

using hm::testing::ReadFileBytes;
using hm::testing::TempDir;

std::string HiveImage(const std::u16string& key_name, size_t data_size) {
  auto hive = hive::Hive::CreateEmpty();
  auto key = hive->root().CreateSubkey(key_name);
  EXPECT_TRUE(key.ok());
  EXPECT_TRUE(key.value()->SetValue(u"Data", hive::kRegBinary, std::string(data_size, 'x')).ok());
  return hive->Serialize();
}

struct KillCase {
  AtomicWriteStep step;
  bool replaced;  // whether the target holds the new content afterwards
  const char* name;
};

class AtomicWriteKilled : public ::testing::TestWithParam<KillCase> {};

INSTANTIATE_TEST_SUITE_P(
    Steps, AtomicWriteKilled,
    ::testing::Values(KillCase{AtomicWriteStep::kTempCreated, false, "TempCreated"},
                      KillCase{AtomicWriteStep::kDataWritten, false, "DataWritten"},
                      KillCase{AtomicWriteStep::kFlushed, false, "Flushed"},
                      KillCase{AtomicWriteStep::kRenamed, true, "Renamed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(AtomicWriteKilled, TargetIsTheOldOrTheNewHive) {
  TempDir dir;
  std::filesystem::path target = dir / "NTUSER.DAT";
  const std::string old_image = HiveImage(u"Old", 100);
  const std::string new_image = HiveImage(u"New", 200'000);  // several bins: a write takes a while
  ASSERT_TRUE(AtomicWriteFile(target, old_image).ok());

  const AtomicWriteStep kill_at = GetParam().step;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    AtomicWriteOptions options;
    options.on_step = [kill_at](AtomicWriteStep step) {
      if (step == kill_at) raise(SIGKILL);
    };
    Status written = AtomicWriteFile(target, new_image, options);
    _exit(written.ok() ? 3 : 4);  // not reached when the kill works
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

  std::string now = ReadFileBytes(target);
  EXPECT_TRUE(now == (GetParam().replaced ? new_image : old_image))
      << now.size() << " bytes, old " << old_image.size() << ", new " << new_image.size();
  auto hive = hive::Hive::Open(target);
  ASSERT_TRUE(hive.ok()) << hive.status().ToString();
  EXPECT_NE(hive.value()->Find(GetParam().replaced ? u"New" : u"Old"), nullptr);
}

TEST(AtomicWriteFile, KeepsThePermissionsOfTheReplacedFile) {
  TempDir dir;
  std::filesystem::path target = dir / "SYSTEM";
  ASSERT_TRUE(AtomicWriteFile(target, "old").ok());
  std::filesystem::permissions(target, std::filesystem::perms(0600));
  ASSERT_TRUE(AtomicWriteFile(target, "new").ok());
  EXPECT_EQ(ReadFileBytes(target), "new");
  EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0600));
  // Nothing but the target is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicWriteFile, FailureLeavesTheTargetUntouched) {
  TempDir dir;
  std::filesystem::path target = dir / "missing-folder" / "SYSTEM";
  Status written = AtomicWriteFile(target, "bytes");
  EXPECT_FALSE(written.ok());
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(FileImage, HoldsExactlyTheFileOrSaysWhyNot) {
  testing::TempDir dir;
  for (size_t size : {size_t{0}, size_t{1}, size_t{4097}, size_t{3} << 20}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + i / 7);
    testing::WriteFileBytes(dir / "f", bytes);
    auto image = FileImage::Read(dir / "f");
    ASSERT_TRUE(image.ok()) << image.status().ToString();
    EXPECT_EQ(image->bytes(), bytes) << size;
    FileImage moved = std::move(image.value());
    EXPECT_EQ(moved.bytes().size(), size);
  }
  EXPECT_EQ(FileImage::Read(dir / "absent").status().code(), kErrorFileNotFound);
  EXPECT_FALSE(FileImage::Read(dir.path()).ok());
}

}  // namespace
}  // namespace hm
