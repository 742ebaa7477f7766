// The repair engine: carries out the repair action of one finding, after saving what it is about
// to change into the undo store (repair/undo_store.h).
//
// The rule of every action: the backup is written first; when it cannot be written, the
// registry is not touched and the repair fails with the writer's text. When the registry change
// then fails, the backup is deleted again. When it succeeds, the index of the backup's day
// records it. A finding whose key (or, for a shortcut, whose file) no longer exists counts as
// repaired: there is nothing left to do.
//
// Backup names are made of the local time ("yyyy-mm-dd\hhnnsszzz" below the undo folder) and
// never replace an existing backup: a name taken by a file of any of the three extensions, or
// already given out by this process, is not used; the engine waits for the clock to move on, and
// after 24 names in vain it fails the repair without touching the registry.
//
// Changes stay in the registry's memory until the caller commits them (HostRegistry::Commit), once
// per repair run.
//
// Thread safety: main thread only (the engine shares the scanner's state).
#pragma once

#include <functional>
#include <string>

#include "platform/status.h"
#include "scanner/error_list.h"
#include "scanner/scanner.h"

namespace hm::repair {

// Repairs `error`: true when it no longer exists in the registry (repaired, already gone, or
// ignored by the user), false when the repair failed or its action is not repairable. On false
// *error_text says why (it may be empty); on true it is empty. A success lowers the scanner's
// count of unrepaired findings of the category.
bool RepairError(scan::TRegScanner& scanner, const scan::TRegError& error, std::string* error_text);

// Appends "<backup name>=<root name>\<key path>" to the index of the backup's folder.
Status AppendUndoIndex(const std::string& backup_file, const scan::TRegError& error);

// Drops from the key's "MRUList" every letter that names no value of the key, and writes the
// list back; with `backup_file` non-empty the old list is saved there first and the index
// records it. True when nothing is left to repair.
bool DoRebuildMRUList(const scan::TRegError& error, const std::string& backup_file,
                      std::string* error_text);

// The local time backup names are made of.
struct BackupTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
using BackupClock = std::function<BackupTime()>;
// Replaces the system clock (tests); an empty function puts it back.
void SetBackupClockForTesting(BackupClock clock);

}  // namespace hm::repair
