// Path and file-reference utilities: how a text found in the registry (a command line, an icon
// reference "file,index", a shared DLL path, a help file, an install folder) becomes a path and
// is tested, and the small text, folder and number helpers the scanner, the repair engine, the
// backup code and the cleaner share.
//
// The tests are forgiving, because a false "missing" leads a repair to delete a valid entry: a
// text that cannot be judged counts as existing; unquoted paths with spaces are found by growing
// prefixes; environment variables, the system search folders, the shared-DLL list and both
// halves of 64-bit Windows (the program-files folders, the redirected system folder) are tried
// before a reference counts as broken.
//
// Texts are in the installation's ANSI code page, as the "A" functions of Windows take them.
// Positions count from 1. Comparisons are exact unless a function says it lower-cases first
// (ASCII letters only, as the program's LowerCase does).
//
// Everything here works on the installation's files and environment installed by
// SetProcessFiles(), in the file-system view of the calling thread: System32 is SysWOW64 unless
// the thread disabled WOW64 redirection (registry_access.h). Without them, probes find nothing,
// expansions return their input and folders are empty.
//
// Thread safety: every function is safe from any thread once SetProcessFiles() has run; the
// search folder list is built once, under a lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/host_files.h"
#include "platform/status.h"
#include "registry/host_environment.h"

namespace hm::reg {

// Installs the file system and the environment the functions below work on (both may be null
// to remove them), and forgets the search folder list. Call once at start, after
// InitRegistryAccess() and before threads start; both must outlive their use.
void SetProcessFiles(files::HostFiles* files, const HostEnvironment* environment);
files::HostFiles* ProcessFiles();
const HostEnvironment* ProcessEnvironment();

// The installation's code page <-> UTF-8 (the file layer's form of names).
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

// --- The kernel functions the tests rest on, in the calling thread's view ---

// GetFileAttributesA: files::kFileAttributeDirectory, kFileAttributeArchive or
// files::kInvalidFileAttributes. Paths of MAX_PATH (260) characters or more fail, as they do for
// the "A" functions, unless they begin with "\\?\".
uint32_t GetFileAttributesA(std::string_view path);
// GetDriveTypeA of a drive root ("C:" or "C:\").
uint32_t GetDriveTypeA(std::string_view root);
// Delphi's FileExists and DirectoryExists on GetFileAttributesA.
bool FileExists(std::string_view path);
// Whole files at Windows paths, in the calling thread's file-system view. ReadWholeFileAt reads an
// existing file as it is on disk now. WriteWholeFileAt replaces the file at once (a temporary
// file renamed over it, so no reader sees a partial file) without flushing it to disk: a piece of
// work that writes many files makes them durable once (SyncFileSystem). Folders are not created.
Result<std::string> ReadWholeFileAt(std::string_view path);
Status WriteWholeFileAt(std::string_view path, std::string_view bytes);
bool DirectoryExists(std::string_view path);
// Delphi's ExtractFileDrive: "C:" of "C:\x", "\\server\share" of a UNC path, else "".
std::string ExtractFileDrive(std::string_view path);

// --- Text helpers ---

// The token at *pos up to the next `delim` (or the end); *pos then points behind that delimiter,
// or past the end. With a space as delimiter, spaces at *pos are skipped first.
std::string GetNextToken(std::string_view text, int* pos, char delim);
// GetNextToken read as a signed decimal number (its first 12 characters at most); 0 when the
// token is no number or does not fit.
int32_t GetNextIntToken(std::string_view text, int* pos, char delim);
// The text without its enclosing double quotes, when it has at least two characters and begins
// and ends with one; else the text itself.
std::string StripQuotes(std::string_view text);
// The first position at or after `from` whose character is in `set`; 0 when none.
int FindCharOfSet(int from, std::string_view text, std::string_view set);
// At the last comma: *path = StripQuotes(Trim(before)), *args = Trim(after). Without a comma
// *path is the text and *args empty. For "file,index" references.
void SplitCommaArgs(std::string_view text, std::string* path, std::string* args);
std::string StripCommaArgs(std::string_view text);
// Splits the first `size` bytes at each ';' outside double quotes; quotes stay in the segments,
// empty segments between separators are kept, the text after the last separator only when it is
// not empty, and each segment ends at an embedded NUL (so a REG_SZ value's terminating NUL is no
// part of it).
void SplitOutsideQuotes(const char* data, size_t size, std::vector<std::string>* list);
// Appends the strings of REG_MULTI_SZ data, up to the first empty one or the end of `size`.
void SplitMultiSz(const char* data, size_t size, std::vector<std::string>* list);
// False when the text holds a control character or one of  " < > |  (paths), or also one of
// * / : ? \  (file names).
bool IsValidPathText(std::string_view text);
bool IsValidFileNameText(std::string_view text);
// "1,024.00 MB", "12 KB", "1024 B": above 1 GB and 1 MB with two decimals and thousands
// separators of the user's number format, above 1 KB in whole kilobytes, else in bytes.
std::string FormatByteSize(int64_t size);
std::string FormatByteSize(int64_t size, char decimal_separator, char thousand_separator);
// UTF-16 -> UTF-8 without a terminating NUL; false when that gives nothing.
bool WideToUtf8(std::u16string_view wide, std::string* bytes);

// --- Folders (texts in the code page) ---

// "c:\windows\system32\" and "c:\windows\": lower case, with a trailing backslash.
std::string GetSystemDirLower();
std::string GetWindowsDirLower();
// GetTempPathA: TMP, TEMP, USERPROFILE or the Windows folder, with a trailing backslash.
std::string GetTempDir();
// SHGetFolderPathA for a shell folder identifier (CSIDL_*); with CSIDL_FLAG_CREATE in `csidl`
// or `create` set, a missing folder is created. `window` is not used. False when the
// identifier is unknown or the folder has no path (a per-user folder without a user).
bool GetSpecialFolderPath(void* window, std::string* path, int csidl, bool create);
// The path, or "" on failure.
std::string GetSpecialFolder(int csidl, bool create);
std::string GetCommonAppDataDir();
std::string GetAppDataDir();
std::string GetLocalAppDataDir();
// "C:\Windows\SysNative\" under WOW64 (the alias a 32-bit process reaches the native system
// folder through), else "".
std::string GetSysNativeDir();
// "\Device\HarddiskVolume2\Windows\..." -> "C:\Windows\...": the drive whose device name
// begins the path and ends there or at a backslash; the path itself when none does.
std::string DevicePathToDosPath(std::string_view path);

// --- Environment ---

// The text with its %variables% expanded from the installation's environment. With `use64`,
// %ProgramFiles% and %CommonProgramFiles% (any letter case) are read as %ProgramW6432% and
// %CommonProgramW6432% first, the 64-bit program folders.
std::string ExpandEnvVars(std::string_view text, bool use64);

// --- Existence tests ---

// 0 nothing found, 1 a file, 2 a folder. `path` may carry arguments after the real path; it is
// shortened to what was found (see docs/architecture.md, "Host files").
int ProbePath(std::string* path);
bool FileExistsEx(std::string_view text);
bool FolderExistsEx(std::string_view text);
// True when the path (or, with the "Program Files" folders swapped, its other half) exists; a
// text without ":\" is not judged when `need_full_path` is set.
bool PathExistsEx(std::string_view text, bool need_full_path);
// The path of the file a reference names: the reference itself, or the file found in the system
// folder, the Windows folder, the root of the system drive, the PATH folders, or the shared-DLL
// list; "" when none.
std::string FindFileOnPath(std::string_view text, bool use64);
std::string FindFileOnPathAnyView(std::string_view text);
bool FileIsOnPath(std::string_view text);
// The program part of a command line.
std::string ExtractCommandPath(std::string_view command_line);
// True when the program a command line starts exists, or when the text cannot be judged.
bool CommandTargetExists(std::string_view command_line);
bool CommandTargetExistsAnyView(std::string_view command_line);

}  // namespace hm::reg
