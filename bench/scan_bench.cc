// Benchmark of the class registration scan: the four COM categories over an installation with
// many class registrations, beside a plain TRegistryAccess walk of the same keys in the same run.
// The goal: the scan costs at most 3 times the walk.
//
//   build/release/bench/scan_bench [--classes N] [--keys N] [--runs N]
//
// It builds the demo installation with --keys generated keys (default 200,000), then adds
// --classes class registrations (default 100,000; each a class key with a server, a program
// identifier and, for every fourth, an icon; 2% of the servers and 1% of the program identifiers
// missing, which gives some thousands of findings) to SOFTWARE.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/hive/hive.h"
#include "platform/install/builder.h"
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
  std::fprintf(stderr, "scan_bench: %s\n", what.c_str());
  std::exit(1);
}

std::string Utf16Data(const std::string& text) {
  std::u16string wide = FromUtf8(text);
  wide.push_back(u'\0');
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
}

// Adds `count` class registrations to the SOFTWARE hive of the installation at `root`.
void AddClasses(const fs::path& root, int count) {
  const fs::path file = root / "Windows/System32/config/SOFTWARE";
  auto hive = hive::Hive::Open(file);
  if (!hive.ok()) Die(hive.status().ToString());
  hive::Key* clsid = (*hive)->Find(u"Classes\\CLSID");
  if (clsid == nullptr) Die("the installation has no Classes\\CLSID");
  std::mt19937 random(7);
  for (int i = 0; i < count; ++i) {
    char guid[64];
    std::snprintf(guid, sizeof guid, "{%08X-%04X-4000-8000-%012X}", static_cast<unsigned>(random()),
                  i & 0xFFFF, static_cast<unsigned>(i));
    hive::Key* key = clsid->CreateSubkey(FromUtf8(guid)).value();
    (void)key->SetValue(u"", hive::kRegSz, Utf16Data("Generated class " + std::to_string(i)));
    const bool missing = random() % 50 == 0;  // 2%: a real registry has few broken servers
    hive::Key* server = key->CreateSubkey(u"InprocServer32").value();
    (void)server->SetValue(
        u"", hive::kRegSz,
        Utf16Data(missing ? "C:\\Program Files\\Gone\\gone" + std::to_string(i % 97) + ".dll"
                          : "C:\\Windows\\System32\\shell32.dll"));
    hive::Key* progid = key->CreateSubkey(u"ProgID").value();
    (void)progid->SetValue(u"", hive::kRegSz, Utf16Data(i % 100 == 0 ? "Gone.Prog.1" : "txtfile"));
    if (i % 4 == 0) {
      hive::Key* icon = key->CreateSubkey(u"DefaultIcon").value();
      (void)icon->SetValue(u"", hive::kRegSz, Utf16Data("%SystemRoot%\\System32\\imageres.dll,-2"));
    }
  }
  if (Status status = (*hive)->Save(); !status.ok()) Die(status.ToString());
}

// A plain walk of the registration keys the scan reads, in both views and under both roots,
// opening each key and reading its values, as the scan's access object does.
uint64_t PlainWalk() {
  uint64_t keys = 0;
  for (bool view64 : {false, true}) {
    for (reg::HKEY root : {reg::HKEY_LOCAL_MACHINE, reg::HKEY_CURRENT_USER}) {
      for (const char* path : {"Software\\Classes\\AppID", "Software\\Classes\\CLSID",
                               "Software\\Classes\\TypeLib", "Software\\Classes\\Interface"}) {
        reg::TRegistryAccess access(reg::KEY_READ);
        access.SetView64(view64);
        access.SetRootKey(root);
        if (!access.OpenKeyReadOnly(path)) continue;
        access.EnumSubKeys(
            /*recursive=*/true, 0,
            [&keys](void*, reg::TRegistryAccess& key, const std::string& sub_key) -> uint8_t {
              ++keys;
              if (key.OpenKeyReadOnly(sub_key)) {
                key.EnumValues(
                    [](void*, reg::TRegistryAccess&, const std::string&, uint32_t, const uint8_t*,
                       reg::TRegValueType, const std::string&) { return true; },
                    nullptr);
              }
              return 0;
            },
            nullptr);
      }
    }
  }
  return keys;
}

double Milliseconds(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int classes = 100000, runs = 3;
  uint64_t keys = 200000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--classes" && i + 1 < argc) {
      classes = std::atoi(argv[++i]);
    } else if (arg == "--keys" && i + 1 < argc) {
      keys = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      Die("usage: scan_bench [--classes N] [--keys N] [--runs N]");
    }
  }
  const fs::path root = fs::temp_directory_path() / ("hm-scan-bench-" + std::to_string(getpid()));
  std::printf("building an installation with %llu generated keys and %d classes in %s ...\n",
              static_cast<unsigned long long>(keys), classes, root.c_str());
  install::BuildOptions options;
  options.synthetic_keys = keys;
  if (Status status = install::BuildInstallation(HM_DEMO_SOURCES, root, options); !status.ok()) {
    Die(status.ToString());
  }
  AddClasses(root, classes);

  auto installation = install::Installation::Open(root);
  if (!installation.ok()) Die(installation.status().ToString());
  auto registry = reg::HostRegistry::Open(std::move(*installation), {});
  if (!registry.ok()) Die(registry.status().ToString());
  reg::SetProcessRegistry(registry->get());
  reg::InitRegistryAccess(**registry);
  std::unique_ptr<reg::HostEnvironment> environment = reg::HostEnvironment::Build(**registry);
  auto files = reg::OpenInstallationFiles((*registry)->installation(), *environment, {});
  if (!files.ok()) Die(files.status().ToString());
  reg::SetProcessFiles(files->get(), environment.get());
  (*registry)->Hives();  // every hive read before timing

  uint64_t walked = 0;
  double walk_ms = 1e300, scan_ms = 1e300;
  int findings = 0;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    walked = PlainWalk();
    walk_ms = std::min(walk_ms, Milliseconds(start));

    MainThreadQueue queue;
    scan::TRegScanner scanner(queue);
    scan::TErrorCategories categories;
    for (scan::TErrorCategory c :
         {scan::ecAppIDs, scan::ecCLSIDs, scan::ecTypeLib, scan::ecInterfaces}) {
      categories.Include(c);
    }
    scanner.SetScanCategories(categories);
    bool complete = false;
    scanner.OnScanComplete = [&](scan::TRegScanner*) { complete = true; };
    start = Clock::now();
    scanner.Start();
    queue.ServeUntil([&] { return complete; }, std::chrono::milliseconds(1));
    scan_ms = std::min(scan_ms, Milliseconds(start));
    findings = scanner.ErrorCount();
  }
  std::printf("best of %d\n", runs);
  std::printf("plain TRegistryAccess walk: %llu keys in %.1f ms (%.0f keys/s)\n",
              static_cast<unsigned long long>(walked), walk_ms, walked / (walk_ms / 1000));
  std::printf("class scan:                 %llu keys in %.1f ms (%.0f keys/s), %d findings\n",
              static_cast<unsigned long long>(walked), scan_ms, walked / (scan_ms / 1000),
              findings);
  std::printf("scan / walk: %.2f (goal: at most 3)\n", scan_ms / walk_ms);
  reg::SetProcessFiles(nullptr, nullptr);
  reg::SetProcessRegistry(nullptr);
  registry->reset();
  fs::remove_all(root);
  return 0;
}
