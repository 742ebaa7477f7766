// Fuzz target for the registry editor's import: the input (after one byte that chooses the
// view) is taken as a registry editor file, checked against a small 64-bit installation, and
// applied with every key moved below a sandbox key (HKLM\SOFTWARE\Fuzz), so that inputs do not
// pile up in the registry. Then the sandbox is exported, deleted, imported from that export and
// exported again: the two exports must be equal, or the export lost something. Aborts on any
// difference; crashes and sanitizer reports are the other findings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include <unistd.h>

#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "registry/host_registry.h"
#include "registry/regedit.h"

namespace {

using hm::reg::HostRegistry;

constexpr char kSources[] = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentVersion"="6.3"
"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000
"SystemRoot"="C:\\Windows"

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Vendor]
"v"="32"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.txt]
@="txtfile"

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control]
)";

HostRegistry* Registry() {
  static std::unique_ptr<HostRegistry> registry = [] {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("reg_import_fuzz." + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "sources/registry");
    std::ofstream(dir / "sources/registry/10.reg", std::ios::binary) << kSources;
    std::ofstream(dir / "sources/files.txt", std::ios::binary) << "Windows\\\n";
    if (!hm::install::BuildInstallation(dir / "sources", dir / "c").ok()) std::abort();
    auto installation = hm::install::Installation::Open(dir / "c");
    if (!installation.ok()) std::abort();
    // Changes stay in memory; the hives in the temporary folder are written when the process
    // ends (the folder is left for inspection).
    auto opened = HostRegistry::Open(std::move(installation).value(), {});
    if (!opened.ok()) std::abort();
    return std::move(opened).value();
  }();
  return registry.get();
}

constexpr std::u16string_view kSandbox = u"SOFTWARE\\Fuzz";

void ClearSandbox(HostRegistry& registry, bool view64) {
  const std::string text =
      "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Fuzz]\r\n";
  if (!hm::reg::ImportRegFile(registry, text, view64, "clear").ok()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  HostRegistry& registry = *Registry();
  const bool view64 = (data[0] & 1) != 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

  auto checked = hm::reg::CheckRegFile(registry, input, view64, "fuzz.reg");
  if (!checked.ok()) return 0;
  hm::regedit::RegFile file = std::move(checked).value();
  for (hm::regedit::KeyOp& key : file.keys) {
    const size_t slash = key.key_text.find(u'\\');
    std::u16string rest = slash == std::u16string::npos ? u"" : key.key_text.substr(slash);
    key.key_text = u"HKEY_LOCAL_MACHINE\\" + std::u16string(kSandbox) + rest;
  }
  (void)hm::reg::ApplyRegFile(registry, file, view64, "fuzz.reg");

  auto first = hm::reg::ExportKeyTree(registry, hm::reg::HKEY_LOCAL_MACHINE, kSandbox, view64);
  if (first.ok()) {
    ClearSandbox(registry, view64);
    const hm::Status reimported = hm::reg::ImportRegFile(registry, *first, view64, "export.reg");
    if (!reimported.ok()) {
      std::fprintf(stderr, "export does not import: %s\n", reimported.ToString().c_str());
      std::abort();
    }
    auto second = hm::reg::ExportKeyTree(registry, hm::reg::HKEY_LOCAL_MACHINE, kSandbox, view64);
    if (!second.ok() || *second != *first) {
      std::fprintf(stderr, "export changed after a round trip\n");
      std::abort();
    }
  }
  ClearSandbox(registry, view64);
  return 0;
}
