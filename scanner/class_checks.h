// The checks of the COM registrations: application identifiers (ecAppIDs), classes (ecCLSIDs,
// "Deep Scan"), type libraries (ecTypeLib) and interfaces (ecInterfaces).
#pragma once

#include <string>

#include "scanner/scan_thread.h"

namespace hm::scan {

// The routine of one item of a list key (a subkey's path from the root); returns EnumSubKeys'
// callback codes.
using ItemRoutine = uint8_t (*)(TScanThread& thread, const std::string& path);

// The key `key` under HKEY_LOCAL_MACHINE and then HKEY_CURRENT_USER: its direct subkeys counted
// (counting pass), or walked with `item`; `after_walk` runs after each root's walk in the
// checking pass. Shared by the COM registration and file type checks.
void WalkBothRoots(TScanThread& thread, reg::TRegistryAccess& access, bool count_only,
                   const char* key, ItemRoutine item,
                   void (*after_walk)(TScanThread& thread) = nullptr);

// Puts the four categories' routines into `routines`.
void AddClassChecks(CategoryRoutines* routines);

// The check of a key's "DefaultIcon" subkey (classes and file types): a missing default value,
// or an icon file that does not exist.
void IconCheck(TScanThread& thread, const std::string& key_path);

}  // namespace hm::scan
