// Whole-file reads and atomic whole-file replacement on the host file system.
// Stateless: thread-safe (two writers of the same target race as rename(2) does: last one wins).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hm {

// Reads a whole file. Errors carry the Windows code of the failure and the path as context.
Status ReadWholeFile(const std::filesystem::path& file, std::string* bytes);

// A whole file read into memory of its own, for large files read once and parsed: the memory
// is taken in large pages where the host allows, so reading a hive of hundreds of megabytes
// costs little more than the copy. Read with read(2), not mapped, so that an I/O error of a
// failing disk is an error code, not a signal. Move-only; not thread-safe.
class FileImage {
 public:
  FileImage() = default;
  ~FileImage();
  FileImage(FileImage&& other) noexcept;
  FileImage& operator=(FileImage&& other) noexcept;
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  static Result<FileImage> Read(const std::filesystem::path& file);
  // An image holding a copy of `bytes` (for images that do not come from a file).
  static FileImage Copy(std::string_view bytes);

  std::string_view bytes() const { return {data_, size_}; }

 private:
  bool Allocate(size_t size);
  void Release();

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;
};

// The steps of AtomicWriteFile, in order; a test can stop the process between any two.
enum class AtomicWriteStep { kTempCreated, kDataWritten, kFlushed, kRenamed };

struct AtomicWriteOptions {
  // Called after each step (test hook; may end the process).
  std::function<void(AtomicWriteStep)> on_step;
  // Flush the file and its folder to disk before and after the rename. Without, the replacement
  // is still atomic for every reader and against the process being killed, but not against a
  // power failure until SyncFileSystem() has run: for many small files written in one piece of
  // work, which is then made durable once.
  bool durable = true;
};

// Replaces `target` with `bytes` so that at every moment the file is either the old one or the
// complete new one: a temporary file in the same folder is written, flushed to disk, given the
// old file's permissions, renamed over the target, and the folder is flushed. On failure the
// temporary file is removed and the target is untouched.
Status AtomicWriteFile(const std::filesystem::path& target, std::string_view bytes,
                       const AtomicWriteOptions& options = {});

// Flushes everything written to the file system that holds `path` to disk (syncfs).
Status SyncFileSystem(const std::filesystem::path& path);

}  // namespace hm
