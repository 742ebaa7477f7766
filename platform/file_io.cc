#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace hm {

namespace {

Status ErrnoStatus(const std::string& step, const std::filesystem::path& file, int err) {
  return Status::Error(WinErrorFromErrno(err), step + " '" + file.string() + "'");
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void SyncFolder(const std::filesystem::path& folder) {
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace

Status ReadWholeFile(const std::filesystem::path& file, std::string* bytes) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return ErrnoStatus("open", file, errno);
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return ErrnoStatus("stat", file, errno);
  if (S_ISDIR(info.st_mode)) return ErrnoStatus("read", file, EISDIR);
  // Read straight into a buffer of the file's size; a file that grows meanwhile is read on.
  bytes->assign(static_cast<size_t>(info.st_size), '\0');
  size_t filled = 0;
  for (;;) {
    if (filled == bytes->size()) bytes->resize(bytes->size() + (1 << 16));
    ssize_t n = ::read(fd.get(), bytes->data() + filled, bytes->size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrnoStatus("read", file, errno);
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  bytes->resize(filled);
  return Status::Ok();
}

Status AtomicWriteFile(const std::filesystem::path& target, std::string_view bytes,
                       const AtomicWriteOptions& options) {
  auto step = [&](AtomicWriteStep s) {
    if (options.on_step) options.on_step(s);
  };
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp = (folder / ("." + target.filename().string() + ".hm-XXXXXX")).string();
  FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return ErrnoStatus("create temporary file for", target, errno);
  step(AtomicWriteStep::kTempCreated);

  auto fail = [&](const std::string& what, int err) {
    ::unlink(temp.c_str());
    return ErrnoStatus(what, target, err);
  };
  if (!WriteAll(fd.get(), bytes)) return fail("write", errno == 0 ? ENOSPC : errno);
  step(AtomicWriteStep::kDataWritten);

  struct stat old_info;
  mode_t mode = 0644;
  if (::stat(target.c_str(), &old_info) == 0) mode = old_info.st_mode & 07777;
  if (::fchmod(fd.get(), mode) != 0) return fail("set permissions of", errno);
  if (::fsync(fd.get()) != 0) return fail("flush", errno);
  if (::close(fd.Release()) != 0) return fail("close", errno);
  step(AtomicWriteStep::kFlushed);

  if (::rename(temp.c_str(), target.c_str()) != 0) return fail("replace", errno);
  SyncFolder(folder);
  step(AtomicWriteStep::kRenamed);
  return Status::Ok();
}

}  // namespace hm
