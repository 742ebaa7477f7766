// probe: how the path utilities judge file references in an installation, as a scan would
// judge them (for a user asking why a reference is, or is not, reported missing).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/installation_registry.h"
#include "cli/render.h"
#include "registry/host_environment.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

namespace hm::cli {
namespace {

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

void PrintProbe(const std::string& text) {
  using namespace reg;  // NOLINT: the utilities read best unqualified
  std::string probed = ExpandEnvVars(text, false);
  const int kind = ProbePath(&probed);
  std::printf("%s\n", Printable(AnsiToUtf8(text)).c_str());
  std::printf("  expanded:          %s\n",
              Printable(AnsiToUtf8(ExpandEnvVars(text, false))).c_str());
  if (IsWow64()) {
    std::printf("  expanded (64-bit): %s\n",
                Printable(AnsiToUtf8(ExpandEnvVars(text, true))).c_str());
  }
  static const char* const kKinds[] = {"nothing", "file", "folder"};
  std::printf("  ProbePath:         %s%s%s\n", kKinds[kind], kind ? " " : "",
              kind ? Printable(AnsiToUtf8(probed)).c_str() : "");
  std::printf("  FileExistsEx:      %s\n", YesNo(FileExistsEx(text)));
  std::printf("  FolderExistsEx:    %s\n", YesNo(FolderExistsEx(text)));
  std::printf("  PathExistsEx:      %s\n", YesNo(PathExistsEx(text, true)));
  std::printf("  program:           %s\n", Printable(AnsiToUtf8(ExtractCommandPath(text))).c_str());
  std::printf("  program exists:    %s\n", YesNo(CommandTargetExistsAnyView(text)));
  const std::string found = FindFileOnPathAnyView(text);
  std::printf("  found on path:     %s\n",
              found.empty() ? "no" : Printable(AnsiToUtf8(found)).c_str());
}

}  // namespace

int Probe(const std::filesystem::path& root, const std::vector<std::string>& texts,
          const ProbeOptions& options) {
  Result<std::unique_ptr<reg::HostRegistry>> registry =
      OpenInstallationRegistry(root, options.registry);
  if (!registry.ok()) return Fail(registry.status().ToString());
  reg::SetProcessRegistry(registry->get());
  reg::InitRegistryAccess(**registry);
  std::unique_ptr<reg::HostEnvironment> environment = reg::HostEnvironment::Build(**registry);
  files::HostFiles::Options file_options;
  file_options.drives = options.drives;
  auto host_files =
      reg::OpenInstallationFiles((*registry)->installation(), *environment, file_options);
  if (!host_files.ok()) {
    reg::SetProcessRegistry(nullptr);
    return Fail(host_files.status().ToString());
  }
  reg::SetProcessFiles(host_files->get(), environment.get());
  reg::FsRedirectionToken token;
  if (options.native) token = reg::DisableFsRedirection();
  for (const std::string& text : texts) PrintProbe(reg::Utf8ToAnsi(text));
  if (options.native) reg::RevertFsRedirection(token);
  reg::SetProcessFiles(nullptr, nullptr);
  reg::SetProcessRegistry(nullptr);
  return kExitOk;
}

}  // namespace hm::cli
