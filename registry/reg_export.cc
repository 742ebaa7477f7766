#include "registry/reg_export.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/files/host_files.h"
#include "platform/win_error.h"
#include "registry/path_utils.h"
#include "registry/regedit.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::reg {
namespace {

files::FsView CurrentFsView() {
  return FsRedirectionDisabled() ? files::FsView::kNative : files::FsView::kRedirected;
}

// The folder part of a Windows file name, without its trailing backslash ("C:\a\b.reg" ->
// "C:\a"); a drive root keeps its backslash ("C:\b.reg" -> "C:\"). Empty without a folder.
std::string FolderOf(std::string_view file_name) {
  const size_t last = file_name.find_last_of("\\/");
  if (last == std::string_view::npos) return std::string();
  std::string folder(file_name.substr(0, last));
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  return folder;
}

// Creates the folder of `file_name` with its missing parents; on failure *error_text gets the
// "CreateDirectory: " text.
bool CreateFolderOf(std::string* error_text, std::string_view file_name) {
  const std::string folder = FolderOf(file_name);
  if (folder.empty()) return true;
  files::HostFiles* files = ProcessFiles();
  const Status created = files == nullptr
                             ? Status::Error(kErrorPathNotFound, "")
                             : files->CreateFolder(AnsiToUtf8(folder), CurrentFsView());
  if (created.ok()) return true;
  *error_text = "CreateDirectory: " + WinErrorMessage(created.code()) + " " + folder;
  return false;
}

// Removes a file left under `file_name` (never a folder: a name that turned out to be a folder
// is left alone).
void DeleteFileIfAny(std::string_view file_name) {
  files::HostFiles* files = ProcessFiles();
  if (files == nullptr) return;
  const std::string path = AnsiToUtf8(file_name);
  files->NoteChanged(path, CurrentFsView());  // look at the disk, not at a cached listing
  Result<files::Item> item = files->Stat(path, CurrentFsView());
  if (!item.ok() || item->type == files::ItemType::kFolder) return;
  (void)files->Delete(path, CurrentFsView());
}

// A name or REG_SZ text with each backslash and double quote preceded by a backslash.
void AppendEscaped(std::string_view text, std::string* out) {
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
}

void AppendHexValue(std::string* out, std::string_view name, std::string_view prefix,
                    std::string_view data) {
  *out += prefix;
  AppendRegHexList(out, data, name.size() + 3 + prefix.size(), true);
}

// The value line of one value (with its CR LF); false for a type this format does not write.
bool AppendValueLine(std::string* out, const std::string& name, uint32_t type,
                     std::string_view data) {
  std::string line = "\"";
  AppendEscaped(name, &line);
  line += "\"=";
  switch (RegTypeToValueType(type)) {
    case rvNone:
      AppendHexValue(&line, name, "hex(0):", data);
      break;
    case rvString:
      line += '"';
      AppendEscaped(data.substr(0, data.find('\0')), &line);
      line += '"';
      break;
    case rvExpandString:
      AppendHexValue(&line, name, "hex(2):", data);
      break;
    case rvMultiString:
      AppendHexValue(&line, name, "hex(7):", data);
      break;
    case rvDWord: {
      // The buffer is zeroed before each read, so data shorter than four bytes reads as
      // zeros beyond its end rather than as what an earlier value left there.
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<uint8_t>(data[i]);
      char text[16];
      std::snprintf(text, sizeof(text), "dword:%08X", number);
      line += text;
      break;
    }
    case rvBinary:
      AppendHexValue(&line, name, "hex:", data);
      break;
    case rvUnknown:
      return false;
  }
  *out += line;
  *out += "\r\n";
  return true;
}

bool ExportKeyWithEditor(std::string* error_text, HKEY root, bool view64,
                         const std::string& file_name, const std::string& key_path) {
  uint32_t exit_code = kRegEditExitOk;
  switch (CurrentRegEditFault(&exit_code)) {
    case RegEditFault::kCannotStart:
      return false;
    case RegEditFault::kExitCode:
      break;
    case RegEditFault::kNone: {
      exit_code = kRegEditExitFailed;
      HostRegistry* registry = ProcessRegistry();
      if (registry == nullptr) break;
      Result<std::string> bytes = ExportKeyTree(*registry, root, AnsiToUtf16(key_path), view64);
      if (bytes.ok() && WriteWholeFileAt(file_name, *bytes).ok()) return true;
      break;
    }
  }
  *error_text = "ExitCode: " + std::to_string(exit_code);
  return false;
}

}  // namespace

bool RegExportValue(std::string* error_text, HKEY root, HKEY key,
                    const std::vector<std::string>& value_names, const std::string& file_name,
                    const std::string& key_path) {
  if (!CreateFolderOf(error_text, file_name)) return false;
  std::string text = "REGEDIT4\r\n\r\n[" + RootKeyToName(root) + "\\" + key_path + "]\r\n";
  std::vector<uint8_t> buffer(kExportBufferSize);
  size_t written = 0;
  for (const std::string& name : value_names) {
    std::fill(buffer.begin(), buffer.end(), 0);
    uint32_t type = REG_NONE;
    uint32_t size = kExportBufferSize;
    const LSTATUS error = RegQueryValueExA(key, name.c_str(), &type, buffer.data(), &size);
    if (error != kErrorSuccess) {
      *error_text = "RegQueryValueEx(\"" + name + "\"): " + WinErrorMessage(error);
      continue;
    }
    const std::string_view data(reinterpret_cast<const char*>(buffer.data()), size);
    if (!AppendValueLine(&text, name, type, data)) {
      *error_text = "RegExportValue: unsupported data type " + std::to_string(type);
      continue;
    }
    ++written;
  }
  if (written == value_names.size()) {
    const Status status = WriteWholeFileAt(file_name, text);
    if (status.ok()) return true;
    *error_text = status.ToString();
  }
  DeleteFileIfAny(file_name);
  return false;
}

bool RegExportOneValue(std::string* error_text, HKEY root, HKEY key, const std::string& value_name,
                       const std::string& file_name, const std::string& key_path) {
  return RegExportValue(error_text, root, key, std::vector<std::string>{value_name}, file_name,
                        key_path);
}

bool RegExportKey(std::string* error_text, HKEY root, bool view64, const std::string& file_name,
                  const std::string& key_path) {
  if (!CreateFolderOf(error_text, file_name)) return false;
  if (ExportKeyWithEditor(error_text, root, view64, file_name, key_path)) return true;
  DeleteFileIfAny(file_name);
  return false;
}

bool RegImportFile(bool native, const std::string& file_name) {
  if (CurrentRegEditFault(nullptr) != RegEditFault::kNone) return false;
  HostRegistry* registry = ProcessRegistry();
  if (registry == nullptr) return false;
  Result<std::string> bytes = ReadWholeFileAt(file_name);
  if (!bytes.ok()) return false;
  return ImportRegFile(*registry, *bytes, native, AnsiToUtf8(file_name)).ok();
}

}  // namespace hm::reg
