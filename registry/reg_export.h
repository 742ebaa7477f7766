// Registry export files: the backups the repair engine writes before it changes anything, and
// their import when a repair is undone.
//
// RegExportValue writes chosen values of one key as a REGEDIT4 file, byte for byte in the
// format the program has always written (8-bit text in the installation's code page, CR LF).
// RegExportKey and RegImportFile keep the contract of the system registry editor's " /e " and
// " /s " switches (a file written for the given key and view, success as exit code 0; a file
// applied to the given view), carried out by the project's own registry editor
// (registry/regedit.h) in-process.
//
// File names are Windows paths, resolved through the process's files (registry/path_utils.h).
// Every failure of a writer leaves no file behind, so the undo store never holds a partial
// backup. Error texts replace what `*error_text` held.
//
// Thread safety: as the registry and file layers below; the program calls these on the main
// thread.
#pragma once

#include <string>
#include <vector>

#include "registry/reg_types.h"

namespace hm::reg {

// The largest value data a backup can hold; larger values cannot be read and are not written.
inline constexpr uint32_t kExportBufferSize = 65535;

// Writes the values `value_names` of the open key `key` to `file_name` under the key line
// "[" + RootKeyToName(root) + "\" + key_path + "]". True when every named value was written; on
// false the file does not exist afterwards and *error_text says why (the last failure).
bool RegExportValue(std::string* error_text, HKEY root, HKEY key,
                    const std::vector<std::string>& value_names, const std::string& file_name,
                    const std::string& key_path);
bool RegExportOneValue(std::string* error_text, HKEY root, HKEY key, const std::string& value_name,
                       const std::string& file_name, const std::string& key_path);

// Exports the key tree `key_path` below `root` in the chosen view. On false the file does not
// exist afterwards.
bool RegExportKey(std::string* error_text, HKEY root, bool view64, const std::string& file_name,
                  const std::string& key_path);

// Imports `file_name` into the native (64-bit on 64-bit Windows) view, or into the 32-bit view
// when `native` is false and the installation has one. True when the whole file was applied.
bool RegImportFile(bool native, const std::string& file_name);

}  // namespace hm::reg
