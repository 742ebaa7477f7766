// Benchmark of the registry access layer: a walk of every key and value of an installation
// with TRegistryAccess, as a scan walks it, beside the hive engine's own walk of the same hive
// files in the same run. Both include reading the hives. The goal: the access layer adds at most
// 50% to the engine's walk.
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

// Milliseconds spent in each phase of one walk.
struct Phases {
  double read = 0;
  double walk = 0;
  double release = 0;
  double total() const { return read + walk + release; }
};

Totals EngineWalk(const hm::install::Installation& installation, Phases* phases) {
  Totals totals;
  for (const auto& file : installation.hives()) {
    auto start = Clock::now();
    auto hive = hm::hive::Hive::Open(file.file, {.read_only = true});
    if (!hive.ok()) Die(hive.status().ToString());
    phases->read += Milliseconds(start);
    start = Clock::now();
    WalkEngine((*hive)->root(), &totals);
    phases->walk += Milliseconds(start);
    start = Clock::now();
    hive->reset();
    phases->release += Milliseconds(start);
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
        [this](void*, TRegistryAccess&, const std::string&, uint32_t data_size, const uint8_t* data,
               TRegValueType type, const std::string& name) {
          ++totals.values;
          totals.checksum +=
              name.size() + static_cast<uint32_t>(type) + data_size + (data_size > 0 ? data[0] : 0);
          return true;
        },
        nullptr);
  }
};

Totals AccessWalk(std::shared_ptr<const hm::install::Installation> installation, Phases* phases) {
  auto start = Clock::now();
  auto registry = HostRegistry::Open(std::move(installation), {});
  if (!registry.ok()) Die(registry.status().ToString());
  (*registry)->Hives();  // reads every hive
  phases->read = Milliseconds(start);
  start = Clock::now();
  SetProcessRegistry(registry->get());
  InitRegistryAccess(**registry);
  AccessWalker walker;
  for (const auto& file : (*registry)->installation().hives()) {
    const bool users = file.mount.starts_with("HKU\\");
    walker.WalkHive(users ? HKEY_USERS : HKEY_LOCAL_MACHINE,
                    file.mount.substr(file.mount.find('\\') + 1));
  }
  SetProcessRegistry(nullptr);
  phases->walk = Milliseconds(start);
  start = Clock::now();
  registry->reset();
  phases->release = Milliseconds(start);
  return walker.totals;
}

// The run with the shortest total of `g_runs`.
template <typename Run>
Phases BestOf(Run run, Totals* totals) {
  Phases best;
  best.read = 1e300;
  for (int i = 0; i < g_runs; ++i) {
    Phases phases;
    *totals = run(&phases);
    if (phases.total() < best.total()) best = phases;
  }
  return best;
}

void PrintRow(const char* name, const Totals& totals, const Phases& phases) {
  std::printf("%-16s %9llu %9llu %9.1f %9.1f %9.1f %9.1f\n", name,
              static_cast<unsigned long long>(totals.keys),
              static_cast<unsigned long long>(totals.values), phases.read, phases.walk,
              phases.release, phases.total());
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
  const Phases engine_ms =
      BestOf([&](Phases* phases) { return EngineWalk(*installation, phases); }, &engine);
  const Phases access_ms =
      BestOf([&](Phases* phases) { return AccessWalk(installation, phases); }, &access);
  std::printf("best of %d, milliseconds\n", g_runs);
  std::printf("%-16s %9s %9s %9s %9s %9s %9s\n", "", "keys", "values", "read", "walk", "release",
              "total");
  PrintRow("hive engine", engine, engine_ms);
  PrintRow("TRegistryAccess", access, access_ms);
  std::printf(
      "added by the access layer: %.0f%% of the engine's whole walk (goal: at most 50%%), "
      "%.1fx its bare walk\n",
      (access_ms.total() / engine_ms.total() - 1) * 100, access_ms.walk / engine_ms.walk);
  if (!temporary.empty()) fs::remove_all(temporary);
  return 0;
}
