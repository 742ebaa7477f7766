#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app/text_number.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;

// A connection sends a few short lines; more than this is not a starting instance.
constexpr size_t kMaxMessageBytes = 4096;
// How long a later start waits for the running instance to listen (it takes the lock first).
constexpr int kConnectAttempts = 40;
constexpr auto kConnectPause = std::chrono::milliseconds(50);

Status ErrnoStatus(const std::string& step) {
  return Status::Error(WinErrorFromErrno(errno), step);
}

// FNV-1a, 64 bits: stable across builds and hosts, unlike std::hash.
uint64_t Fnv1a(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

bool SocketAddress(const fs::path& file, sockaddr_un* address) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  const std::string& text = file.native();
  if (text.size() >= sizeof(address->sun_path)) return false;
  std::memcpy(address->sun_path, text.c_str(), text.size() + 1);
  return true;
}

bool SameUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

Status SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("send to the running instance");
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return Status::Ok();
}

}  // namespace

std::string InstanceKey(const fs::path& installation_root, const std::string& user_sid) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(installation_root, error);
  if (error) canonical = fs::absolute(installation_root, error);
  char key[32];
  std::snprintf(key, sizeof(key), "hivemend-%016llx",
                static_cast<unsigned long long>(Fnv1a(canonical.native() + '\n' + user_sid)));
  return key;
}

Result<std::unique_ptr<SingleInstance>> SingleInstance::Acquire(const fs::path& folder,
                                                                const std::string& key) {
  std::unique_ptr<SingleInstance> instance(
      new SingleInstance(folder / (key + ".lock"), folder / (key + ".sock")));
  sockaddr_un address;
  if (!SocketAddress(instance->socket_file_, &address)) {
    return Status::Error(kErrorFilenameExcedRange,
                         "socket path '" + instance->socket_file_.string() + "'");
  }
  const int fd =
      ::open(instance->lock_file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return ErrnoStatus("open '" + instance->lock_file_.string() + "'");
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return instance;  // another instance holds it
    errno = error;
    return ErrnoStatus("lock '" + instance->lock_file_.string() + "'");
  }
  instance->lock_fd_ = fd;
  HM_RETURN_IF_ERROR(instance->Listen());
  return instance;
}

Status SingleInstance::Listen() {
  // Holding the lock, any socket file left here belongs to an instance that ended.
  ::unlink(socket_file_.c_str());
  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0) return ErrnoStatus("socket");
  sockaddr_un address;
  SocketAddress(socket_file_, &address);
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    return ErrnoStatus("bind '" + socket_file_.string() + "'");
  }
  if (::listen(listen_fd_, 16) != 0) return ErrnoStatus("listen '" + socket_file_.string() + "'");
  return Status::Ok();
}

SingleInstance::~SingleInstance() {
  if (listen_fd_ >= 0) {
    ::close(listen_fd_);
    // Removed while the lock is still held, so that it cannot be the next instance's socket.
    ::unlink(socket_file_.c_str());
  }
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

void SingleInstance::DispatchPending(const Handler& handler) {
  if (listen_fd_ < 0) return;
  while (true) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: nothing more waiting
    }
    if (SameUser(fd)) ReadConnection(fd, handler);
    ::close(fd);
  }
}

void SingleInstance::ReadConnection(int fd, const Handler& handler) {
  // A starting instance writes its lines and closes at once; one that stalls is not waited for.
  timeval timeout{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  std::string text;
  char buffer[512];
  while (text.size() < kMaxMessageBytes) {
    const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  for (const InstanceMessage& message : DecodeInstanceMessages(text)) handler(message);
}

void SingleInstance::WaitAndDispatch(int timeout_ms, const Handler& handler) {
  if (listen_fd_ < 0) return;
  pollfd watched{listen_fd_, POLLIN, 0};
  if (::poll(&watched, 1, timeout_ms) > 0) DispatchPending(handler);
}

Status SingleInstance::Notify(const std::vector<InstanceMessage>& messages) const {
  sockaddr_un address;
  SocketAddress(socket_file_, &address);
  for (int attempt = 0;; ++attempt) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return ErrnoStatus("socket");
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
      Status status = SendAll(fd, EncodeInstanceMessages(messages));
      ::close(fd);
      return status;
    }
    const int error = errno;
    ::close(fd);
    const bool not_listening_yet = error == ENOENT || error == ECONNREFUSED;
    if (!not_listening_yet || attempt + 1 >= kConnectAttempts) {
      errno = error;
      return ErrnoStatus("connect to the running instance at '" + socket_file_.string() + "'");
    }
    std::this_thread::sleep_for(kConnectPause);
  }
}

std::string EncodeInstanceMessages(const std::vector<InstanceMessage>& messages) {
  std::string text;
  for (const InstanceMessage& message : messages) {
    switch (message.kind) {
      case InstanceMessage::Kind::kAnnounce:
        text += "announce\n";
        break;
      case InstanceMessage::Kind::kBringForward:
        text += "forward\n";
        break;
      case InstanceMessage::Kind::kRestoreCommand:
        text += "restore " + std::to_string(message.code) + "\n";
        break;
    }
  }
  return text;
}

std::vector<InstanceMessage> DecodeInstanceMessages(std::string_view text) {
  std::vector<InstanceMessage> messages;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line == "announce") {
      messages.push_back({InstanceMessage::Kind::kAnnounce, 0});
    } else if (line == "forward") {
      messages.push_back({InstanceMessage::Kind::kBringForward, 0});
    } else if (line.starts_with("restore ")) {
      if (std::optional<int32_t> code = ParseDecimalInteger(line.substr(8))) {
        messages.push_back({InstanceMessage::Kind::kRestoreCommand, *code});
      }
    }
  }
  return messages;
}

}  // namespace hm::app
