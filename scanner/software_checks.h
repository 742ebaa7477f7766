// The checks of the registry lists that name program files, folders and installed software:
// application paths (ecAppPaths), the add/remove caches and uninstall entries
// (ecAddRemoveCache), shared DLLs (ecSharedFiles), installed files (ecInstalledFiles), the
// known-DLL lists (ecSessionManagerKnownDLLs), virtual device drivers (ecVirualDevices), the
// startup lists (ecStartup), the shell folder lists (ecShellFolders), fonts (ecWindowsFonts) and
// help files (ecHelpFiles, ecHTMLHelp).
//
// The routines run on the scan's worker thread, as every category routine does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scanner/scan_thread.h"

namespace hm::scan {

// Puts the eleven categories' routines into `routines`.
void AddSoftwareChecks(CategoryRoutines* routines);

// The record the system keeps in an add/remove cache entry's "SlowInfoCache" value.
inline constexpr size_t kSlowInfoCacheSize = 552;

// The program file name of a "SlowInfoCache" record in the installation's code page: nullopt
// when the record is not one (wrong size, no name recorded) or when its name cannot be written
// in the code page (such a name cannot be probed through the code page, so it is not judged).
std::optional<std::string> SlowInfoCacheProgram(std::string_view record);

}  // namespace hm::scan
