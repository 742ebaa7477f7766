// HostFiles: the files of a Windows installation on disk as a running Windows shows them to a
// 32-bit program.
//
// Drive C: is the installation's root folder; other drive letters are host folders mapped by
// option, and an unmapped letter is a drive that does not exist. Folders outside the installation
// that the program itself may use (its data folder when the installation cannot be written) are
// mapped at a Windows path of their own. A Windows path is normalized as Win32 normalizes it
// (install::ParseWindowsPath), then each component is matched without regard to letter case as
// NTFS matches names. In the redirected view of a 64-bit installation, System32 is SysWOW64 as
// the WOW64 file-system redirector makes it (with its documented exemptions), and SysNative
// reaches the native System32.
//
// Nothing outside the installation and the mapped folders is ever listed, read or changed:
// symbolic links are resolved by this class one at a time against their own root, and a link or
// a ".." that leads outside resolves to "not found" without the target ever being looked at.
// Deletions remove links, never what they point to; copies copy links as links; no file is
// opened for writing through a link.
//
// Folder listings are cached, so that a scan's hundreds of thousands of probes read each folder
// once. Changes made through this class drop the listings they affect; NoteChanged() does the
// same for files written through host paths; DropCache() forgets everything (a scan calls it when
// it starts, so that changes made by others between scans are seen).
//
// Thread safety: all members are safe to call from any thread (one lock guards the cache).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/install/win_path.h"
#include "platform/status.h"

namespace hm::files {

// GetFileAttributes' answers that this layer gives.
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// The view of one call. A 32-bit process under WOW64 sees kRedirected unless it disabled
// redirection on its thread; on a 32-bit installation both views are the same.
enum class FsView { kRedirected, kNative };

// A host folder that the program may use, and the Windows path it is known by.
struct FolderMapping {
  std::string windows_path;  // "C:\Users\demo\AppData\Local\Corvexa"
  std::filesystem::path host_folder;
};

enum class ItemType { kFile, kFolder, kLink, kOther };

// What a Windows path names.
struct Item {
  ItemType type = ItemType::kFile;
  // The normalized Windows path with the names as they are on disk ("C:\Users\demo\x.txt").
  std::string windows_path;
  std::filesystem::path host_path;
  uint64_t size = 0;  // files only
};

// An item moved to a recycle bin.
struct RecycledItem {
  std::string original_path;        // Windows path, as the $I record names it
  uint64_t size = 0;                // the file's size, or the sum of a folder's file sizes
  std::filesystem::path info_file;  // host paths of the $I record and the $R item (or, for a
  std::filesystem::path data_file;  // mapped host folder, the .trashinfo and the trashed item)
};

class HostFiles {
 public:
  struct Options {
    std::vector<install::DriveMapping> drives;  // letters other than C:
    std::vector<FolderMapping> folders;
    // The Windows folder (SystemRoot): where System32 and SysWOW64 are.
    std::string windows_folder = "C:\\Windows";
    // The installation is 64-bit: the redirected view applies the WOW64 redirector.
    bool wow64 = false;
    // Windows version, major * 100 + minor: which redirector exemptions apply (System32\DriverStore
    // from Windows 7 on) and which $I format recycled items get (version 2 from Windows 10 on).
    uint32_t windows_version = 1000;
    // Where items of mapped host folders go when recycled: a freedesktop.org trash folder (with
    // files/ and info/). Empty: such items cannot be recycled (ERROR_NOT_SUPPORTED).
    std::filesystem::path host_trash;
  };

  // Fails when `root` is not a folder, or an option names a folder mapping that does not parse.
  // Mapped folders need not exist yet.
  static Result<std::unique_ptr<HostFiles>> Open(const std::filesystem::path& root,
                                                 const Options& options);
  ~HostFiles();
  HostFiles(const HostFiles&) = delete;
  HostFiles& operator=(const HostFiles&) = delete;

  // --- Probes ---

  // kFileAttributeDirectory for a folder, kFileAttributeArchive for anything else that exists;
  // kInvalidFileAttributes with the Windows error in *error otherwise (ERROR_FILE_NOT_FOUND,
  // ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME, ...). Links are followed.
  uint32_t GetFileAttributes(std::string_view windows_path, FsView view, uint32_t* error = nullptr);
  // The type of the drive whose root `root` names ("C:", "C:\"); kDriveNoRootDir for anything
  // else, UNC shares included (this program has no network).
  install::DriveType GetDriveType(std::string_view root) const;
  // The NT device name of a drive ("\Device\HarddiskVolume2" for C:), as QueryDosDevice gives
  // it; empty for a letter that is not mapped.
  std::string QueryDosDevice(char letter) const;
  // The existing item a path names, links followed (size read from the host).
  Result<Item> Stat(std::string_view windows_path, FsView view);
  // The host path of an existing item, for reading it (links followed).
  Result<std::filesystem::path> HostPath(std::string_view windows_path, FsView view);
  // The host path of an item to be created: existing folders on the way are matched as above,
  // the missing rest is taken as written. ERROR_PATH_NOT_FOUND when a component on the way is a
  // file. Call NoteChanged() after writing there.
  Result<std::filesystem::path> HostPathForCreate(std::string_view windows_path, FsView view);

  // --- Changes (each drops the cached listings it affects) ---

  // Creates the folder and any missing folders on its way.
  Status CreateFolder(std::string_view windows_path, FsView view);
  // Deletes a file, a link (not its target) or a folder with everything in it.
  Status Delete(std::string_view windows_path, FsView view);
  // Renames an item within its folder or moves it within its drive. ERROR_ALREADY_EXISTS when
  // the target exists (a change of letter case only is allowed), ERROR_NOT_SAME_DEVICE across
  // drives.
  Status Rename(std::string_view from, std::string_view to, FsView view);
  // Copies a file or a folder tree to `to`, replacing files there; `to` and missing folders on
  // its way are created. Links inside a copied folder are copied as links; other special files
  // are left out. ERROR_ALREADY_EXISTS when a folder would replace a file,
  // ERROR_INVALID_PARAMETER when `to` is the source or lies inside it.
  Status Copy(std::string_view from, std::string_view to, FsView view);
  // Moves an item into the recycle bin of its drive, `$Recycle.Bin\<sid>`, as Windows does:
  // the item becomes `$R<6 characters><extension>` and a record `$I...` names its original path,
  // size and deletion time (format 2 from Windows 10 on, else 1), so the Windows user can
  // restore it. Items of mapped host folders go to Options::host_trash.
  Result<RecycledItem> Recycle(std::string_view windows_path, FsView view, std::string_view sid);

  // Tells the cache that the item was created, changed or deleted through its host path.
  void NoteChanged(std::string_view windows_path, FsView view);
  // Forgets every cached listing.
  void DropCache();

  struct CacheStats {
    uint64_t folders_listed = 0;  // folders read from the disk since the start
    uint64_t cached_entries = 0;  // names held now
  };
  CacheStats cache_stats();

 private:
  struct Node;
  struct Entry;
  struct Tree;
  struct Found;
  enum class Follow { kAll, kNotLast };

  HostFiles();
  Status Init(const std::filesystem::path& root, const Options& options);

  Status Parse(std::string_view windows_path, FsView view, install::WindowsPath* path) const;
  void Redirect(install::WindowsPath* path) const;
  Tree* TreeOf(install::WindowsPath* path);
  uint32_t LocateLocked(std::string_view windows_path, FsView view, Follow follow, Found* found);
  uint32_t Walk(Tree& tree, std::vector<std::string> components, Follow follow, Found* found);
  Node& Listed(Tree& tree, Entry* folder, const std::vector<std::string>& names);
  Entry* Lookup(Tree& tree, Node& node, const std::vector<std::string>& names,
                const std::string& name);
  const std::string& LinkTarget(Tree& tree, Entry& entry, const std::vector<std::string>& names);
  void ForgetFolderLocked(Tree& tree, const std::vector<std::string>& names);
  void ForgetFolder(Tree& tree, const std::vector<std::string>& names);
  Result<Found> Locate(std::string_view windows_path, FsView view, Follow follow);
  Result<Found> LocateForCreate(std::string_view windows_path, FsView view);
  Status MakeFolders(const Found& target);
  Result<RecycledItem> RecycleToBin(const Found& item, std::string_view sid);
  Result<RecycledItem> RecycleToHostTrash(const Found& item);

  Options options_;
  install::WindowsPath windows_folder_;
  std::vector<std::unique_ptr<Tree>> trees_;  // the drives, then the mapped folders
  Tree* drives_[26] = {};

  std::mutex mutex_;
  // State below is protected by mutex_ (inside the trees as well).
  uint64_t folders_listed_ = 0;
  uint64_t cached_entries_ = 0;
};

}  // namespace hm::files
