// The operations the category checks are written with: opening keys, reading text values,
// counting tests, reporting findings, and the class and file-reference tests.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "registry/path_utils.h"
#include "registry/win_registry.h"
#include "scanner/scan_thread.h"

namespace hm::scan {
namespace {

namespace fs = std::filesystem;

}  // namespace

namespace {

// Opens `key_path` below the root of `access`, read-only. After CloseKey() a path without a
// leading backslash is taken from the root already: only one that begins with one needs the
// extra backslash (and a copy of the text), as before.
bool OpenFromRoot(reg::TRegistryAccess& access, const std::string& key_path) {
  access.CloseKey();
  if (key_path.empty() || key_path.front() != '\\') return access.OpenKeyReadOnly(key_path);
  return access.OpenKeyReadOnly("\\" + key_path);
}

}  // namespace

bool TScanThread::OpenForCheck(const std::string& key_path) {
  return OpenForCheck(*access_, key_path);
}

bool TScanThread::OpenForCheck(reg::TRegistryAccess& access, const std::string& key_path) {
  if (!OpenFromRoot(access, key_path)) return false;
  if (view_ == 1 && reg::CurrentKeyReflectionEnabled(access)) {
    access.CloseKey();
    return false;
  }
  return true;
}

bool TScanThread::OpenPlain(const std::string& key_path) {
  return OpenFromRoot(*access_, key_path);
}

bool TScanThread::ReadText(const std::string& value_name, std::string* text) {
  text->clear();
  // One read into a buffer that usually fits, a second only for longer data.
  thread_local std::string data(1024, '\0');
  uint32_t type = 0;
  uint32_t size = static_cast<uint32_t>(data.size());
  const reg::HKEY key = access_->CurrentKey();
  reg::LSTATUS error = reg::RegQueryValueExA(key, value_name.c_str(), &type,
                                             reinterpret_cast<uint8_t*>(data.data()), &size);
  if (error == kErrorMoreData && (type == reg::REG_SZ || type == reg::REG_EXPAND_SZ)) {
    data.resize(size);
    error = reg::RegQueryValueExA(key, value_name.c_str(), &type,
                                  reinterpret_cast<uint8_t*>(data.data()), &size);
    if (error != kErrorSuccess) return false;
  } else if (error != kErrorSuccess) {
    return false;
  }
  if (type != reg::REG_SZ && type != reg::REG_EXPAND_SZ) return false;
  const size_t length = std::min<size_t>(size, data.size());
  text->assign(data.data(), strnlen(data.data(), length));  // up to the first NUL
  return true;
}

void TScanThread::Report(reg::HKEY root, uint8_t view, uint8_t action, uint8_t kind,
                         const std::string& data, const std::string& value_name,
                         const std::string& key_path, const std::string& caption) {
  TRegErrorInfo finding;
  finding.View = view;
  finding.RootKey = root;
  finding.Caption = caption;
  finding.KeyPath = key_path;
  finding.ValueName = value_name;
  finding.Data = data;
  finding.Kind = kind;
  finding.Action = action;
  HandOver(std::move(finding));
}

void TScanThread::ReportWrongType(const std::string& value_name, const std::string& key_path) {
  CountTest(true);
  Report(access_->RootKey(), view_, raDeleteValue, 0, "REG_SZ or REG_EXPAND_SZ", value_name,
         key_path, value_name);
}

bool TScanThread::ClassExists(std::string name, bool strip) {
  while (true) {
    if (name.empty()) return false;
    bool found = reg::KeyExists(reg::HKEY_CLASSES_ROOT, /*view64=*/false, name);
    if (!found && reg::IsWow64()) found = reg::KeyExists(reg::HKEY_CLASSES_ROOT, true, name);
    const char last = name.back();
    if (!strip || found || (last != '.' && !(last >= '0' && last <= '9'))) return found;
    name.pop_back();
  }
}

bool TScanThread::FileReferenceExists(std::string_view reference) {
  if (reference.empty()) return false;
  if (reference.front() == '@') reference.remove_prefix(1);
  if (!reference.empty() && reference.front() == '{') reference.remove_prefix(1);
  // A packaged application's resource ("Name?ms-resource:..." or "Name!App"): the package's
  // name is looked up among the files and folders of the local application data folder.
  size_t cut = reference.find("?ms-resource:");
  if (cut == std::string_view::npos) cut = reference.find('!');
  if (cut != std::string_view::npos) {
    if (local_app_data_names_ == nullptr) {
      local_app_data_names_ = std::make_unique<std::unordered_set<std::u16string>>();
      files::HostFiles* files = reg::ProcessFiles();
      const std::string folder = reg::GetLocalAppDataDir();
      Result<fs::path> host =
          files == nullptr || folder.empty()
              ? Result<fs::path>(Status::Error(kErrorPathNotFound, "local application data"))
              : files->HostPath(folder, files::FsView::kNative);
      std::error_code error;
      // Symbolic links are listed by name but never followed, so nothing outside is read.
      for (auto it = host.ok() ? fs::recursive_directory_iterator(*host, error)
                               : fs::recursive_directory_iterator();
           !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        local_app_data_names_->insert(
            reg::UpcasedName(reg::Utf8ToAnsi(it->path().filename().string())));
      }
    }
    return local_app_data_names_->count(reg::UpcasedName(reference.substr(0, cut))) > 0;
  }
  if (reference.size() >= 7 && reg::UpcasedName(reference.substr(0, 7)) == u"SHELL32") return true;
  // Registrations name the same files over and over (thousands of classes are served by a
  // handful of system DLLs), and files do not change during a scan: each text is looked up once.
  std::string& key = reference_key_;
  key.assign(reference);
  key.push_back(reg::FsRedirectionDisabled() ? '1' : '0');
  auto known = reference_memo_.find(key);
  if (known != reference_memo_.end()) return known->second;
  const bool exists = reg::FileIsOnPath(reference);
  reference_memo_.emplace(key, exists);
  return exists;
}

}  // namespace hm::scan
