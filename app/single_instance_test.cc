#include "app/single_instance.h"

#include <gtest/gtest.h>

#include "tests/support/testing.h"

namespace hm::app {
namespace {

using hm::testing::TempDir;
using Kind = InstanceMessage::Kind;

std::unique_ptr<SingleInstance> Acquire(const TempDir& dir, const std::string& key) {
  Result<std::unique_ptr<SingleInstance>> instance = SingleInstance::Acquire(dir.path(), key);
  EXPECT_TRUE(instance.ok()) << instance.status().ToString();
  return instance.ok() ? std::move(*instance) : nullptr;
}

TEST(SingleInstanceTest, ALaterStartReachesTheFirst) {
  TempDir dir;
  std::unique_ptr<SingleInstance> first = Acquire(dir, "k");
  std::unique_ptr<SingleInstance> later = Acquire(dir, "k");
  ASSERT_TRUE(first && later);
  EXPECT_TRUE(first->is_first());
  EXPECT_FALSE(later->is_first());
  EXPECT_TRUE(Acquire(dir, "other installation")->is_first());

  const std::vector<InstanceMessage> sent = {{Kind::kAnnounce, 0},
                                             {Kind::kBringForward, 0},
                                             {Kind::kRestoreCommand, 0},
                                             {Kind::kRestoreCommand, 2}};
  ASSERT_TRUE(later->Notify(sent).ok());
  ASSERT_TRUE(later->Notify({{Kind::kRestoreCommand, 1}}).ok());
  std::vector<InstanceMessage> received;
  first->DispatchPending([&](const InstanceMessage& m) { received.push_back(m); });
  std::vector<InstanceMessage> expected = sent;
  expected.push_back({Kind::kRestoreCommand, 1});
  EXPECT_EQ(received, expected);
}

TEST(SingleInstanceTest, TheLockIsFreeAgainWhenTheFirstEnds) {
  TempDir dir;
  std::unique_ptr<SingleInstance> first = Acquire(dir, "k");
  first.reset();
  EXPECT_FALSE(std::filesystem::exists(dir / "k.sock"));
  // A socket file left by an instance that was killed does not stand in the way either.
  hm::testing::WriteFileBytes(dir / "k.sock", "left over");
  std::unique_ptr<SingleInstance> next = Acquire(dir, "k");
  ASSERT_TRUE(next && next->is_first());
  ASSERT_TRUE(Acquire(dir, "k")->Notify({{Kind::kAnnounce, 0}}).ok());
  int count = 0;
  next->DispatchPending([&](const InstanceMessage&) { ++count; });
  EXPECT_EQ(count, 1);
}

TEST(SingleInstanceTest, MessagesDecodeLeniently) {
  EXPECT_EQ(DecodeInstanceMessages("announce\nrestore 2\nrestore x\nrestore 99999999999\n"
                                   "bogus\nforward"),
            (std::vector<InstanceMessage>{
                {Kind::kAnnounce, 0}, {Kind::kRestoreCommand, 2}, {Kind::kBringForward, 0}}));
  EXPECT_TRUE(DecodeInstanceMessages(std::string(5000, '\xff')).empty());
}

TEST(SingleInstanceTest, KeysTellInstallationsAndUsersApart) {
  TempDir dir;
  const std::string key = InstanceKey(dir.path(), "S-1-5-21-1");
  EXPECT_EQ(key.size(), std::string("hivemend-").size() + 16);
  EXPECT_EQ(InstanceKey(dir.path() / "." / "", "S-1-5-21-1"), key);  // the same folder
  EXPECT_NE(InstanceKey(dir.path(), "S-1-5-21-2"), key);
  EXPECT_NE(InstanceKey(dir.path() / "other", "S-1-5-21-1"), key);
}

}  // namespace
}  // namespace hm::app
