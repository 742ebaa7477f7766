#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

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

FileImage::~FileImage() {
  Release();
}

FileImage::FileImage(FileImage&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

FileImage& FileImage::operator=(FileImage&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

bool FileImage::Allocate(size_t size) {
  Release();
  if (size == 0) return true;
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  // Large pages: a few faults instead of one per 4 KiB page. Only a hint; failure is harmless.
  ::madvise(memory, size, MADV_HUGEPAGE);
  data_ = static_cast<char*>(memory);
  mapped_ = size;
  return true;
}

void FileImage::Release() {
  if (data_ != nullptr) ::munmap(data_, mapped_);
  data_ = nullptr;
  size_ = mapped_ = 0;
}

Result<FileImage> FileImage::Read(const std::filesystem::path& file) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return ErrnoStatus("open", file, errno);
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return ErrnoStatus("stat", file, errno);
  if (S_ISDIR(info.st_mode)) return ErrnoStatus("read", file, EISDIR);
  FileImage image;
  if (!image.Allocate(static_cast<size_t>(info.st_size))) {
    return ErrnoStatus("read", file, ENOMEM);
  }
  // A file that shrinks meanwhile is read up to its new end; one that grows, up to its old size.
  while (image.size_ < image.mapped_) {
    ssize_t n = ::read(fd.get(), image.data_ + image.size_, image.mapped_ - image.size_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrnoStatus("read", file, errno);
    if (n == 0) break;
    image.size_ += static_cast<size_t>(n);
  }
  return image;
}

FileImage FileImage::Copy(std::string_view bytes) {
  FileImage image;
  if (!image.Allocate(bytes.size())) throw std::bad_alloc();  // as copying into a string would
  if (!bytes.empty()) std::memcpy(image.data_, bytes.data(), bytes.size());
  image.size_ = bytes.size();
  return image;
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
  if (options.durable && ::fsync(fd.get()) != 0) return fail("flush", errno);
  if (::close(fd.Release()) != 0) return fail("close", errno);
  step(AtomicWriteStep::kFlushed);

  if (::rename(temp.c_str(), target.c_str()) != 0) return fail("replace", errno);
  if (options.durable) SyncFolder(folder);
  step(AtomicWriteStep::kRenamed);
  return Status::Ok();
}

Status SyncFileSystem(const std::filesystem::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return ErrnoStatus("open", path, errno);
  if (::syncfs(fd.get()) != 0) return ErrnoStatus("flush", path, errno);
  return Status::Ok();
}

}  // namespace hm
