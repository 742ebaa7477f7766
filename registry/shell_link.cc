#include "registry/shell_link.h"

#include <liblnk.h>

#include <memory>

#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;

// liblnk's error text, freed after reading.
std::string TakeError(liblnk_error_t** error) {
  if (*error == nullptr) return "liblnk failed";
  char text[512] = {};
  liblnk_error_sprint(*error, text, sizeof text);
  liblnk_error_free(error);
  return text;
}

struct FileCloser {
  void operator()(liblnk_file_t* file) const {
    liblnk_file_close(file, nullptr);
    liblnk_file_free(&file, nullptr);
  }
};
using LinkFile = std::unique_ptr<liblnk_file_t, FileCloser>;

using SizeGetter = int (*)(liblnk_file_t*, size_t*, liblnk_error_t**);
using TextGetter = int (*)(liblnk_file_t*, uint8_t*, size_t, liblnk_error_t**);

// One UTF-8 text of the link: "" when the link does not have it; an error when it has it but
// it cannot be read.
Status ReadText(liblnk_file_t* file, SizeGetter size_of, TextGetter get, std::string* text) {
  text->clear();
  liblnk_error_t* error = nullptr;
  size_t size = 0;
  const int has = size_of(file, &size, &error);
  if (has < 0) return Status::Error(kErrorInvalidData, TakeError(&error));
  if (has == 0 || size <= 1) return Status::Ok();
  std::string buffer(size, '\0');
  if (get(file, reinterpret_cast<uint8_t*>(buffer.data()), size, &error) != 1) {
    return Status::Error(kErrorInvalidData, TakeError(&error));
  }
  buffer.resize(buffer.find('\0') == std::string::npos ? size : buffer.find('\0'));
  *text = std::move(buffer);
  return Status::Ok();
}

}  // namespace

Result<ShellLinkTarget> ReadShellLinkFile(const std::filesystem::path& file, uint32_t code_page) {
  const std::string context = "shortcut '" + file.string() + "': ";
  // Only a plain file is opened: a named pipe or a device would block the reader or be read
  // without end.
  std::error_code type_error;
  const fs::file_status status = fs::status(file, type_error);
  if (!fs::exists(status)) {
    return Status::Error(kErrorFileNotFound, context + "not found");
  }
  if (!fs::is_regular_file(status)) {
    return Status::Error(kErrorInvalidData, context + "not a file");
  }
  liblnk_error_t* error = nullptr;
  liblnk_file_t* raw = nullptr;
  if (liblnk_file_initialize(&raw, &error) != 1) {
    return Status::Error(kErrorNotEnoughMemory, context + TakeError(&error));
  }
  // Not yet opened: free it alone if the code page or the open fails.
  if (liblnk_file_set_ascii_codepage(raw, static_cast<int>(code_page), &error) != 1) {
    liblnk_error_free(&error);  // an unknown code page: liblnk keeps its default
  }
  if (liblnk_file_open(raw, file.c_str(), LIBLNK_OPEN_READ, &error) != 1) {
    const std::string reason = TakeError(&error);
    liblnk_file_free(&raw, nullptr);
    return Status::Error(kErrorInvalidData, context + reason);
  }
  LinkFile link(raw);

  ShellLinkTarget target;
  struct Field {
    SizeGetter size_of;
    TextGetter get;
    std::string* text;
  };
  const Field fields[] = {
      {liblnk_file_get_utf8_local_path_size, liblnk_file_get_utf8_local_path, &target.local_path},
      {liblnk_file_get_utf8_network_path_size, liblnk_file_get_utf8_network_path,
       &target.network_path},
      {liblnk_file_get_utf8_environment_variables_location_size,
       liblnk_file_get_utf8_environment_variables_location, &target.environment_target},
      {liblnk_file_get_utf8_relative_path_size, liblnk_file_get_utf8_relative_path,
       &target.relative_path},
      {liblnk_file_get_utf8_working_directory_size, liblnk_file_get_utf8_working_directory,
       &target.working_dir},
      {liblnk_file_get_utf8_command_line_arguments_size,
       liblnk_file_get_utf8_command_line_arguments, &target.arguments},
  };
  for (const Field& field : fields) {
    Status read = ReadText(link.get(), field.size_of, field.get, field.text);
    if (!read.ok()) return Status::Error(read.code(), context + read.context());
  }
  return target;
}

std::string RawTargetPath(const ShellLinkTarget& link) {
  if (!link.environment_target.empty()) return link.environment_target;
  if (!link.local_path.empty()) return link.local_path;
  return link.network_path;
}

bool GetShellLinkRawPath(std::string_view windows_path, std::string* target) {
  target->clear();
  files::HostFiles* host_files = ProcessFiles();
  if (host_files == nullptr) return false;
  const files::FsView view =
      FsRedirectionDisabled() ? files::FsView::kNative : files::FsView::kRedirected;
  Result<std::filesystem::path> host = host_files->HostPath(AnsiToUtf8(windows_path), view);
  if (!host.ok()) return false;
  const HostRegistry* registry = ProcessRegistry();
  Result<ShellLinkTarget> link =
      ReadShellLinkFile(*host, registry != nullptr ? registry->ansi_code_page() : 1252);
  if (!link.ok()) return false;
  // SLGP_RAWPATH answers in a MAX_PATH buffer.
  *target = Utf8ToAnsi(RawTargetPath(*link)).substr(0, 259);
  return !target->empty();
}

}  // namespace hm::reg
