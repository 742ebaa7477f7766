#include "repair/undo_store.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/text_lines.h"
#include "registry/reg_export.h"
#include "registry/registry_access.h"
#include "registry/shell_files.h"
#include "registry/win_registry.h"
#include "repair/store_files.h"

namespace hm::repair {
namespace {

constexpr auto kOneWeek = std::chrono::hours(24 * 7);

std::string WithBackslash(std::string path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

// The key text of an index line (after its first "="); nullopt for a line without one.
std::optional<std::string_view> KeyTextOf(std::string_view line) {
  const size_t at = line.find('=');
  if (at == std::string_view::npos) return std::nullopt;
  return line.substr(at + 1);
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

// Restores the backups of one index line; true when the line is done with (a line without
// backup file has nothing to restore).
bool RestoreLine(const std::string& base) {
  const std::string both = base + std::string(kBackupBothViews);
  if (FileExistsAt(both)) return ImportBackupFile(both);
  bool ok = true;
  const std::string file32 = base + std::string(kBackup32);
  if (FileExistsAt(file32)) ok = ImportBackupFile(file32);
  const std::string file64 = base + std::string(kBackup64);
  if (FileExistsAt(file64) && !ImportBackupFile(file64)) ok = false;
  return ok;
}

}  // namespace

std::string RestoreCompletedText(const RestoreOutcome& outcome) {
  std::string text = "Restore completed.";
  if (outcome.failed == 1) {
    text += " 1 entry could not be restored; it stays in the list for a later attempt.";
  } else if (outcome.failed > 1) {
    text += " " + std::to_string(outcome.failed) +
            " entries could not be restored; they stay in the list for a later attempt.";
  }
  return text;
}

bool ImportBackupFile(const std::string& file) {
  const size_t dot = file.find_last_of('.');
  const std::string_view extension =
      dot == std::string::npos ? std::string_view() : std::string_view(file).substr(dot);
  bool ok = true;
  if (extension == kBackupBothViews) {
    // A shared key is imported into the 32-bit view as well where there is one.
    ok = !reg::Is64BitWindows() || reg::RegImportFile(false, file);
    ok = reg::RegImportFile(true, file) && ok;
  } else {
    ok = reg::RegImportFile(extension == kBackup64, file);
  }
  // A file left behind after a successful import is harmless: its index line is gone.
  if (ok) (void)DeleteFileAt(file);
  return ok;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string_view::npos;
}

TUndoStore::TUndoStore(std::string undo_dir) : undo_dir_(WithBackslash(std::move(undo_dir))) {}

std::string TUndoStore::IndexPath(std::string_view snapshot) const {
  return undo_dir_ + std::string(snapshot) + "\\" + std::string(kUndoIndexFileName);
}

std::vector<std::string> TUndoStore::ListSnapshots() const {
  std::vector<std::string> names;
  for (std::string& name : SubfolderNames(undo_dir_)) {
    if (FileExistsAt(IndexPath(name))) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> TUndoStore::ListSnapshotItems(std::string_view snapshot) const {
  std::vector<std::string> items;
  if (!IsPlainName(snapshot)) return items;
  Result<std::string> index = ReadFileAt(IndexPath(snapshot));
  if (!index.ok()) return items;
  // Sorted and distinct without regard to case; the first spelling met is the one shown.
  std::map<std::u16string, std::string> by_upcased;
  for (const std::string& line : SplitLines(*index)) {
    if (std::optional<std::string_view> key = KeyTextOf(line)) {
      by_upcased.emplace(reg::UpcasedName(*key), std::string(*key));
    }
  }
  for (auto& [upcased, key] : by_upcased) items.push_back(std::move(key));
  return items;
}

std::optional<std::chrono::system_clock::time_point> TUndoStore::SnapshotAge(
    std::string_view snapshot) const {
  if (!IsPlainName(snapshot)) return std::nullopt;
  return ModifiedTimeAt(IndexPath(snapshot));
}

bool TUndoStore::DeleteSnapshot(std::string_view snapshot) const {
  if (!IsPlainName(snapshot)) return false;
  return reg::ShellDelete(undo_dir_ + std::string(snapshot), /*allow_undo=*/true);
}

RestoreOutcome TUndoStore::RestoreSnapshot(std::string_view snapshot,
                                           const std::vector<std::string>* keys) const {
  RestoreOutcome outcome;
  if (!IsPlainName(snapshot)) return outcome;
  const std::string index_path = IndexPath(snapshot);
  Result<std::string> index = ReadFileAt(index_path);
  if (!index.ok()) return outcome;

  std::set<std::u16string> wanted;
  if (keys != nullptr) {
    for (const std::string& key : *keys) wanted.insert(reg::UpcasedName(key));
  }
  std::vector<std::string> lines = SplitLines(*index);
  const std::string folder = undo_dir_ + std::string(snapshot) + "\\";
  // Newest repair first: its backup holds the state the older repairs left.
  for (size_t i = lines.size(); i-- > 0;) {
    const std::optional<std::string_view> key = KeyTextOf(lines[i]);
    if (!key) {
      lines.erase(lines.begin() + i);
      continue;
    }
    if (keys != nullptr && !wanted.contains(reg::UpcasedName(*key))) continue;
    const std::string name = lines[i].substr(0, lines[i].find('='));
    // A name that is not a plain file name cannot be one of ours: there is nothing to import.
    if (IsPlainName(name) && !RestoreLine(folder + name)) {
      ++outcome.failed;
      continue;
    }
    ++outcome.restored;
    lines.erase(lines.begin() + i);
  }

  if (!lines.empty()) {
    (void)WriteFileAt(index_path, JoinLines(lines));
  } else if (DeleteFileAt(index_path).ok()) {
    RemoveEmptyFolderAt(undo_dir_ + std::string(snapshot));
  }
  return outcome;
}

int TUndoStore::DeleteOldSnapshots(bool older_than_week,
                                   std::chrono::system_clock::time_point now) const {
  int deleted = 0;
  for (const std::string& snapshot : ListSnapshots()) {
    const std::optional<std::chrono::system_clock::time_point> age = SnapshotAge(snapshot);
    const bool old = !age || (older_than_week && now - *age > kOneWeek);
    if (old && DeleteSnapshot(snapshot)) ++deleted;
  }
  return deleted;
}

}  // namespace hm::repair
