// The checks of the COM registrations: application identifiers (ecAppIDs), classes (ecCLSIDs,
// "Deep Scan"), type libraries (ecTypeLib) and interfaces (ecInterfaces).
#pragma once

#include <string>

#include "scanner/scan_thread.h"

namespace hm::scan {

// Puts the four categories' routines into `routines`.
void AddClassChecks(CategoryRoutines* routines);

// The check of a key's "DefaultIcon" subkey (classes and file types): a missing default value,
// or an icon file that does not exist.
void IconCheck(TScanThread& thread, const std::string& key_path);

}  // namespace hm::scan
