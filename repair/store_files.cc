#include "repair/store_files.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "platform/file_io.h"
#include "platform/files/host_files.h"
#include "platform/win_error.h"
#include "registry/path_utils.h"

namespace hm::repair {
namespace {

namespace fs = std::filesystem;
constexpr files::FsView kView = files::FsView::kNative;

// No files installed is a programming error of the caller's set-up; it reads as a missing path.
Status NoFiles(std::string_view path) {
  return Status::Error(kErrorPathNotFound, std::string(path));
}

Result<fs::path> ExistingHostPath(std::string_view path) {
  files::HostFiles* host_files = reg::ProcessFiles();
  if (host_files == nullptr) return NoFiles(path);
  return host_files->HostPath(reg::AnsiToUtf8(path), kView);
}

std::string ParentOf(std::string_view path) {
  const size_t at = path.find_last_of('\\');
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at));
}

}  // namespace

bool FileExistsAt(std::string_view path) {
  const uint32_t attributes = reg::GetFileAttributesA(path);
  return attributes != files::kInvalidFileAttributes &&
         (attributes & files::kFileAttributeDirectory) == 0;
}

Result<std::string> ReadFileAt(std::string_view path) {
  return reg::ReadWholeFileAt(path);
}

Status WriteFileAt(std::string_view path, std::string_view bytes) {
  files::HostFiles* host_files = reg::ProcessFiles();
  if (host_files == nullptr) return NoFiles(path);
  const std::string folder = ParentOf(reg::AnsiToUtf8(path));
  if (!folder.empty()) HM_RETURN_IF_ERROR(host_files->CreateFolder(folder, kView));
  return reg::WriteWholeFileAt(path, bytes);
}

Status AppendLineAt(std::string_view path, std::string_view line) {
  std::string bytes;
  if (FileExistsAt(path)) {
    Result<std::string> old = ReadFileAt(path);
    if (!old.ok()) return old.status();
    bytes = std::move(*old);
    // A file that does not end its last line gets the break first, so lines never merge.
    if (!bytes.empty() && bytes.back() != '\n') bytes += "\r\n";
  }
  bytes.append(line);
  bytes += "\r\n";
  return WriteFileAt(path, bytes);
}

Status DeleteFileAt(std::string_view path) {
  files::HostFiles* host_files = reg::ProcessFiles();
  if (host_files == nullptr) return NoFiles(path);
  return host_files->Delete(reg::AnsiToUtf8(path), kView);
}

bool RemoveEmptyFolderAt(std::string_view path) {
  Result<fs::path> host = ExistingHostPath(path);
  if (!host.ok()) return false;
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(*host, error))) return false;
  const bool removed = fs::remove(*host, error);  // fails on a folder that is not empty
  reg::ProcessFiles()->NoteChanged(reg::AnsiToUtf8(path), kView);
  return removed && !error;
}

std::vector<std::string> SubfolderNames(std::string_view folder) {
  std::vector<std::string> names;
  Result<fs::path> host = ExistingHostPath(folder);
  if (!host.ok()) return names;
  std::error_code error;
  for (fs::directory_iterator it(*host, error), end; !error && it != end; it.increment(error)) {
    std::error_code type_error;
    if (it->is_directory(type_error) && !it->is_symlink(type_error)) {
      names.push_back(reg::Utf8ToAnsi(it->path().filename().string()));
    }
  }
  return names;
}

std::optional<std::chrono::system_clock::time_point> ModifiedTimeAt(std::string_view path) {
  Result<fs::path> host = ExistingHostPath(path);
  if (!host.ok()) return std::nullopt;
  struct stat info {};
  if (::stat(host->c_str(), &info) != 0) return std::nullopt;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

Status SyncStore(std::string_view folder) {
  Result<fs::path> host = ExistingHostPath(folder);
  if (!host.ok()) return Status::Ok();
  return SyncFileSystem(*host);
}

}  // namespace hm::repair
