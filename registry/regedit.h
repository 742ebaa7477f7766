// The project's own registry editor: export of a key tree to a registry editor file and import
// of such files, in-process, over a HostRegistry.
//
// Export writes "Windows Registry Editor Version 5.00" text in UTF-16LE with its byte-order mark
// and CR LF line ends, as Windows' regedit writes it: the key line, the key's values in their
// stored order, an empty line, then each subkey in the registry's order, depth first. It is the
// only backup of a deleted key, so it is lossless: names come from the UTF-16 interface (never
// through the ANSI code page), every value type is written (REG_SZ as "text", REG_DWORD of four
// bytes as dword:, REG_BINARY as hex:, everything else as hex(<type in hex>):), and a REG_SZ
// whose data a quoted string would not give back exactly (no terminator, embedded NULs, odd
// size, line breaks, empty data) is written as hex(1): with its exact bytes. A name that no
// registry file can hold (a key name with a line break, a name with a NUL) fails the export
// rather than writing a backup that would restore something else.
//
// Import reads REGEDIT4 and version 5 files (platform/regedit/reg_file.h, described in
// docs/reg-file-format.md) and checks the whole file against the registry before it changes
// anything: syntax, roots that can take keys, key and value names the registry accepts, and
// that every key to be created, changed or deleted can be changed (a read-only hive, a key below
// HKLM itself). A file that fails is rejected with "<label>: line <n>: <what>" and nothing is
// changed. Then the operations are applied in file order: keys are created with their missing
// parents, values set, `[-KEY]` deletes the key and its subtree (a missing key is no error),
// `"name"=-` deletes a value (a missing value is no error). Changes stay in memory under the
// registry's own commit rules; the caller commits.
//
// Views: a key text names a key in the view of the call. On an installation with the two views
// of 64-bit Windows, view64 = false is the 32-bit view (HKLM\SOFTWARE\X is
// SOFTWARE\WOW6432Node\X there); on any other installation there is one view and view64 does
// not matter.
//
// Thread safety: the functions are safe from any thread as HostRegistry is; the test seam below
// is set by tests on their main thread while nothing else runs an export or import.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/regedit/reg_file.h"
#include "platform/status.h"
#include "registry/host_registry.h"
#include "registry/reg_types.h"

namespace hm::reg {

// The access bits that select the view of an export or import on `registry`.
REGSAM RegEditViewBits(const HostRegistry& registry, bool view64);

// The whole export file (UTF-16LE with byte-order mark) of the key `path` below `root` and
// everything under it, in the chosen view. ERROR_FILE_NOT_FOUND (context naming the key) when
// the key does not exist; ERROR_INVALID_NAME for a name no registry file can hold.
Result<std::string> ExportKeyTree(HostRegistry& registry, HKEY root, std::u16string_view path,
                                  bool view64);

// Parses `bytes` (REGEDIT4 text in the installation's code page, or a version 5 file) and checks
// every operation against the registry in the chosen view. Changes nothing. Errors are
// ERROR_INVALID_DATA (syntax, names, roots) or the registry's refusal (ERROR_ACCESS_DENIED, ...),
// each with the context "<label>: line <n>: ...".
Result<regedit::RegFile> CheckRegFile(HostRegistry& registry, std::string_view bytes, bool view64,
                                      std::string_view label);
// Applies a file that CheckRegFile accepted. Stops at the first refusal (which the check makes
// unlikely: only a change made by someone else in between can cause one).
Status ApplyRegFile(HostRegistry& registry, const regedit::RegFile& file, bool view64,
                    std::string_view label);
// CheckRegFile, then ApplyRegFile.
Status ImportRegFile(HostRegistry& registry, std::string_view bytes, bool view64,
                     std::string_view label);

// Appends `data` as a hex list ("0A,FF,...") as both registry editor formats write it: a line
// holds bytes until the column counter, which starts at `column` and grows by 3 per byte with
// its comma, reaches 77; the line then ends in ",\" + CR LF and the next one begins with two
// spaces (counter 2). Upper- or lower-case digits.
void AppendRegHexList(std::string* out, std::string_view data, size_t column, bool upper_case);

// --- Exit codes of the in-process editor, and the test seam ---

// What the editor "process" answers: 0 success, 1 failure (as Windows' regedit exits).
inline constexpr uint32_t kRegEditExitOk = 0;
inline constexpr uint32_t kRegEditExitFailed = 1;

// A fault the tests of the callers can impose on the editor (RegExportKey and RegImportFile of
// registry/reg_export.h):
//   kCannotStart  the editor cannot be started: RegExportKey returns false and leaves its error
//                 text as it was, RegImportFile returns false; no file is written, nothing is
//                 imported;
//   kExitCode     "the registry editor is not available": the editor ends with the given
//                 non-zero exit code: RegExportKey fails with "ExitCode: <code>" and writes no
//                 file, RegImportFile returns false and imports nothing.
enum class RegEditFault { kNone, kCannotStart, kExitCode };

// Imposes a fault for its lifetime and restores the previous state afterwards. Not for use
// while another thread exports or imports.
class ScopedRegEditFault {
 public:
  explicit ScopedRegEditFault(RegEditFault fault, uint32_t exit_code = kRegEditExitFailed);
  ~ScopedRegEditFault();
  ScopedRegEditFault(const ScopedRegEditFault&) = delete;
  ScopedRegEditFault& operator=(const ScopedRegEditFault&) = delete;

 private:
  RegEditFault previous_fault_;
  uint32_t previous_exit_code_;
};

// The fault now imposed; *exit_code receives its exit code.
RegEditFault CurrentRegEditFault(uint32_t* exit_code);

}  // namespace hm::reg
