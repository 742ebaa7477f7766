// Benchmark of the whole scan: all 24 categories over an installation of benchmark size (--keys
// generated keys, default 500,000, and --files files, default 100,000), beside a plain walk of
// every key and value of the same installation. Each runs in a child process of its own, so that
// its peak memory (maximum resident set) is its own; both include reading the hives.
// The goals: the scan takes at most 5 times the walk, and stays under 300 MB.
//
//   build/release/bench/full_scan_bench [--keys N] [--files N] [--runs N] [--root DIR]
//
// --root DIR measures the installation there, building it first when DIR does not exist yet (and
// keeping it, for profiling); without --root a temporary one is built and removed.
// Every other program that the generated keys name for a third of their vendors exists (under
// Program Files, vendor, product), so that the scan finds some references and misses others; the
// rest of the files sit in side-by-side assembly folders, as on a real installation.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "registry/host_environment.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/scanner.h"

#ifndef HM_DEMO_SOURCES
#define HM_DEMO_SOURCES "demo/win10"
#endif

namespace {

namespace fs = std::filesystem;
using namespace hm;  // NOLINT: a benchmark driver
using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "full_scan_bench: %s\n", what.c_str());
  std::exit(1);
}

// The names the key generator uses for program paths (platform/install/synthetic_keys.cc).
// (a third of its vendors).
constexpr const char* kVendors[] = {"Contoso", "Fabrikam",      "Northwind", "Litware",
                                    "Adatum",  "Tailspin Toys", "Woodgrove", "Proseware"};
constexpr const char* kProductWords[] = {"Photo", "Backup", "Media", "Office", "Sync", "Studio",
                                         "Notes", "Reader", "Capture", "Tunes", "Mail", "Desktop",
                                         "Cloud", "Print", "Secure", "Draw"};
constexpr const char* kProductKinds[] = {"Manager", "Suite",     "Player", "Pro",   "Express",
                                         "Assistant", "Center",  "Tools",  "Viewer", "Agent"};
constexpr const char* kFileNames[] = {"app.exe",   "core.dll",   "helper.exe", "shell.dll",
                                      "update.exe", "codec.dll", "ui.dll",     "sync.exe",
                                      "print.dll", "thumbs.dll", "service.exe", "plugin.dll"};

void Touch(const fs::path& file) {
  std::ofstream(file).put('x');
}

// Creates `count` files: every other program the keys may name, then assembly folders.
void AddFiles(const fs::path& root, uint64_t count) {
  uint64_t made = 0, n = 0;
  for (const char* vendor : kVendors) {
    for (const char* word : kProductWords) {
      for (const char* kind : kProductKinds) {
        const fs::path folder =
            root / "Program Files" / vendor / (std::string(word) + " " + kind);
        fs::create_directories(folder);
        for (const char* file : kFileNames) {
          if (made < count && n++ % 2 == 0) {
            Touch(folder / file);
            ++made;
          }
        }
      }
    }
  }
  for (uint64_t folder = 0; made < count; ++folder) {
    const fs::path dir = root / "Windows" / "WinSxS" /
                         ("x86_generated.assembly_" + std::to_string(folder) + "_none_10.0");
    fs::create_directories(dir);
    for (int i = 0; i < 50 && made < count; ++i, ++made) {
      Touch(dir / ("component" + std::to_string(i) + ".dll"));
    }
  }
}

// The installation opened as the program opens it, installed as the process's.
struct Opened {
  std::unique_ptr<reg::HostRegistry> registry;
  std::unique_ptr<reg::HostEnvironment> environment;
  std::unique_ptr<files::HostFiles> files;
};

Opened Open(const fs::path& root) {
  Opened opened;
  auto installation = install::Installation::Open(root);
  if (!installation.ok()) Die(installation.status().ToString());
  auto registry = reg::HostRegistry::Open(std::move(*installation), {});
  if (!registry.ok()) Die(registry.status().ToString());
  opened.registry = std::move(registry).value();
  reg::SetProcessRegistry(opened.registry.get());
  reg::InitRegistryAccess(*opened.registry);
  opened.environment = reg::HostEnvironment::Build(*opened.registry);
  auto files = reg::OpenInstallationFiles(opened.registry->installation(), *opened.environment, {});
  if (!files.ok()) Die(files.status().ToString());
  opened.files = std::move(files).value();
  reg::SetProcessFiles(opened.files.get(), opened.environment.get());
  return opened;
}

// Every key and value of every hive, each hive from its mount point.
uint64_t PlainWalk(const reg::HostRegistry& registry) {
  uint64_t keys = 0;
  for (const auto& file : registry.installation().hives()) {
    const bool users = file.mount.starts_with("HKU\\");
    reg::TRegistryAccess access(reg::KEY_READ);
    access.SetView64(true);
    access.SetRootKey(users ? reg::HKEY_USERS : reg::HKEY_LOCAL_MACHINE);
    if (!access.OpenKeyReadOnly(file.mount.substr(file.mount.find('\\') + 1))) continue;
    access.EnumSubKeys(
        /*recursive=*/true, 0,
        [&keys](void*, reg::TRegistryAccess& key, const std::string& sub_key) -> uint8_t {
          ++keys;
          if (key.OpenKeyReadOnly(sub_key)) {
            key.EnumValues([](void*, reg::TRegistryAccess&, const std::string&, uint32_t,
                              const uint8_t*, reg::TRegValueType,
                              const std::string&) { return true; },
                           nullptr);
          }
          return 0;
        },
        nullptr);
  }
  return keys;
}

struct Figures {
  double milliseconds = 0;
  uint64_t count = 0;  // keys walked, or findings
  long peak_kb = 0;
};

// Runs `work` in a child process; its time (from after the hives were read), its count and the
// child's peak memory.
template <typename Work>
Figures InChild(const fs::path& root, Work work) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) Die("pipe");
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) Die("fork");
  if (child == 0) {
    close(pipe_fds[0]);
    Opened opened = Open(root);
    opened.registry->Hives();  // every hive read
    const auto start = Clock::now();
    Figures figures;
    figures.count = work(*opened.registry);
    figures.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (write(pipe_fds[1], &figures, sizeof figures) != sizeof figures) _exit(1);
    _exit(0);
  }
  close(pipe_fds[1]);
  Figures figures;
  const bool got = read(pipe_fds[0], &figures, sizeof figures) == sizeof figures;
  close(pipe_fds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("a measuring process failed");
  figures.peak_kb = usage.ru_maxrss;
  return figures;
}

uint64_t FullScan(const reg::HostRegistry&) {
  MainThreadQueue queue;
  scan::TRegScanner scanner(queue);
  scanner.SetScanCategories(scan::TErrorCategories::All());
  bool complete = false;
  scanner.OnScanComplete = [&](scan::TRegScanner*) { complete = true; };
  scanner.Start();
  queue.ServeUntil([&] { return complete; }, std::chrono::milliseconds(1));
  return static_cast<uint64_t>(scanner.ErrorCount());
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t keys = 500000, files = 100000;
  int runs = 1;
  fs::path root;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keys" && i + 1 < argc) {
      keys = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--files" && i + 1 < argc) {
      files = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--root" && i + 1 < argc) {
      root = argv[++i];
    } else {
      Die("usage: full_scan_bench [--keys N] [--files N] [--runs N] [--root DIR]");
    }
  }
  const bool temporary = root.empty();
  if (temporary) root = fs::temp_directory_path() / ("hm-full-scan-bench-" + std::to_string(getpid()));
  if (!fs::exists(root)) {
    std::printf("building an installation with %llu generated keys and %llu files in %s ...\n",
                static_cast<unsigned long long>(keys), static_cast<unsigned long long>(files),
                root.c_str());
    install::BuildOptions options;
    options.synthetic_keys = keys;
    if (Status status = install::BuildInstallation(HM_DEMO_SOURCES, root, options); !status.ok()) {
      Die(status.ToString());
    }
    AddFiles(root, files);
  }
  Figures walk{1e300}, scan{1e300};
  for (int run = 0; run < runs; ++run) {
    const Figures w = InChild(root, PlainWalk);
    const Figures s = InChild(root, FullScan);
    if (w.milliseconds < walk.milliseconds) walk = w;
    if (s.milliseconds < scan.milliseconds) scan = s;
  }
  std::printf("best of %d (time after the hives were read; peak memory of the whole process)\n",
              runs);
  std::printf("plain walk of every key and value: %9.1f ms  %7.1f MB peak  (%llu keys)\n",
              walk.milliseconds, walk.peak_kb / 1024.0, static_cast<unsigned long long>(walk.count));
  std::printf("full scan, all 24 categories:      %9.1f ms  %7.1f MB peak  (%llu findings)\n",
              scan.milliseconds, scan.peak_kb / 1024.0, static_cast<unsigned long long>(scan.count));
  std::printf("scan / walk: %.2f (goal: at most 5); scan peak memory: %.0f MB (goal: under 300)\n",
              scan.milliseconds / walk.milliseconds, scan.peak_kb / 1024.0);
  if (temporary) fs::remove_all(root);
  return 0;
}
