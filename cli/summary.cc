// summary: an installation's registry as the program sees it, read through HostRegistry.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/installation_registry.h"
#include "cli/render.h"
#include "platform/install/installation.h"
#include "platform/utf.h"
#include "registry/host_registry.h"

namespace hm::cli {
namespace {

namespace fs = std::filesystem;

// Texts here come from the hives; Printable() keeps each on its line.
void PrintField(const char* label, const std::string& text) {
  std::printf("  %-16s%s\n", label, Printable(text).c_str());
}

std::string VersionText(const install::WindowsVersion& version) {
  if (version.build.empty() && version.major == 0) return "unknown";
  std::string text = std::to_string(version.major) + "." + std::to_string(version.minor) +
                     ", build " + (version.build.empty() ? "unknown" : version.build);
  if (!version.display_version.empty()) text += ", " + version.display_version;
  return text;
}

std::string UserText(const install::UserProfile* user) {
  if (user == nullptr) return "none (the installation has no user profile with a hive)";
  return user->name + "  " + user->sid;
}

void PrintSystem(const reg::HostRegistry& registry) {
  const install::Installation& installation = registry.installation();
  const install::WindowsVersion& version = installation.version();
  std::printf("Windows installation at %s\n", installation.root().c_str());
  PrintField("product:", version.product_name.empty() ? "unknown" : version.product_name);
  PrintField("version:", VersionText(version));
  PrintField("architecture:", registry.is_64bit() ? "64-bit: two registry views (64-bit and 32-bit)"
                                                  : "32-bit: one registry view");
  PrintField("ANSI code page:", std::to_string(registry.ansi_code_page()));
  PrintField("control set:", "CurrentControlSet is " + ToUtf8(registry.current_control_set()));
  PrintField("current user:", UserText(registry.user()));
}

// Where the hive lives, as Windows names it below the installation's root.
std::string HiveFileText(const reg::HostRegistry& registry,
                         const reg::HostRegistry::HiveState& hive) {
  const install::HiveFile* file = registry.installation().FindHive(hive.mount);
  return file != nullptr ? file->windows_path : hive.file.string();
}

const char* HiveStateWord(const reg::HostRegistry::HiveState& hive) {
  if (!hive.loaded) return "unreadable";
  return hive.writable ? "writable" : "read-only";
}

// One line a hive: mount point, state and file, in columns; why it is not writable on the next
// line. Returns false when a hive could not be read at all.
bool PrintHives(reg::HostRegistry& registry) {
  const std::vector<reg::HostRegistry::HiveState> hives = registry.Hives();
  int mount_width = 0;
  for (const auto& hive : hives) {
    mount_width = std::max<int>(mount_width, Printable(hive.mount).size());
  }
  std::printf("hives:\n");
  bool all_read = true;
  for (const auto& hive : hives) {
    all_read = all_read && hive.loaded;
    std::printf("  %-*s  %-10s  %s\n", mount_width, Printable(hive.mount).c_str(),
                HiveStateWord(hive), Printable(HiveFileText(registry, hive)).c_str());
    if (!hive.reason.empty()) {
      std::printf("  %-*s  %s\n", mount_width, "", Printable(hive.reason).c_str());
    }
  }
  return all_read;
}

}  // namespace

int Summary(const fs::path& path, const RegistryChoice& choice) {
  switch (KindOf(path)) {
    case PathKind::kMissing:
      return Fail(path.string() + " does not exist");
    case PathKind::kFile:
      return Fail(path.string() +
                  " is a file; summary needs an installation folder "
                  "(describe shows a hive file)");
    case PathKind::kFolder:
      break;
  }
  Result<std::unique_ptr<reg::HostRegistry>> opened = OpenInstallationRegistry(path, choice);
  if (!opened.ok()) return Fail(opened.status().ToString());
  reg::HostRegistry& registry = *opened.value();
  PrintSystem(registry);
  const bool all_read = PrintHives(registry);
  if (!registry.pending_notes().empty()) {
    std::printf("notes:\n");
    for (const std::string& note : registry.pending_notes())
      std::printf("  %s\n", Printable(note).c_str());
  }
  return all_read ? kExitOk : kExitDamaged;
}

}  // namespace hm::cli
