// show-key: what "Show Key" would open for a key text, as the desktop program's jump receives
// it: the full key name, the registry view the key was found in and the value to select.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "cli/installation_registry.h"
#include "cli/render.h"
#include "registry/path_utils.h"
#include "registry/regedit_jump.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::cli {
namespace {

// Prints each target on its own line.
class PrintingJump : public reg::RegistryJump {
 public:
  void ShowKey(const reg::RegistryJumpTarget& target) override {
    std::printf("%s\n", Printable(reg::AnsiToUtf8(reg::DescribeJumpTarget(target))).c_str());
  }
};

}  // namespace

int ShowRegistryKey(const std::filesystem::path& root, const std::string& text,
                    const RegistryChoice& choice) {
  RegistryChoice read_only = choice;
  read_only.read_only = true;  // showing a key never changes anything
  Result<std::unique_ptr<reg::HostRegistry>> registry = OpenInstallationRegistry(root, read_only);
  if (!registry.ok()) return Fail(registry.status().ToString());
  reg::SetProcessRegistry(registry->get());
  reg::InitRegistryAccess(**registry);
  PrintingJump jump;
  reg::SetRegistryJump(&jump);
  const bool shown = reg::ShowKeyInRegedit(reg::Utf8ToAnsi(text));
  reg::SetRegistryJump(nullptr);
  reg::SetProcessRegistry(nullptr);
  if (shown) return kExitOk;
  std::printf("Registry key does not exist.\n");
  return kExitDamaged;
}

}  // namespace hm::cli
