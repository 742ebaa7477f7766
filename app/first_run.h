// The first-run marker: the value `ProgramWasRun` (REG_DWORD 1) in
// HKEY_CURRENT_USER\Software\Corvexa\Hivemend of the installation's registry.
//
// Uses the process registry (registry/win_registry.h); call on the main thread.
#pragma once

namespace hm::app {

inline constexpr char kFirstRunKey[] = "Software\\Corvexa\\Hivemend";
inline constexpr char kFirstRunValue[] = "ProgramWasRun";

// True unless the marker already holds 1. On a first run the marker is written (the key created
// when it cannot be opened for writing) and its hive written to disk at once, so that the next
// start knows; a marker that cannot be written (a read-only hive) leaves every start a first run.
bool CheckAndMarkFirstRun();

}  // namespace hm::app
