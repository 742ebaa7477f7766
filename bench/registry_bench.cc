// Benchmark of the registry access layer: a walk of every key and value of an installation
// with TRegistryAccess, as a scan walks it, beside the hive engine's own walk of the same hive files in the
// same run. Both include reading the hives. The goal: the access layer adds at most 50% to the
// engine's walk.
//
//   build/release/bench/registry_bench [--keys N] [--runs N] [--root DIR]
//
// Without --root it builds the demo installation with N generated keys (default 500,000) into a
// temporary folder first.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/hive/hive.h"
#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "registry/host_registry.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

#ifndef HM_DEMO_SOURCES
#define HM_DEMO_SOURCES "demo/win10"
#endif

namespace {

namespace fs = std::filesystem;
using namespace hm::reg;  // NOLINT: the registry functions read best unqualified
using Clock = std::chrono::steady_clock;

int g_runs = 3;

double Milliseconds(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "registry_bench: %s\n", what.c_str());
  std::exit(1);
}

struct Totals {
  uint64_t keys = 0;
  uint64_t values = 0;
  uint64_t checksum = 0;  // keeps the work from being optimized away
};

void WalkEngine(const hm::hive::Key& key, Totals* totals) {
  ++totals->keys;
  for (const auto& value : key.values()) {
    ++totals->values;
    std::string_view data = value.data.view();
    totals->checksum += value.name.size() + value.type + data.size();
    if (!data.empty()) totals->checksum += static_cast<unsigned char>(data[0]);
  }
  for (const auto& subkey : key.subkeys()) WalkEngine(*subkey, totals);
}

Totals EngineWalk(const hm::install::Installation& installation) {
  Totals totals;
  for (const auto& file : installation.hives()) {
    auto hive = hm::hive::Hive::Open(file.file, {.read_only = true});
    if (!hive.ok()) Die(hive.status().ToString());
    WalkEngine((*hive)->root(), &totals);
  }
  return totals;
}

// The walk of a scan: TRegistryAccess enumerates every subkey below a hive's root; the callback
// opens each key on the access object it is handed and enumerates its values.
struct AccessWalker {
  Totals totals;

  void WalkHive(HKEY root, const std::string& path) {
    TRegistryAccess access(KEY_READ);
    access.SetView64(true);
    access.SetRootKey(root);
    if (!access.OpenKeyReadOnly(path)) return;
    VisitValues(access);
    access.EnumSubKeys(
        /*recursive=*/true, /*max_depth=*/0,
        [this](void*, TRegistryAccess& key, const std::string& sub_key_path) -> uint8_t {
          if (key.OpenKeyReadOnly(sub_key_path)) VisitValues(key);
          return 0;
        },
        nullptr);
  }

  void VisitValues(TRegistryAccess& key) {
    ++totals.keys;
    key.EnumValues(
        [this](void*, TRegistryAccess&, const std::string&, uint32_t data_size,
               const uint8_t* data, TRegValueType type, const std::string& name) {
          ++totals.values;
          totals.checksum += name.size() + static_cast<uint32_t>(type) + data_size +
                             (data_size > 0 ? data[0] : 0);
          return true;
        },
        nullptr);
  }
};

// Time of the last access walk spent reading the hives (before the walk) and releasing them.
double g_load_ms = 0, g_release_ms = 0;

Totals AccessWalk(std::shared_ptr<const hm::install::Installation> installation) {
  auto start = Clock::now();
  auto registry = HostRegistry::Open(std::move(installation), {});
  if (!registry.ok()) Die(registry.status().ToString());
  (*registry)->Hives();  // reads every hive
  g_load_ms = Milliseconds(start);
  SetProcessRegistry(registry->get());
  InitRegistryAccess(**registry);
  AccessWalker walker;
  for (const auto& file : (*registry)->installation().hives()) {
    const bool users = file.mount.starts_with("HKU\\");
    walker.WalkHive(users ? HKEY_USERS : HKEY_LOCAL_MACHINE,
                    file.mount.substr(file.mount.find('\\') + 1));
  }
  SetProcessRegistry(nullptr);
  start = Clock::now();
  registry->reset();
  g_release_ms = Milliseconds(start);
  return walker.totals;
}

template <typename Run>
double BestOf(Run run, Totals* totals) {
  double best = 1e300;
  for (int i = 0; i < g_runs; ++i) {
    auto start = Clock::now();
    *totals = run();
    best = std::min(best, Milliseconds(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t keys = 500000;
  fs::path root;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--keys" && i + 1 < argc) {
      keys = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--runs" && i + 1 < argc) {
      g_runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--root" && i + 1 < argc) {
      root = argv[++i];
    } else {
      Die("usage: registry_bench [--keys N] [--runs N] [--root DIR]");
    }
  }
  fs::path temporary;
  if (root.empty()) {
    temporary = fs::temp_directory_path() / ("hm-registry-bench-" + std::to_string(getpid()));
    root = temporary;
    std::printf("building an installation with %llu generated keys in %s ...\n",
                static_cast<unsigned long long>(keys), root.c_str());
    hm::install::BuildOptions options;
    options.synthetic_keys = keys;
    if (hm::Status status = hm::install::BuildInstallation(HM_DEMO_SOURCES, root, options);
        !status.ok()) {
      Die(status.ToString());
    }
  }
  auto opened = hm::install::Installation::Open(root);
  if (!opened.ok()) Die(opened.status().ToString());
  std::shared_ptr<const hm::install::Installation> installation = std::move(*opened);

  Totals engine, access;
  const double engine_ms =
      std::getenv("HM_BENCH_ACCESS_ONLY") ? 1 : BestOf([&] { return EngineWalk(*installation); }, &engine);
  const double access_ms = BestOf([&] { return AccessWalk(installation); }, &access);
  std::printf("%-28s %10s %10s %10s\n", "walk (open + every key)", "keys", "values", "ms");
  std::printf("%-28s %10llu %10llu %10.1f\n", "hive engine",
              static_cast<unsigned long long>(engine.keys),
              static_cast<unsigned long long>(engine.values), engine_ms);
  std::printf("%-28s %10llu %10llu %10.1f\n", "TRegistryAccess",
              static_cast<unsigned long long>(access.keys),
              static_cast<unsigned long long>(access.values), access_ms);
  std::printf("  of which reading the hives %.1f ms, releasing them %.1f ms\n", g_load_ms,
              g_release_ms);
  std::printf("added by the access layer: %.0f%% (goal: at most 50%%)\n",
              (access_ms / engine_ms - 1) * 100);
  if (!temporary.empty()) fs::remove_all(temporary);
  return 0;
}
