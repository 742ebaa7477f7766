#include "app/entry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace hm::app {
namespace {

using Args = std::vector<std::string>;
using Kind = InstanceMessage::Kind;

// Answers the entry's questions as set up and records what it was asked.
class FakeContext : public EntryContext {
 public:
  bool another_instance = false;
  bool administrator = true;
  bool elevation_succeeds = false;
  bool due = false;

  std::vector<InstanceMessage> sent;
  std::vector<std::string> asked;

  bool BecomeOnlyInstance() override {
    asked.push_back("instance");
    return !another_instance;
  }
  void NotifyRunningInstance(const std::vector<InstanceMessage>& messages) override {
    sent = messages;
  }
  bool IsStrictAdministrator() override {
    asked.push_back("administrator");
    return administrator;
  }
  bool StartElevated(const Args&) override {
    asked.push_back("elevate");
    return elevation_succeeds;
  }
  bool AutomaticRunDue() override {
    asked.push_back("due");
    return due;
  }
};

const InstanceMessage kAnnounce{Kind::kAnnounce, 0};
const InstanceMessage kForward{Kind::kBringForward, 0};
InstanceMessage Restore(int code) {
  return {Kind::kRestoreCommand, code};
}

TEST(EntryTest, ASecondStartTellsTheRunningInstanceAndEnds) {
  const std::pair<Args, std::vector<InstanceMessage>> kCases[] = {
      {{}, {kAnnounce, kForward, Restore(0), Restore(2)}},
      {{"autoscan"}, {kAnnounce, Restore(0)}},
      {{"autoscan", "/forceupdate"}, {kAnnounce, Restore(0)}},
      {{"monitor"}, {kAnnounce}},  // only the announcement
      {{"AutoScan"}, {kAnnounce}},
      {{"/forceupdate"}, {kAnnounce}},
  };
  for (const auto& [args, messages] : kCases) {
    FakeContext context;
    context.another_instance = true;
    context.due = true;
    EntryPlan plan = RunEntry(args, context);
    EXPECT_TRUE(plan.end);
    EXPECT_EQ(plan.exit_code, 0);
    EXPECT_FALSE(plan.message);
    EXPECT_EQ(context.sent, messages) << args.size();
    // Nothing else is asked: in particular the due test, which would save a new date.
    EXPECT_EQ(context.asked, Args{"instance"});
  }
}

TEST(EntryTest, TheOneInstanceStartsByMode) {
  struct Case {
    Args args;
    bool due;
    bool end;
    WindowStart window;
    StartMode mode;
    bool force_update;
  };
  const Case kCases[] = {
      {{}, false, false, WindowStart::kSplash, StartMode::kInteractive, false},
      {{"AutoScan"}, false, false, WindowStart::kSplash, StartMode::kInteractive, false},
      {{"startscan"}, false, false, WindowStart::kSplash, StartMode::kStartScan, false},
      {{"monitor"}, false, false, WindowStart::kHidden, StartMode::kMonitor, false},
      {{"autoscan", "/forceupdate"}, true, false, WindowStart::kHidden, StartMode::kAutoScan, true},
      {{"autoscan"}, false, true, WindowStart::kSplash, StartMode::kAutoScan, false},
  };
  for (const Case& c : kCases) {
    FakeContext context;
    context.due = c.due;
    EntryPlan plan = RunEntry(c.args, context);
    const std::string label = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(plan.end, c.end) << label;
    EXPECT_EQ(plan.exit_code, 0) << label;
    if (!c.end) {
      EXPECT_EQ(plan.window, c.window) << label;
    }
    EXPECT_EQ(plan.mode, c.mode) << label;
    EXPECT_EQ(plan.force_update, c.force_update) << label;
    EXPECT_FALSE(plan.message) << label;
    EXPECT_TRUE(context.sent.empty());
    const bool asked_due = std::count(context.asked.begin(), context.asked.end(), "due") == 1;
    EXPECT_EQ(asked_due, c.mode == StartMode::kAutoScan) << label;
  }
}

TEST(EntryTest, WithoutAdministratorRightsTheStartWarnsAndGoesOn) {
  FakeContext context;
  context.administrator = false;
  EntryPlan plan = RunEntry({}, context);
  EXPECT_FALSE(plan.end);
  EXPECT_EQ(plan.window, WindowStart::kSplash);
  ASSERT_TRUE(plan.message);
  EXPECT_EQ(plan.message->text,
            "It is recommended that you run Hivemend as an Administrator to ensure that all "
            "features are available.");
  EXPECT_EQ(plan.message->caption, "Running in a low privileges mode");
  EXPECT_EQ(plan.message->style, 48);
  EXPECT_EQ(context.asked, (Args{"instance", "administrator", "elevate"}));
}

TEST(EntryTest, AnElevatedStartEndsThisOne) {
  FakeContext context;
  context.administrator = false;
  context.elevation_succeeds = true;
  EntryPlan plan = RunEntry({"autoscan"}, context);
  EXPECT_TRUE(plan.end);
  EXPECT_EQ(plan.exit_code, 0);
  EXPECT_FALSE(plan.message);
  EXPECT_EQ(context.asked, (Args{"instance", "administrator", "elevate"}));  // not the due test
}

TEST(EntryTest, TheRunningInstanceReactsToMessages) {
  struct Case {
    InstanceMessage message;
    int windows_version;
    InstanceReaction expected;
  };
  const Case kCases[] = {
      {kAnnounce, 12, {.restore_application = true}},
      {kForward, 12, {.restore_application = true}},
      {Restore(0), 12, {.show_main_window = true, .restart_delayed_timer = true}},
      {Restore(1), 12, {.start_delayed_timer = true}},
      {Restore(2), 6, {.show_status_page = true}},  // XP
      {Restore(2), 8, {}},                          // Vista and later: nothing
      {Restore(7), 6, {}},
  };
  for (const Case& c : kCases) {
    InstanceReaction got = ReactToInstanceMessage(c.message, c.windows_version);
    EXPECT_EQ(got.restore_application, c.expected.restore_application);
    EXPECT_EQ(got.show_main_window, c.expected.show_main_window);
    EXPECT_EQ(got.restart_delayed_timer, c.expected.restart_delayed_timer);
    EXPECT_EQ(got.start_delayed_timer, c.expected.start_delayed_timer);
    EXPECT_EQ(got.show_status_page, c.expected.show_status_page);
  }
}

}  // namespace
}  // namespace hm::app
