#include "platform/hive/hive_log.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>

#include "platform/hive/format.h"
#include "platform/hive/hive.h"
#include "tests/support/testing.h"

namespace hm::hive {
namespace {

// Keys below and including `node`, as libhivex sees them.
uint64_t CountWithHivex(hive_h* h, hive_node_h node) {
  uint64_t count = 1;
  hive_node_h* children = hivex_node_children(h, node);
  if (children == nullptr) return 0;
  for (hive_node_h* c = children; *c != 0; ++c) count += CountWithHivex(h, *c);
  free(children);
  return count;
}

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
  EXPECT_FALSE(recovered->read_only());
  // The recovered tree is complete and clean: it can be written out and read back.
  auto copy = dir_ / "recovered";
  ASSERT_TRUE(recovered->WriteTo(copy).ok());
  auto reread = Hive::Open(copy, {.check_structure = true});
  ASSERT_TRUE(reread.ok()) << reread.status().ToString();
  EXPECT_TRUE(reread.value()->anomalies().empty());
  EXPECT_EQ(reread.value()->CountKeys(), recovered->CountKeys());
}

TEST_F(SystemBLogs, SavingARecoveredHiveWritesItCleanAndResetsItsLogs) {
  const std::string dirty_primary = testing::ReadFileBytes(hive_);
  auto recovered = OpenOrFail(true);
  ASSERT_NE(recovered, nullptr);
  const uint64_t keys = recovered->CountKeys();
  ASSERT_TRUE(recovered->root().CreateSubkey(u"AddedAfterRecovery").ok());
  ASSERT_TRUE(recovered->Save().ok());

  auto reopened = OpenOrFail(true);
  ASSERT_NE(reopened, nullptr);
  EXPECT_TRUE(reopened->header().clean());
  EXPECT_FALSE(reopened->log_recovery().applied());  // nothing left to replay
  EXPECT_EQ(reopened->CountKeys(), keys + 1);
  EXPECT_NE(reopened->Find(u"AddedAfterRecovery"), nullptr);
  // An independent reader sees the whole recovered tree: a header line, then a line per key and
  // per value.
  std::string listing;
  ASSERT_EQ(testing::RunCommand("reglookup '" + hive_.string() + "' 2>/dev/null", &listing), 0);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'),
            static_cast<long>(1 + reopened->CountKeys() + reopened->CountValues()));
  hive_h* h = hivex_open(hive_.c_str(), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(CountWithHivex(h, hivex_root(h)), reopened->CountKeys());
  hivex_close(h);

  // The logs are now bare logs at the new sequence number: valid, and holding no entries, so even
  // the old dirty file would find nothing in them to replay.
  for (const auto& log : {log1_, log2_}) {
    std::string bytes = testing::ReadFileBytes(log);
    ASSERT_EQ(bytes.size(), format::kSectorSize) << log;
    EXPECT_EQ(format::Get32(bytes.data() + format::kBbFileType), 6u);
    EXPECT_EQ(format::Get32(bytes.data() + format::kBbSequence1), reopened->header().sequence1);
    EXPECT_EQ(format::BaseBlockChecksum(bytes.data()),
              format::Get32(bytes.data() + format::kBbChecksum));
  }
  testing::WriteFileBytes(hive_, dirty_primary);
  auto old_state = OpenOrFail(true);
  ASSERT_NE(old_state, nullptr);
  EXPECT_FALSE(old_state->log_recovery().applied());
  EXPECT_TRUE(old_state->read_only());
}

TEST_F(SystemBLogs, ACrashBeforeTheLogsAreResetLeavesACleanHiveThatIgnoresThem) {
  auto recovered = OpenOrFail(true);
  ASSERT_NE(recovered, nullptr);
  ASSERT_TRUE(recovered->WriteTo(hive_).ok());  // the hive written, the logs not yet reset
  auto reopened = OpenOrFail(true);
  ASSERT_NE(reopened, nullptr);
  EXPECT_FALSE(reopened->log_recovery().applied());
  EXPECT_EQ(reopened->CountKeys(), recovered->CountKeys());
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

TEST_F(SystemBLogs, ALogCutShortStopsAtItsLastCompleteEntry) {
  std::string log2 = testing::ReadFileBytes(log2_);
  testing::WriteFileBytes(log2_, log2.substr(0, 0x64000 + 4096));  // inside the entry of 2116
  auto recovered = OpenOrFail(true);
  ASSERT_NE(recovered, nullptr);
  EXPECT_EQ(recovered->log_recovery().sequence, 2115u);
  ASSERT_EQ(recovered->log_recovery().notes.size(), 1u);
  EXPECT_NE(recovered->log_recovery().notes[0].find("entry size"), std::string::npos);
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

// Builds an old-format log (a dirty vector) that turns `before` into `after`, as Windows XP and 7
// wrote them: a base block marked as a log, "DIRT" and a bitmap of 512-byte pages, then the pages.
std::string OldFormatLog(const std::string& before, const std::string& after) {
  using namespace format;
  std::string log = after.substr(0, 512);
  Put32(log.data() + kBbFileType, 1);
  Put64(log.data() + kBbTimestamp, Get64(before.data() + kBbTimestamp));
  Put32(log.data() + kBbSequence2, Get32(log.data() + kBbSequence1));
  Put32(log.data() + kBbChecksum, BaseBlockChecksum(log.data()));
  size_t pages = (after.size() - kBaseBlockSize) / 512;
  std::string bitmap((pages + 7) / 8, '\0'), data;
  for (size_t i = 0; i < pages; ++i) {
    size_t at = kBaseBlockSize + 512 * i;
    if (before.compare(at, 512, after, at, 512) == 0) continue;
    bitmap[i / 8] = static_cast<char>(bitmap[i / 8] | (1 << (i % 8)));
    data += after.substr(at, 512);
  }
  log += "DIRT" + bitmap;
  log.resize((log.size() + 511) / 512 * 512, '\0');
  return log + data;
}

TEST(HiveLogTest, OldFormatLogsReplayTheirDirtyPages) {
  auto hive = Hive::CreateEmpty(3);
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(hive->root().CreateSubkey(FromUtf8("key" + std::to_string(i))).ok());
  }
  std::string before = hive->Serialize();
  ASSERT_TRUE(hive->Find(u"key7")->SetValue(u"v", kRegSz, std::string(600, 'z')).ok());
  std::string after = hive->Serialize();
  after.resize(before.size() > after.size() ? before.size() : after.size(), '\0');
  before.resize(after.size(), '\0');
  format::Put64(after.data() + format::kBbTimestamp,
                format::Get64(before.data() + format::kBbTimestamp));
  std::string log = OldFormatLog(before, after);

  std::string dirty = before;  // the primary as a crash left it: marked as being written
  format::Put32(dirty.data() + format::kBbSequence1,
                format::Get32(dirty.data() + format::kBbSequence2) + 1);
  format::Put32(dirty.data() + format::kBbChecksum, format::BaseBlockChecksum(dirty.data()));
  LogRecovery recovery = RecoverFromLogs(&dirty, {LogFile{"H.LOG", log}});
  ASSERT_TRUE(recovery.applied());
  auto recovered = Hive::Parse(dirty, {.check_structure = true}, "recovered");
  ASSERT_TRUE(recovered.ok()) << recovered.status().ToString();
  EXPECT_TRUE(recovered.value()->header().clean());
  EXPECT_TRUE(recovered.value()->anomalies().empty());
  ASSERT_NE(recovered.value()->Find(u"KEY7")->FindValue(u"v"), nullptr);

  // A log written for another state of the hive (another last-written time) is not used.
  std::string other = before;
  format::Put32(other.data() + format::kBbSequence1, 99);
  format::Put64(other.data() + format::kBbTimestamp, 12345);
  format::Put32(other.data() + format::kBbChecksum, format::BaseBlockChecksum(other.data()));
  EXPECT_FALSE(RecoverFromLogs(&other, {LogFile{"H.LOG", log}}).applied());
}

}  // namespace
}  // namespace hm::hive
