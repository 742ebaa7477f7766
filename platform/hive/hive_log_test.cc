#include "platform/hive/hive_log.h"

#include <gtest/gtest.h>

#include "platform/hive/format.h"
#include "platform/hive/hive.h"
#include "tests/support/testing.h"

namespace hm::hive {
namespace {

// SYSTEM_B of the shared test data: not cleanly closed, with two logs of the newer format.
class SystemBLogs : public ::testing::Test {
 protected:
  void SetUp() override {
    hive_ = testing::UnpackSharedHive("SYSTEM_B", dir_.path());
    log1_ = testing::UnpackSharedHive("SYSTEM_B.LOG1", dir_.path());
    log2_ = testing::UnpackSharedHive("SYSTEM_B.LOG2", dir_.path());
  }

  std::unique_ptr<Hive> OpenOrFail(bool recover) {
    OpenOptions options;
    options.recover_from_logs = recover;
    auto hive = Hive::Open(hive_, options);
    EXPECT_TRUE(hive.ok()) << hive.status().ToString();
    return hive.ok() ? std::move(hive).value() : nullptr;
  }

  void Corrupt(const std::filesystem::path& file, size_t offset) {
    std::string bytes = testing::ReadFileBytes(file);
    bytes[offset] ^= 0x01;
    testing::WriteFileBytes(file, bytes);
  }

  testing::TempDir dir_;
  std::filesystem::path hive_, log1_, log2_;
};

TEST_F(SystemBLogs, BothLogsAreReplayedInOrderAndTheResultVerifies) {
  auto stale = OpenOrFail(false);
  auto recovered = OpenOrFail(true);
  ASSERT_TRUE(stale && recovered);
  const LogRecovery& r = recovered->log_recovery();
  EXPECT_EQ(r.logs_used, (std::vector<std::string>{"SYSTEM_B.LOG1", "SYSTEM_B.LOG2"}));
  EXPECT_EQ(r.entries, 24u);
  EXPECT_EQ(r.pages, 315u);
  EXPECT_EQ(r.sequence, 2130u);
  EXPECT_TRUE(r.notes.empty());
  EXPECT_TRUE(recovered->header().clean());
  EXPECT_TRUE(recovered->damage().empty());
  EXPECT_EQ(recovered->CountKeys(), stale->CountKeys() + 2472);
  // Recovered but not yet written back: changes stay refused and the reason says so.
  EXPECT_TRUE(recovered->read_only());
  EXPECT_NE(recovered->read_only_reason().find("transaction logs"), std::string::npos);
  // The recovered tree is complete and clean: it can be written out and read back.
  auto copy = dir_ / "recovered";
  ASSERT_TRUE(recovered->WriteTo(copy).ok());
  auto reread = Hive::Open(copy, {.check_structure = true});
  ASSERT_TRUE(reread.ok()) << reread.status().ToString();
  EXPECT_TRUE(reread.value()->anomalies().empty());
  EXPECT_EQ(reread.value()->CountKeys(), recovered->CountKeys());
}

TEST_F(SystemBLogs, AFlippedByteStopsRecoveryAtTheLastGoodEntry) {
  Corrupt(log2_, 0x64000 + 100);  // inside the sixth entry of LOG2 (sequence 2116)
  auto recovered = OpenOrFail(true);
  ASSERT_NE(recovered, nullptr);
  const LogRecovery& r = recovered->log_recovery();
  EXPECT_EQ(r.sequence, 2115u);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("SYSTEM_B.LOG2: entry at offset 0x64000: hash does not match"),
            std::string::npos)
      << r.notes[0];
  EXPECT_TRUE(recovered->damage().empty());
}

TEST_F(SystemBLogs, ABrokenFirstLogStopsEverythingAfterIt) {
  Corrupt(log1_, 0x4000 + 50);  // the second entry of LOG1: LOG2 cannot follow a gap
  auto recovered = OpenOrFail(true);
  ASSERT_NE(recovered, nullptr);
  EXPECT_EQ(recovered->log_recovery().sequence, 2107u);
  EXPECT_EQ(recovered->log_recovery().logs_used, (std::vector<std::string>{"SYSTEM_B.LOG1"}));
}

TEST_F(SystemBLogs, WithoutUsableLogsTheHiveStaysReadOnlyAndSaysWhy) {
  std::filesystem::remove(log1_);
  std::string log2 = testing::ReadFileBytes(log2_);
  testing::WriteFileBytes(log2_, log2.substr(0, 300));  // truncated inside its base block
  auto hive = OpenOrFail(true);
  ASSERT_NE(hive, nullptr);
  EXPECT_FALSE(hive->log_recovery().applied());
  EXPECT_EQ(hive->logs_found(), (std::vector<std::string>{"SYSTEM_B.LOG2"}));
  EXPECT_TRUE(hive->read_only());
  EXPECT_NE(hive->read_only_reason().find("hold nothing usable"), std::string::npos);
  std::filesystem::remove(log2_);
  auto alone = OpenOrFail(true);
  ASSERT_NE(alone, nullptr);
  EXPECT_NE(alone->read_only_reason().find("no transaction logs"), std::string::npos);
}

TEST(HiveLogTest, LogsOfAnotherHiveAreNotUsed) {
  testing::TempDir dir;
  auto primary = testing::UnpackSharedHive("NTUSER.DAT", dir.path());
  std::string bytes = testing::ReadFileBytes(primary);
  format::Put32(bytes.data() + format::kBbSequence1, 5);  // dirty, older than every log entry
  format::Put32(bytes.data() + format::kBbChecksum, format::BaseBlockChecksum(bytes.data()));
  testing::WriteFileBytes(primary, bytes);
  auto foreign = testing::UnpackSharedHive("SYSTEM_B.LOG2", dir.path());
  std::filesystem::rename(foreign, dir / "NTUSER.DAT.LOG1");
  auto hive = Hive::Open(primary);
  ASSERT_TRUE(hive.ok()) << hive.status().ToString();
  EXPECT_TRUE(hive.value()->read_only());
  EXPECT_EQ(hive.value()->Find(u"ControlSet001"), nullptr);  // nothing of SYSTEM leaked in
  ASSERT_FALSE(hive.value()->log_recovery().notes.empty());
  EXPECT_NE(hive.value()->log_recovery().notes.back().find("does not verify"), std::string::npos);
}

}  // namespace
}  // namespace hm::hive
