// The few file operations of the undo store, on Windows paths (text in the installation's code
// page) resolved through the process's files (registry/path_utils.h), so that the store follows
// the data folder wherever it is mapped and never leaves it through a link.
//
// Every write replaces its file atomically: a killed process leaves the old or the new content,
// never a torn index line. Writes are not flushed one by one (a repair run writes thousands of
// small files); SyncStore() makes everything written durable at once, and callers run it before
// they commit the registry changes the backups are for. Errors carry the Windows code and the
// path.
//
// Thread safety: as HostFiles (safe from any thread); the program uses them on the main thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hm::repair {

bool FileExistsAt(std::string_view path);
Result<std::string> ReadFileAt(std::string_view path);
// Replaces (or creates) the file, creating missing folders on its way.
Status WriteFileAt(std::string_view path, std::string_view bytes);
// Adds `line` and CR LF at the end of the file, which is created when missing.
Status AppendLineAt(std::string_view path, std::string_view line);
Status DeleteFileAt(std::string_view path);
// Removes the folder only when it is empty; false otherwise.
bool RemoveEmptyFolderAt(std::string_view path);
// The names of the folder's subfolders, in no particular order; links are left out.
std::vector<std::string> SubfolderNames(std::string_view folder);
std::optional<std::chrono::system_clock::time_point> ModifiedTimeAt(std::string_view path);
// Flushes everything written below `folder` to disk; nothing to do when it does not exist.
Status SyncStore(std::string_view folder);

}  // namespace hm::repair
