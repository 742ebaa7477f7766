// SingleInstance: one interactive instance of the program per host user and installation.
//
// The instance that starts first holds an advisory lock (flock) on "<key>.lock" in the user's
// runtime folder and listens on the local socket "<key>.sock" beside it. A later start finds the
// lock held, connects and sends its messages: the announcement of a start, then what the entry
// logic decides (bring the window forward, restore commands), and ends. The kernel releases the
// lock of a process that dies in any way, so a killed instance never blocks the next start; its
// socket file is replaced by the next instance that takes the lock.
//
// Only processes of the same host user are heard (the folder is private, and the peer's user is
// checked). Messages are lines of text: "announce", "forward", "restore <code>".
//
// Thread-compatible: the running instance dispatches messages on its main thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace hm::app {

struct InstanceMessage {
  enum class Kind {
    kAnnounce,        // another instance started (whatever it then does)
    kBringForward,    // bring the main window to the foreground, restored and shown normally
    kRestoreCommand,  // a restore command; `code` holds it
  };
  Kind kind = Kind::kAnnounce;
  int code = 0;

  bool operator==(const InstanceMessage&) const = default;
};

// The restore commands.
inline constexpr int kRestoreShow = 0;        // show, restore and bring forward the main window
inline constexpr int kRestoreStartTimer = 1;  // start the delayed start-up timer
inline constexpr int kRestoreStatusPage = 2;  // before Vista: show the PC status page

// "hivemend-" and 16 hexadecimal digits naming the installation folder and the Windows user.
std::string InstanceKey(const std::filesystem::path& installation_root,
                        const std::string& user_sid);

class SingleInstance {
 public:
  using Handler = std::function<void(const InstanceMessage&)>;

  // Takes the lock for `key` in `folder` (which must exist and be private to the user). Succeeds
  // also when another instance holds it; is_first() tells which.
  static Result<std::unique_ptr<SingleInstance>> Acquire(const std::filesystem::path& folder,
                                                         const std::string& key);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process is the one instance.
  bool is_first() const { return lock_fd_ >= 0; }

  // --- The running instance ---

  // The listening socket, for an event loop to watch for readability; -1 for a later start.
  int listen_fd() const { return listen_fd_; }
  // Reads the messages of every connection waiting now and hands each to `handler`.
  void DispatchPending(const Handler& handler);
  // Waits until a connection arrives (at most `timeout_ms`, -1 without limit), then dispatches.
  void WaitAndDispatch(int timeout_ms, const Handler& handler);

  // --- A later start ---

  // Sends `messages` to the running instance. Retries for a moment when the running instance has
  // taken the lock but does not listen yet.
  Status Notify(const std::vector<InstanceMessage>& messages) const;

 private:
  SingleInstance(std::filesystem::path lock_file, std::filesystem::path socket_file)
      : lock_file_(std::move(lock_file)), socket_file_(std::move(socket_file)) {}
  Status Listen();
  void ReadConnection(int fd, const Handler& handler);

  std::filesystem::path lock_file_;
  std::filesystem::path socket_file_;
  int lock_fd_ = -1;
  int listen_fd_ = -1;
};

// Message lines <-> messages; unknown lines are left out.
std::string EncodeInstanceMessages(const std::vector<InstanceMessage>& messages);
std::vector<InstanceMessage> DecodeInstanceMessages(std::string_view text);

}  // namespace hm::app
