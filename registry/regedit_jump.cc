#include "registry/regedit_jump.h"

#include <atomic>
#include <string_view>

#include "registry/registry_access.h"

namespace hm::reg {
namespace {

std::atomic<RegistryJump*> g_jump{nullptr};

constexpr std::string_view kValueSeparator = "\\\\:";  // the three characters \\:

}  // namespace

void SetRegistryJump(RegistryJump* jump) {
  g_jump.store(jump, std::memory_order_release);
}

RegistryJump* ProcessRegistryJump() {
  return g_jump.load(std::memory_order_acquire);
}

bool ShowKeyInRegedit(const std::string& text) {
  const size_t backslash = text.find('\\');
  if (backslash == std::string::npos) return false;
  RegistryJumpTarget target;
  target.root = NameToRootKey(std::string_view(text).substr(0, backslash));
  if (target.root == 0) return false;
  target.text = RootKeyToName(target.root) + text.substr(backslash);

  const std::string rest = text.substr(backslash + 1);
  const size_t separator = rest.find(kValueSeparator);
  target.key_path = rest.substr(0, separator);
  if (separator != std::string::npos) {
    target.value_name = rest.substr(separator + kValueSeparator.size());
  }

  target.view64 = Is64BitWindows();
  if (!KeyExists(target.root, target.view64, target.key_path)) {
    if (KeyExists(target.root, false, target.key_path)) {
      target.view64 = false;
    } else if (KeyExists(target.root, true, target.key_path)) {
      target.view64 = true;
    } else {
      return false;
    }
  }
  if (RegistryJump* jump = ProcessRegistryJump()) jump->ShowKey(target);
  return true;
}

std::string DescribeJumpTarget(const RegistryJumpTarget& target) {
  std::string line = RootKeyToName(target.root);
  if (!target.key_path.empty()) line += "\\" + target.key_path;
  if (Is64BitWindows()) line += target.view64 ? " (64-bit view)" : " (32-bit view)";
  if (target.value_name) {
    line += ", value " + (target.value_name->empty() ? std::string("(Default)") : *target.value_name);
  }
  return line;
}

}  // namespace hm::reg
