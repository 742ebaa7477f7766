#include "app/entry.h"

namespace hm::app {
namespace {

constexpr int kVistaVersionCode = 8;

EntryPlan End(EntryPlan plan) {
  plan.end = true;
  plan.exit_code = 0;
  return plan;
}

}  // namespace

std::string SplashVersionText(const std::string& program_version) {
  return "v. " + program_version;
}

UserMessage LowPrivilegesWarning() {
  return UserMessage{
      "It is recommended that you run Hivemend as an Administrator to ensure that all features "
      "are available.",
      "Running in a low privileges mode", kStyleWarningOk};
}

std::vector<InstanceMessage> MessagesForRunningInstance(const std::vector<std::string>& args) {
  std::vector<InstanceMessage> messages = {{InstanceMessage::Kind::kAnnounce, 0}};
  if (args.empty()) {
    messages.push_back({InstanceMessage::Kind::kBringForward, 0});
    messages.push_back({InstanceMessage::Kind::kRestoreCommand, kRestoreShow});
    messages.push_back({InstanceMessage::Kind::kRestoreCommand, kRestoreStatusPage});
  } else if (ModeOf(args) == StartMode::kAutoScan) {
    messages.push_back({InstanceMessage::Kind::kRestoreCommand, kRestoreShow});
  }
  return messages;
}

EntryPlan RunEntry(const std::vector<std::string>& args, EntryContext& context) {
  EntryPlan plan;
  plan.mode = ModeOf(args);
  plan.force_update = FindCmdLineSwitch(args, kForceUpdateSwitch);

  if (!context.BecomeOnlyInstance()) {
    context.NotifyRunningInstance(MessagesForRunningInstance(args));
    return End(plan);
  }
  if (!context.IsStrictAdministrator()) {
    if (context.StartElevated(args)) return End(plan);
    plan.message = LowPrivilegesWarning();
  }
  if (plan.mode == StartMode::kAutoScan && !context.AutomaticRunDue()) return End(plan);
  plan.window = plan.mode == StartMode::kAutoScan || plan.mode == StartMode::kMonitor
                    ? WindowStart::kHidden
                    : WindowStart::kSplash;
  return plan;
}

InstanceReaction ReactToInstanceMessage(const InstanceMessage& message, int windows_version) {
  InstanceReaction reaction;
  switch (message.kind) {
    case InstanceMessage::Kind::kAnnounce:
    case InstanceMessage::Kind::kBringForward:
      reaction.restore_application = true;
      break;
    case InstanceMessage::Kind::kRestoreCommand:
      if (message.code == kRestoreShow) {
        reaction.show_main_window = true;
        reaction.restart_delayed_timer = true;
      } else if (message.code == kRestoreStartTimer) {
        reaction.start_delayed_timer = true;
      } else if (message.code == kRestoreStatusPage) {
        reaction.show_status_page = windows_version < kVistaVersionCode;
      }
      break;
  }
  return reaction;
}

}  // namespace hm::app
