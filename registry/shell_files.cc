#include "registry/shell_files.h"

#include <map>
#include <mutex>

#include "platform/install/win_path.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"

namespace hm::reg {
namespace {

std::mutex g_tools_mutex;
std::map<std::string, CaptureTool> g_tools;  // by upper-cased file name; guarded by g_tools_mutex

files::FsView CurrentView() {
  return FsRedirectionDisabled() ? files::FsView::kNative : files::FsView::kRedirected;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

int Code(const Status& status) {
  return static_cast<int>(status.code());
}

// The operation's files, or nullptr when none are installed or the path is empty.
files::HostFiles* FilesFor(std::string_view path) {
  return path.empty() ? nullptr : ProcessFiles();
}

bool IsWildcard(std::string_view path) {
  return path.find_first_of("*?") != std::string_view::npos;
}

// The same folder: drive and every component but the last, without regard to case.
bool SameFolder(std::string_view a, std::string_view b) {
  Result<install::WindowsPath> first = install::ParseWindowsPath(a);
  Result<install::WindowsPath> second = install::ParseWindowsPath(b);
  if (!first.ok() || !second.ok()) return true;  // the operation itself reports the path
  const auto& x = first->components;
  const auto& y = second->components;
  if (first->drive != second->drive || x.size() != y.size()) return false;
  return x.empty() || std::equal(x.begin(), x.end() - 1, y.begin(), install::FileNamesEqual);
}

// Splits a command line as CommandLineToArgvW does for the common cases: spaces separate,
// double quotes group, a backslash before a quote makes it literal.
std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false, any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
      current += '"';
      ++i;
      any = true;
    } else if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) arguments.push_back(std::move(current));
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) arguments.push_back(std::move(current));
  return arguments;
}

// The program a command line starts, found as CreateProcess finds it ("" when it does not
// exist): a path as given, a bare name in the search folders, ".exe" added when it has none.
std::string FindProgram(const std::string& program) {
  std::string name = program;
  const size_t name_start = name.find_last_of("\\:/") + 1;
  if (name.find('.', name_start) == std::string::npos) name += ".exe";
  if (name_start > 0) return FileExists(name) ? name : std::string();
  return FindFileOnPath(name, false);
}

std::vector<std::string> SplitLines(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    if (output[i] != '\r' && output[i] != '\n') continue;
    lines.push_back(output.substr(start, i - start));
    if (output[i] == '\r' && i + 1 < output.size() && output[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < output.size()) lines.push_back(output.substr(start));
  return lines;
}

}  // namespace

int ShellDeleteCode(std::string_view path, bool allow_undo) {
  files::HostFiles* host_files = FilesFor(path);
  if (host_files == nullptr) return kDeInvalidFiles;
  if (IsWildcard(path)) return static_cast<int>(kErrorInvalidName);
  const std::string name = AnsiToUtf8(path);
  if (!allow_undo) return Code(host_files->Delete(name, CurrentView()));
  const HostEnvironment* env = ProcessEnvironment();
  const std::string sid = env == nullptr ? std::string() : env->user_sid();
  if (sid.empty()) return static_cast<int>(kErrorNotSupported);  // no user, no recycle bin
  return Code(host_files->Recycle(name, CurrentView(), sid).status());
}

bool ShellDelete(std::string_view path, bool allow_undo) {
  return ShellDeleteCode(path, allow_undo) == 0;
}

int ShellRenameCode(std::string_view from, std::string_view to) {
  files::HostFiles* host_files = FilesFor(from);
  if (host_files == nullptr || to.empty()) return kDeInvalidFiles;
  if (!SameFolder(from, to)) return kDeDiffDir;
  return Code(host_files->Rename(AnsiToUtf8(from), AnsiToUtf8(to), CurrentView()));
}

bool ShellRename(std::string_view from, std::string_view to) {
  return ShellRenameCode(from, to) == 0;
}

int ShellCopyCode(std::string_view from, std::string_view to) {
  files::HostFiles* host_files = FilesFor(from);
  if (host_files == nullptr || to.empty()) return kDeInvalidFiles;
  if (IsWildcard(from)) return static_cast<int>(kErrorInvalidName);
  const files::FsView view = CurrentView();
  Result<files::Item> source = host_files->Stat(AnsiToUtf8(from), view);
  Result<files::Item> target = host_files->Stat(AnsiToUtf8(to), view);
  if (source.ok() && target.ok()) {
    if (install::FileNamesEqual(source->windows_path, target->windows_path)) return kDeSameFile;
    const std::string inside = source->windows_path + "\\";
    if (source->type == files::ItemType::kFolder && target->windows_path.size() > inside.size() &&
        install::FileNamesEqual(target->windows_path.substr(0, inside.size()), inside)) {
      return kDeDestSubtree;
    }
  }
  Status copied = host_files->Copy(AnsiToUtf8(from), AnsiToUtf8(to), view);
  if (copied.code() == kErrorInvalidParameter) return kDeDestSubtree;
  return Code(copied);
}

bool ShellCopy(std::string_view from, std::string_view to) {
  return ShellCopyCode(from, to) == 0;
}

void RegisterCaptureTool(std::string_view file_name, CaptureTool tool) {
  std::lock_guard lock(g_tools_mutex);
  g_tools[UpperAscii(file_name)] = std::move(tool);
}

void ClearCaptureTools() {
  std::lock_guard lock(g_tools_mutex);
  g_tools.clear();
}

bool RunAndCapture(std::string_view command_line, std::vector<std::string>* lines) {
  std::vector<std::string> arguments = SplitCommandLine(command_line);
  if (arguments.empty()) return false;
  const std::string program = FindProgram(arguments.front());
  if (program.empty()) return false;
  const std::string file_name = program.substr(program.find_last_of("\\:/") + 1);
  CaptureTool tool;
  {
    std::lock_guard lock(g_tools_mutex);
    auto it = g_tools.find(UpperAscii(file_name));
    if (it == g_tools.end()) return false;
    tool = it->second;
  }
  arguments.erase(arguments.begin());
  *lines = SplitLines(tool(arguments));
  return true;
}

}  // namespace hm::reg
