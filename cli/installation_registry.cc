#include "cli/installation_registry.h"

#include <strings.h>

#include <utility>

#include "platform/install/installation.h"
#include "platform/utf.h"

namespace hm::cli {
namespace {

struct RootName {
  const char* long_name;
  const char* short_name;
  reg::HKEY root;
};

// HKEY_PERFORMANCE_DATA and HKEY_DYN_DATA hold nothing in an installation on disk, so they are
// not offered.
constexpr RootName kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", reg::HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", "HKCU", reg::HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", reg::HKEY_CLASSES_ROOT},
    {"HKEY_USERS", "HKU", reg::HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", "HKCC", reg::HKEY_CURRENT_CONFIG},
};

bool EqualsIgnoringCase(std::string_view text, std::string_view name) {
  return text.size() == name.size() && ::strncasecmp(text.data(), name.data(), text.size()) == 0;
}

}  // namespace

Result<std::unique_ptr<reg::HostRegistry>> OpenInstallationRegistry(
    const std::filesystem::path& root, const RegistryChoice& choice) {
  Result<std::unique_ptr<install::Installation>> installation = install::Installation::Open(root);
  if (!installation.ok()) return installation.status();
  std::shared_ptr<const install::Installation> shared = std::move(installation).value();
  return reg::HostRegistry::Open(
      std::move(shared),
      reg::HostRegistry::Options{.user = choice.user, .read_only = choice.read_only});
}

std::optional<KeyText> ParseKeyText(std::string_view text) {
  const size_t separator = text.find('\\');
  const std::string_view root_name = text.substr(0, separator);
  std::string_view path =
      separator == std::string_view::npos ? std::string_view() : text.substr(separator + 1);
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  for (const RootName& root : kRoots) {
    if (EqualsIgnoringCase(root_name, root.long_name) ||
        EqualsIgnoringCase(root_name, root.short_name)) {
      return KeyText{root.root, root.short_name, FromUtf8(path)};
    }
  }
  return std::nullopt;
}

std::string ShowKey(const KeyText& key) {
  return key.path.empty() ? key.root_name : key.root_name + "\\" + ToUtf8(key.path);
}

}  // namespace hm::cli
