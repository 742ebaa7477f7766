// The checks of the user's history lists (ecHistoryLists: the open and save dialogs' lists, the
// Run dialog's list, the Paint and WordPad recent files), of the start menu (ecStartMenu: the
// shortcut files of the desktop, recent and start menu folders, and the menu order keys) and
// the full path scan (ecFilePathRefs: every text value of HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER that names a file on a fixed drive).
#pragma once

#include "scanner/scan_thread.h"

namespace hm::scan {

// Puts the three categories' routines into `routines`. ecOpenGLDrivers keeps no routine: its
// category runs no check and completes with no items.
void AddHistoryChecks(CategoryRoutines* routines);

}  // namespace hm::scan
