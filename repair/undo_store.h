// The undo store: the backups written before every repair, and their restore.
//
// Layout, below the undo folder (the data folder's "Undo\"):
//   yyyy-mm-dd\            one snapshot folder per day on which repairs were made
//     hhnnsszzz.REG        a backup to import into both views (the key is shared by them)
//     hhnnsszzz.REG32      ... into the 32-bit view only
//     hhnnsszzz.REG64      ... into the 64-bit view only
//     index.txt            one line per repair, in repair order: "<backup name>=<key text>"
// A folder is a snapshot only while it holds index.txt. An index line may have no backup file
// (a value that a repair created, with nothing to bring back); a restore drops such a line.
//
// Restoring imports backups newest first, so that several repairs of one key are undone in the
// reverse order of their making. An import that fails keeps its line and its file, and the
// caller is told how many entries could not be restored.
//
// Thread safety: a TUndoStore is immutable; its operations change files and the registry and
// belong on the main thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hm::repair {

inline constexpr std::string_view kUndoFolderName = "Undo";
inline constexpr std::string_view kUndoIndexFileName = "index.txt";
// Backup extensions by the views the backup is imported into.
inline constexpr std::string_view kBackupBothViews = ".REG";
inline constexpr std::string_view kBackup32 = ".REG32";
inline constexpr std::string_view kBackup64 = ".REG64";

// What a restore did with the index lines it was asked to restore.
struct RestoreOutcome {
  int restored = 0;  // lines whose backups were imported (or had none to import)
  int failed = 0;    // lines kept because an import failed
};

// "Restore completed.", and how many entries could not be restored when some could not.
std::string RestoreCompletedText(const RestoreOutcome& outcome);

class TUndoStore {
 public:
  // `undo_dir`: the undo folder as a Windows path; a trailing backslash is added when missing.
  explicit TUndoStore(std::string undo_dir);

  const std::string& UndoDir() const { return undo_dir_; }

  // The snapshot folders (those holding index.txt), sorted: oldest day first.
  std::vector<std::string> ListSnapshots() const;
  // The distinct key texts of the snapshot's index, sorted and compared without regard to case;
  // empty when the snapshot has no index.
  std::vector<std::string> ListSnapshotItems(std::string_view snapshot) const;
  // When the snapshot's index was last written; nullopt when it has none.
  std::optional<std::chrono::system_clock::time_point> SnapshotAge(std::string_view snapshot) const;
  // Moves the whole snapshot folder to the recycle bin.
  bool DeleteSnapshot(std::string_view snapshot) const;
  // Restores the index lines whose key text is in `keys` (compared without regard to case), or
  // every line when `keys` is null.
  RestoreOutcome RestoreSnapshot(std::string_view snapshot,
                                 const std::vector<std::string>* keys) const;
  // The automatic clean-up: deletes snapshots without an index, and, when `older_than_week` is
  // set, those whose index was last written more than seven days before `now`. Returns how many
  // were deleted.
  int DeleteOldSnapshots(bool older_than_week, std::chrono::system_clock::time_point now) const;

 private:
  std::string IndexPath(std::string_view snapshot) const;

  std::string undo_dir_;
};

// Imports one backup into the views its extension names (".REG": the 32-bit view where there is
// one, then the native view; ".REG32"; ".REG64") and deletes it when every import succeeded.
bool ImportBackupFile(const std::string& file);

// True for a name that can only name an entry of its own folder (no separator, not "." or "..").
bool IsPlainName(std::string_view name);

}  // namespace hm::repair
