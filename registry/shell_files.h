// The shell's file operations (SHFileOperation: delete, delete to the recycle bin, rename, copy)
// on the installation's files, and the start of a hidden console program whose output is
// captured.
//
// Paths are texts in the installation's code page, taken in the calling thread's file-system
// view (registry_access.h). The results are SHFileOperation's: 0 for success, else a Windows
// error code (2 for a missing source, 5 for access denied, 183 for a target in the way, ...) or
// one of the shell's own codes below.
//
// RunAndCapture never starts a program of the installation, nor any host program: Windows
// programs cannot run here, and a program named by the registry must not run at all. It runs
// the in-process stand-ins registered for a program's file name, and only when that program
// exists in the installation (see docs/architecture.md, "Host files").
//
// Thread safety: safe from any thread once the files are installed (path_utils.h);
// RegisterCaptureTool() only before threads start.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hm::reg {

// SHFileOperation's own result codes used here.
inline constexpr int kDeSameFile = 0x71;      // source and target are the same item
inline constexpr int kDeDiffDir = 0x73;       // a rename into another folder
inline constexpr int kDeDestSubtree = 0x76;   // the target lies inside the source
inline constexpr int kDeInvalidFiles = 0x7C;  // no source given

// FO_DELETE of a file or a folder with everything in it; with `allow_undo` it goes to the
// recycle bin of its drive for the current user (the installation's $Recycle.Bin\<SID>, with
// Windows' $I record), so that the Windows user can restore it. When it cannot go there, nothing
// is deleted and the code says why.
int ShellDeleteCode(std::string_view path, bool allow_undo);
bool ShellDelete(std::string_view path, bool allow_undo);
// FO_RENAME within a folder; kDeDiffDir when `to` is in another folder.
bool ShellRename(std::string_view from, std::string_view to);
int ShellRenameCode(std::string_view from, std::string_view to);
// FO_COPY without asking: files at the target are replaced; a folder copied to a path that does
// not exist becomes that path; copied into an existing folder, an item keeps its name.
bool ShellCopy(std::string_view from, std::string_view to);
int ShellCopyCode(std::string_view from, std::string_view to);

// A stand-in for a console program: gets the arguments after the program (split as Windows
// splits a command line) and returns what the program would print on standard output.
using CaptureTool = std::function<std::string(const std::vector<std::string>& arguments)>;
// Registers the stand-in for programs of that file name ("VaultCmd.exe"; any letter case).
void RegisterCaptureTool(std::string_view file_name, CaptureTool tool);
void ClearCaptureTools();

// Runs the command line's program hidden and puts its output in *lines, one entry per line
// (the line breaks removed). True when it ran; when it cannot be started (the program does not
// exist in the installation, or has no stand-in), *lines stays as it was.
bool RunAndCapture(std::string_view command_line, std::vector<std::string>* lines);

}  // namespace hm::reg
