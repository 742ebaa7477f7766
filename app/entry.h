// The entry logic: what a start of the program does once its environment and settings are
// ready, decided in one function so that the desktop program and the tests run the same code.
//
// RunEntry() asks its questions through an EntryContext in the order the decisions need them
// (another instance? administrator? automatic scan due?), so nothing is asked that the start
// does not need: a second start never touches the settings, and the due test, which saves the
// next date, is asked only of a start that goes on. It returns an EntryPlan: what to show and
// whether to end, for the caller to carry out.
//
// Thread-compatible; the program runs it on the main thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/single_instance.h"

namespace hm::app {

// What the desktop program applies at every start.
inline constexpr int kDesignPixelsPerInch = 96;  // forms are laid out for it and never scaled
inline constexpr int kHintPauseMs = 50;          // before a hint shows
inline constexpr int kHintHidePauseMs = 100000;  // how long a hint stays up

// The splash window: borderless, on top, centred on the main window; it closes itself after
// kSplashCloseMs (and then asks the main window to go on with its start).
inline constexpr int kSplashWidth = 484;
inline constexpr int kSplashHeight = 259;
inline constexpr int kSplashCloseMs = 2000;
inline constexpr char kSplashLoadingText[] = "Loading . . .";
// The version label of the splash window: "v. " and the program version.
std::string SplashVersionText(const std::string& program_version);

// A message for the message dialog: text, caption and the style number (icon and buttons, as
// Windows message box styles).
struct UserMessage {
  std::string text;
  std::string caption;
  int style = 0;

  bool operator==(const UserMessage&) const = default;
};

inline constexpr int kStyleWarningOk = 48;

// The warning of a start without administrator rights.
UserMessage LowPrivilegesWarning();

// How the main window starts.
enum class WindowStart {
  kSplash,  // show the splash window, then the main window
  kHidden,  // create the main window hidden ("autoscan", "monitor")
};

struct EntryPlan {
  // Show this first, whatever follows.
  std::optional<UserMessage> message;
  // End the program now with `exit_code` instead of creating the main window.
  bool end = false;
  int exit_code = 0;
  WindowStart window = WindowStart::kSplash;
  StartMode mode = StartMode::kInteractive;
  // The switch "forceupdate": the update check takes the published version as newer.
  bool force_update = false;
};

// What RunEntry() asks of its surroundings.
class EntryContext {
 public:
  virtual ~EntryContext() = default;
  // Becomes the one instance; false when another instance runs.
  virtual bool BecomeOnlyInstance() = 0;
  // Hands `messages` to the running instance (a later start only; failures are not reported:
  // the start ends either way).
  virtual void NotifyRunningInstance(const std::vector<InstanceMessage>& messages) = 0;
  // The strict administrator test.
  virtual bool IsStrictAdministrator() = 0;
  // Starts this program again with administrator rights; true when that start succeeded.
  virtual bool StartElevated(const std::vector<std::string>& args) = 0;
  // The automatic-run due test (it saves the next date when due).
  virtual bool AutomaticRunDue() = 0;
};

// `args` are the program's arguments without the installation options.
EntryPlan RunEntry(const std::vector<std::string>& args, EntryContext& context);

// What a later start sends to the running instance: the announcement, then by its arguments:
// none -> bring forward, restore 0 and 2; first "autoscan" -> restore 0; others -> nothing more.
std::vector<InstanceMessage> MessagesForRunningInstance(const std::vector<std::string>& args);

// The interval of the delayed start-up timer that restore command 0 restarts.
inline constexpr int kDelayedStartTimerMs = 4 * 60 * 60 * 1000;

// What the running instance does on a message.
struct InstanceReaction {
  bool restore_application = false;    // restore the application and bring its active window up
  bool show_main_window = false;       // show and restore the main window, bring it forward
  bool restart_delayed_timer = false;  // restart the delayed start-up timer (4 hours) if running
  bool start_delayed_timer = false;
  bool show_status_page = false;  // switch to the PC status page, first header button
};

// `windows_version` is the environment's version code (the status page command only applies
// before Vista). Unknown restore codes do nothing.
InstanceReaction ReactToInstanceMessage(const InstanceMessage& message, int windows_version);

}  // namespace hm::app
