// The registry of an installation folder as the command-line tool opens it, and key texts
// ("HKLM\SOFTWARE\Microsoft") read into a root and a path. Not thread-safe beyond what
// HostRegistry promises.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "platform/status.h"
#include "registry/host_registry.h"

namespace hm::cli {

// Opens the installation at `root` and its registry. Fails with a text for the user when the
// folder is no Windows installation or the chosen user has no profile there.
Result<std::unique_ptr<reg::HostRegistry>> OpenInstallationRegistry(
    const std::filesystem::path& root, const RegistryChoice& choice);

struct KeyText {
  reg::HKEY root = 0;
  std::string root_name;  // the short name: "HKLM"
  std::u16string path;    // below the root, without a trailing backslash
};

// Reads "ROOT[\path]" where ROOT is HKLM, HKCU, HKCR, HKU, HKCC or their full names (any case).
// nullopt for any other root name.
std::optional<KeyText> ParseKeyText(std::string_view text);

// The key as it is shown: the short root name, a backslash and the path.
std::string ShowKey(const KeyText& key);

}  // namespace hm::cli
