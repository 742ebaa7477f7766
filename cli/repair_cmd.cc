// repair and undo: the repair of a fresh scan's findings with a backup of everything changed,
// and the undo store's snapshots listed and restored.
//
// A repair run changes the registry in memory, finding by finding, each change after its backup
// was written to the undo store; the hives are committed once, at the end of the run. A process
// killed during the run therefore leaves every hive file as it was.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/render.h"
#include "cli/scan_session.h"
#include "platform/win_error.h"
#include "registry/registry_access.h"
#include "repair/repair_engine.h"
#include "repair/store_files.h"
#include "repair/undo_store.h"
#include "scanner/scanner.h"

namespace hm::cli {
namespace {

using scan::TErrorCategory;
using scan::TRegError;
using scan::TRegScanner;

std::string UndoFolder(const ScanSession& session) {
  const std::string data = session.DataFolder();
  return data.empty() ? std::string() : data + "\\" + std::string(repair::kUndoFolderName);
}

// What the repair of `finding` changes, in words.
std::string PlannedChange(const TRegError& finding) {
  const std::string key = Show(finding.KeyText());
  const std::string value = "value \"" + Show(finding.ValueText()) + "\" of " + key;
  switch (finding.Action()) {
    case scan::raDeleteKey: return "delete key " + key;
    case scan::raDeleteValue: return "delete " + value;
    case scan::raDeleteValueAndEmptyKey: return "delete " + value + ", and the key when empty";
    case scan::raRemoveListItem: return "remove \"" + Show(finding.Data()) + "\" from " + value;
    case scan::raClearValue: return "clear " + value;
    case scan::raRebuildMRUList: return "rebuild the MRUList of " + key;
    case scan::raDeleteMRUEntry: return "delete " + value + " and rebuild the MRUList";
    case scan::raRecycleFile: return "move " + Show(finding.KeyPath()) + " to the recycle bin";
    default: return "nothing (not repairable): " + key;
  }
}

std::vector<TRegError*> FindingsInRepairOrder(const TRegScanner& scanner) {
  std::vector<TRegError*> findings;
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    for (int i = 0; i < scanner.CategoryErrorCount(category); ++i) {
      findings.push_back(scanner.GetError(category, i));
    }
  }
  return findings;
}

void ShowProgress(size_t done, size_t total) {
  if (!::isatty(STDERR_FILENO)) return;
  if (done == total) {
    std::fputs("\r\033[K", stderr);
  } else {
    std::fprintf(stderr, "\rRepairing %zu of %zu\033[K", done + 1, total);
  }
  std::fflush(stderr);
}

// Opens the installation writable; hive replacements waiting from an earlier run must be carried
// out by the program first (opening read-only keeps them waiting).
Result<std::unique_ptr<ScanSession>> OpenForChange(const std::filesystem::path& root,
                                                   const RegistryChoice& choice,
                                                   std::string* undo_folder) {
  if (KindOf(root) != PathKind::kFolder) {
    return Status::Error(kErrorInvalidParameter, root.string() + ": not an installation folder");
  }
  Result<std::unique_ptr<ScanSession>> session = ScanSession::Open(root, choice.user);
  if (!session.ok()) return session;
  if ((*session)->replacements_waiting()) {
    return Status::Error(kErrorAccessDenied,
                         "hive replacements of an earlier run are waiting; the registry is "
                         "left unchanged until they are carried out");
  }
  *undo_folder = UndoFolder(**session);
  if (undo_folder->empty()) {
    return Status::Error(kErrorPathNotFound, "the user has no local application data folder "
                                             "for the undo store");
  }
  return session;
}

int Committed(reg::HostRegistry& registry) {
  const Status committed = registry.Commit();
  if (committed.ok()) return kExitOk;
  std::printf("The changes could not be written: %s\n", committed.ToString().c_str());
  return kExitDamaged;
}

}  // namespace

int Repair(const std::filesystem::path& root, const RepairOptions& options) {
  std::string error;
  const scan::TErrorCategories categories = ParseCategories(options.categories, &error);
  if (!error.empty()) return Fail(error);
  std::string undo_folder;
  Result<std::unique_ptr<ScanSession>> session =
      OpenForChange(root, options.registry, &undo_folder);
  if (!session.ok()) return Fail(session.status().context());

  std::vector<std::string> notes;
  MainThreadQueue main_thread;
  TRegScanner scanner(main_thread, ProgressRoutines());
  scanner.SetScanCategories(categories);
  scanner.SetIgnoreList((*session)->IgnoreList(&notes));
  scanner.SetBackupFolder(undo_folder);
  const ScanOutcome outcome = RunScan(scanner, main_thread);
  for (const std::string& note : notes) std::printf("Note: %s\n", Printable(note).c_str());
  if (outcome.stopped) {
    std::printf("The scan was stopped; nothing was repaired.\n");
    return kExitStopped;
  }

  const std::vector<TRegError*> findings = FindingsInRepairOrder(scanner);
  if (options.dry_run) {
    for (const TRegError* finding : findings) std::printf("would %s\n", PlannedChange(*finding).c_str());
    std::printf("%zu finding(s); nothing was changed (dry run).\n", findings.size());
    return kExitOk;
  }

  size_t repaired = 0;
  for (size_t i = 0; i < findings.size(); ++i) {
    ShowProgress(i, findings.size());
    std::string text;
    if (repair::RepairError(scanner, *findings[i], &text)) {
      ++repaired;
      std::printf("repaired: %s\n", PlannedChange(*findings[i]).c_str());
    } else {
      std::printf("FAILED:   %s%s%s\n", PlannedChange(*findings[i]).c_str(),
                  text.empty() ? "" : ": ", Show(text).c_str());
    }
  }
  ShowProgress(findings.size(), findings.size());
  // The backups reach the disk before the changes they are for.
  if (const Status synced = repair::SyncStore(undo_folder); !synced.ok()) {
    std::printf("Warning: the backups could not be flushed to disk: %s\n",
                synced.ToString().c_str());
  }
  const int committed = Committed((*session)->registry());
  std::printf("Repaired %zu of %zu finding(s). Backups are in %s.\n", repaired, findings.size(),
              Show(undo_folder).c_str());
  if (committed != kExitOk) return committed;
  return repaired == findings.size() ? kExitOk : kExitDamaged;
}

int UndoList(const std::filesystem::path& root, const RegistryChoice& choice) {
  std::string undo_folder;
  Result<std::unique_ptr<ScanSession>> session = OpenForChange(root, choice, &undo_folder);
  if (!session.ok()) return Fail(session.status().context());
  const repair::TUndoStore store(undo_folder);
  const std::vector<std::string> snapshots = store.ListSnapshots();
  for (const std::string& snapshot : snapshots) {
    const std::vector<std::string> items = store.ListSnapshotItems(snapshot);
    std::printf("%s  %zu item(s)\n", Show(snapshot).c_str(), items.size());
    for (const std::string& item : items) std::printf("  %s\n", Show(item).c_str());
  }
  if (snapshots.empty()) std::printf("No snapshots in %s.\n", Show(undo_folder).c_str());
  return kExitOk;
}

int UndoRestore(const std::filesystem::path& root, const UndoOptions& options) {
  std::string undo_folder;
  Result<std::unique_ptr<ScanSession>> session =
      OpenForChange(root, options.registry, &undo_folder);
  if (!session.ok()) return Fail(session.status().context());
  const repair::TUndoStore store(undo_folder);
  std::vector<std::string> snapshots = store.ListSnapshots();
  if (!options.all) {
    if (std::find(snapshots.begin(), snapshots.end(), options.snapshot) == snapshots.end()) {
      return Fail("no snapshot " + options.snapshot + " (see undo list)");
    }
    snapshots = {options.snapshot};
  }
  // Key texts as the index writes them: the root's full name.
  std::vector<std::string> keys;
  for (const std::string& text : options.keys) {
    const size_t slash = text.find('\\');
    const reg::HKEY root_key = reg::NameToRootKey(text.substr(0, slash));
    if (root_key == 0 || slash == std::string::npos) return Fail("not a key text: " + text);
    keys.push_back(reg::RootKeyToName(root_key) + text.substr(slash));
  }
  repair::RestoreOutcome total;
  // Newest snapshot first, as each snapshot restores its newest entry first.
  for (auto it = snapshots.rbegin(); it != snapshots.rend(); ++it) {
    const repair::RestoreOutcome outcome =
        store.RestoreSnapshot(*it, keys.empty() ? nullptr : &keys);
    total.restored += outcome.restored;
    total.failed += outcome.failed;
  }
  const int committed = Committed((*session)->registry());
  std::printf("%s\n", repair::RestoreCompletedText(total).c_str());
  if (committed != kExitOk) return committed;
  return total.failed == 0 ? kExitOk : kExitDamaged;
}

}  // namespace hm::cli
