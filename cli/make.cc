// make-demo and make-install: installations built from the project's text sources.
#include <chrono>
#include <cstdio>
#include <system_error>

#include "cli/commands.h"
#include "platform/install/builder.h"
#include "platform/install/installation.h"

namespace hm::cli {
namespace {

namespace fs = std::filesystem;

// Building over an existing installation would mix two of them; only a new or empty folder is used.
bool IsNewOrEmpty(const fs::path& dir) {
  std::error_code ec;
  if (!fs::exists(dir, ec)) return true;
  return fs::is_directory(dir, ec) && fs::is_empty(dir, ec);
}

int Build(const fs::path& dir, const fs::path& sources, const install::BuildOptions& options) {
  if (!IsNewOrEmpty(dir)) return Fail(dir.string() + " exists and is not an empty folder");
  if (KindOf(sources) != PathKind::kFolder) {
    return Fail("no installation sources at " + sources.string());
  }
  auto start = std::chrono::steady_clock::now();
  Status built = install::BuildInstallation(sources, dir, options);
  if (!built.ok()) return Fail(built.ToString());
  Result<std::unique_ptr<install::Installation>> opened = install::Installation::Open(dir);
  if (!opened.ok()) return Fail(opened.status().ToString());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("Created a Windows installation at %s from %s (%zu hives, %.1f s)\n", dir.c_str(),
              sources.c_str(), opened.value()->hives().size(), seconds);
  return kExitOk;
}

}  // namespace

int MakeDemo(const fs::path& dir, const fs::path& sources) {
  return Build(dir, sources, {});
}

int MakeInstall(const fs::path& dir, const fs::path& sources, uint64_t keys, uint64_t seed) {
  return Build(dir, sources, install::BuildOptions{.synthetic_keys = keys, .seed = seed});
}

}  // namespace hm::cli
