// The checks of file associations and the shell: file types and program identifiers under
// "Software\Classes" (ecFileTypes, "Windows Associations"), the per-user file extension lists and
// the extension table (ecFileExtensions), registered applications (ecApplications), MIME content
// types (ecContentType) and MIME character sets with their code pages (ecCodePages).
//
// Everything here runs on the scan's worker thread, on its one access object.
#pragma once

#include <string>

#include "scanner/scan_thread.h"

namespace hm::scan {

// Puts the five categories' routines into `routines`.
void AddFileTypeChecks(CategoryRoutines* routines);

// The verbs below a "Shell" key `key_path`: each verb's "Command" key must start a program that
// exists. Findings carry `caption`, which also becomes the thread's item caption.
void ShellVerbCheck(TScanThread& thread, const std::string& caption, const std::string& key_path);

// The shell extension handlers below a "ShellEx" key `key_path` (context menu, property sheet,
// drag-and-drop, copy hook and column handler lists, and the single data, drop, icon and
// property handlers): each must name a registered class.
void HandlerChecks(TScanThread& thread, const std::string& key_path);

}  // namespace hm::scan
