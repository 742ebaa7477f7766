#include "platform/files/host_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace hm::files {
namespace {

namespace fs = std::filesystem;

Status Failed(const std::string& step, const fs::path& path, int err) {
  return Status::Error(WinErrorFromErrno(err), step + " '" + path.string() + "'");
}

// The names in a folder, without "." and "..". Opened without following a link.
Result<std::vector<std::string>> FolderNames(const fs::path& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Failed("open folder", folder, errno);
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    int err = errno;
    close(fd);
    return Failed("open folder", folder, err);
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(dir);
  return names;
}

// Makes room for a new item at `target`: a link or a file there goes; a folder stays when a
// folder is wanted.
Status ClearTarget(const fs::path& target, bool want_folder) {
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) return Status::Ok();
  if (S_ISDIR(st.st_mode)) {
    if (want_folder) return Status::Ok();
    return Status::Error(kErrorAlreadyExists, "a folder is in the way: '" + target.string() + "'");
  }
  if (unlink(target.c_str()) != 0) return Failed("remove", target, errno);
  return Status::Ok();
}

Status CopyFileContents(const fs::path& source, const fs::path& target, mode_t mode) {
  int in = open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return Failed("open", source, errno);
  HM_RETURN_IF_ERROR(ClearTarget(target, /*want_folder=*/false));
  int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
  if (out < 0) {
    int err = errno;
    close(in);
    return Failed("create", target, err);
  }
  char buffer[1 << 16];
  Status status;
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      status = Failed("read", source, errno);
      break;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(out, buffer + done, got - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        status = Failed("write", target, errno);
        break;
      }
      done += put;
    }
    if (!status.ok()) break;
  }
  close(in);
  if (close(out) != 0 && status.ok()) status = Failed("write", target, errno);
  return status;
}

Status CopyLink(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  fs::path link = fs::read_symlink(source, ec);
  if (ec) return Failed("read link", source, ec.value());
  HM_RETURN_IF_ERROR(ClearTarget(target, /*want_folder=*/false));
  if (symlink(link.c_str(), target.c_str()) != 0) return Failed("create link", target, errno);
  return Status::Ok();
}

}  // namespace

Status RemoveItem(const fs::path& item) {
  struct stat st;
  if (lstat(item.c_str(), &st) != 0) return Failed("delete", item, errno);
  if (!S_ISDIR(st.st_mode)) {
    if (unlink(item.c_str()) != 0) return Failed("delete", item, errno);
    return Status::Ok();
  }
  Result<std::vector<std::string>> names = FolderNames(item);
  if (!names.ok()) return names.status();
  for (const std::string& name : *names) HM_RETURN_IF_ERROR(RemoveItem(item / name));
  if (rmdir(item.c_str()) != 0) return Failed("delete folder", item, errno);
  return Status::Ok();
}

Status CopyItem(const fs::path& source, const fs::path& target) {
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) return Failed("copy", source, errno);
  if (S_ISLNK(st.st_mode)) return CopyLink(source, target);
  if (S_ISREG(st.st_mode)) return CopyFileContents(source, target, st.st_mode);
  if (!S_ISDIR(st.st_mode)) return Status::Ok();  // FIFOs, sockets, devices
  HM_RETURN_IF_ERROR(ClearTarget(target, /*want_folder=*/true));
  if (mkdir(target.c_str(), st.st_mode & 0777) != 0 && errno != EEXIST) {
    return Failed("create folder", target, errno);
  }
  Result<std::vector<std::string>> names = FolderNames(source);
  if (!names.ok()) return names.status();
  for (const std::string& name : *names) {
    HM_RETURN_IF_ERROR(CopyItem(source / name, target / name));
  }
  return Status::Ok();
}

uint64_t ItemSize(const fs::path& item) {
  struct stat st;
  if (lstat(item.c_str(), &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
  if (!S_ISDIR(st.st_mode)) return 0;
  Result<std::vector<std::string>> names = FolderNames(item);
  if (!names.ok()) return 0;
  uint64_t total = 0;
  for (const std::string& name : *names) total += ItemSize(item / name);
  return total;
}

Status RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return Status::Ok();
  }
  if (errno != EINVAL && errno != ENOSYS) return Failed("rename", from, errno);
  // The file system cannot refuse to replace by itself; look first.
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return Failed("rename", to, EEXIST);
  if (rename(from.c_str(), to.c_str()) != 0) return Failed("rename", from, errno);
  return Status::Ok();
}

}  // namespace hm::files
