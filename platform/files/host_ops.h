// File operations on host paths that never go through a symbolic link: links are removed,
// measured and copied as links, and no file is opened for writing through one. The paths given
// must themselves be free of links up to their last component (HostFiles resolves them so).
// Errors carry the Windows code of the failure and the host path. Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/status.h"

namespace hm::files {

// Removes a file, a link or a folder with everything in it.
Status RemoveItem(const std::filesystem::path& item);
// Copies a file, or a folder with everything in it, to `target`; files there are replaced
// (a link found where a file or folder is to be written is removed first). Links are copied as
// links; FIFOs, sockets and devices are left out.
Status CopyItem(const std::filesystem::path& source, const std::filesystem::path& target);
// The size of a file, or the sum of the sizes of the files in a folder; 0 for a link.
uint64_t ItemSize(const std::filesystem::path& item);
// Renames `from` to `to`; ERROR_ALREADY_EXISTS when `to` exists.
Status RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace hm::files
