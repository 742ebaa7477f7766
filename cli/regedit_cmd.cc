// hivemend-cli export and import: the project's registry editor on an installation's registry.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/installation_registry.h"
#include "platform/file_io.h"
#include "platform/win_error.h"
#include "registry/regedit.h"

namespace hm::cli {
namespace {

int Report(const Status& status, int exit_code) {
  std::fprintf(stderr, "hivemend-cli: %s\n", status.ToString().c_str());
  return exit_code;
}

}  // namespace

int ExportKey(const std::filesystem::path& root, const std::string& key_text,
              const std::filesystem::path& file, const RegEditOptions& options) {
  std::optional<KeyText> key = ParseKeyText(key_text);
  if (!key) return Fail("'" + key_text + "' does not begin with HKLM, HKCU, HKCR, HKU or HKCC");
  RegistryChoice choice = options.registry;
  choice.read_only = true;  // an export never changes the installation
  Result<std::unique_ptr<reg::HostRegistry>> registry = OpenInstallationRegistry(root, choice);
  if (!registry.ok()) return Fail(registry.status().ToString());
  Result<std::string> bytes =
      reg::ExportKeyTree(**registry, key->root, key->path, options.view == 64);
  if (!bytes.ok()) return Report(bytes.status(), kExitDamaged);
  const Status written = AtomicWriteFile(file, *bytes);
  if (!written.ok()) return Report(written, kExitDamaged);
  std::printf("exported %s (%d-bit view) to %s\n", ShowKey(*key).c_str(), options.view,
              file.string().c_str());
  return kExitOk;
}

int ImportFile(const std::filesystem::path& root, const std::filesystem::path& file,
               const RegEditOptions& options) {
  std::string bytes;
  const Status read = ReadWholeFile(file, &bytes);
  if (!read.ok()) return Fail(read.ToString());
  Result<std::unique_ptr<reg::HostRegistry>> registry =
      OpenInstallationRegistry(root, options.registry);
  if (!registry.ok()) return Fail(registry.status().ToString());
  const bool view64 = options.view == 64;
  Result<regedit::RegFile> checked =
      reg::CheckRegFile(**registry, bytes, view64, file.filename().string());
  if (!checked.ok()) {
    // A malformed file is bad input; a registry that refuses a change is not.
    return Report(checked.status(),
                  checked.status().code() == kErrorInvalidData ? kExitBadInput : kExitDamaged);
  }
  const Status applied = reg::ApplyRegFile(**registry, *checked, view64, file.filename().string());
  if (!applied.ok()) return Report(applied, kExitDamaged);
  const Status committed = (*registry)->Commit();
  if (!committed.ok()) return Report(committed, kExitDamaged);
  std::printf("imported %s into the %d-bit view: %zu key line(s)\n", file.string().c_str(),
              options.view, checked->keys.size());
  return kExitOk;
}

}  // namespace hm::cli
