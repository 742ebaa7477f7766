// Benchmark of the file probes a scan makes: probes per second over a generated installation of
// N files, with the folder cache cold (dropped before the run: every folder a probe passes is
// read once) and warm (the same probes again). Three levels are measured:
//
//   HostFiles   GetFileAttributes of a Windows path (names in any letter case);
//   FileExistsEx  the path utility as a scan calls it (expansion, ProbePath, both WOW64 views);
//   uncached    install::ResolveWindowsPath, which lists each folder on every probe.
//
//   build/files-rel/bench/path_bench [--files N] [--probes N] [--runs N]
//
// The installation is the demo's registry with N empty files (default 100,000) spread over
// Program Files, Windows\System32 and SysWOW64 and a user profile, built into a temporary folder.
// The probes mix existing files (in other letter cases), missing files in existing folders,
// missing folders, command lines with arguments and System32 paths that WOW64 redirects.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/install/builder.h"
#include "platform/install/installation.h"
#include "platform/install/win_path.h"
#include "registry/host_environment.h"
#include "registry/host_registry.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"

#ifndef HM_DEMO_SOURCES
#define HM_DEMO_SOURCES "demo/win10"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "path_bench: %s\n", what.c_str());
  std::exit(1);
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Touch(const fs::path& file) {
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Die("cannot create " + file.string());
  close(fd);
}

// The Windows paths of the generated files, relative to C:\.
std::vector<std::string> GenerateFiles(const fs::path& root, uint64_t count) {
  std::vector<std::string> files;
  files.reserve(count);
  const uint64_t system_files = count / 20;
  for (uint64_t i = 0; i < count; ++i) {
    std::string folder;
    if (i < system_files) {
      folder = i % 2 ? "Windows\\System32" : "Windows\\SysWOW64";
    } else if (i % 10 == 0) {
      folder = "Users\\demo\\AppData\\Local\\Vendor" + std::to_string(i % 37) + "\\Cache";
    } else {
      const uint64_t product = (i / 100) % 1000;
      folder = std::string(i % 3 ? "Program Files" : "Program Files (x86)") + "\\Vendor " +
               std::to_string(product / 20) + "\\Product " + std::to_string(product) +
               (i % 2 ? "\\bin" : "\\lib\\plugins");
    }
    std::string name = folder + "\\file" + std::to_string(i) + (i % 4 ? ".dll" : ".exe");
    fs::path host = root;
    for (size_t start = 0; start <= name.size();) {
      size_t end = std::min(name.find('\\', start), name.size());
      host /= name.substr(start, end - start);
      start = end + 1;
    }
    std::error_code ec;
    fs::create_directories(host.parent_path(), ec);
    Touch(host);
    files.push_back(std::move(name));
  }
  return files;
}

std::string MixCase(std::string text, std::mt19937_64& random) {
  for (char& c : text) {
    if (std::isalpha(static_cast<unsigned char>(c)) && random() % 3 == 0) {
      c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c)
                                                                        : std::toupper(c));
    }
  }
  return text;
}

std::vector<std::string> MakeProbes(const std::vector<std::string>& files, uint64_t count) {
  std::mt19937_64 random(7);
  std::vector<std::string> probes;
  probes.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    const std::string& file = files[random() % files.size()];
    switch (i % 8) {
      case 0:
      case 1:
      case 2:  // an existing file, in another letter case
        probes.push_back("C:\\" + MixCase(file, random));
        break;
      case 3:  // a missing file in an existing folder
        probes.push_back("C:\\" + file.substr(0, file.rfind('\\')) + "\\gone" + std::to_string(i) +
                         ".dll");
        break;
      case 4:  // a missing folder
        probes.push_back("C:\\Program Files\\Gone " + std::to_string(i % 5000) + "\\x.exe");
        break;
      case 5:  // a command line with arguments
        probes.push_back("C:\\" + file + " /s -x");
        break;
      case 6:  // System32, seen through the redirector
        probes.push_back("%SystemRoot%\\System32\\file" + std::to_string(random() % 5000) + ".dll");
        break;
      default:  // an environment variable
        probes.push_back("%ProgramFiles%\\Vendor " + std::to_string(random() % 50) + "\\Product " +
                         std::to_string(random() % 1000) + "\\bin\\a.dll");
        break;
    }
  }
  return probes;
}

struct Options {
  uint64_t files = 100000;
  uint64_t probes = 200000;
  int runs = 3;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    auto number = [&](const char* name) -> uint64_t {
      if (i + 1 >= argc) Die(std::string(name) + " needs a number");
      return std::strtoull(argv[++i], nullptr, 10);
    };
    if (std::strcmp(argv[i], "--files") == 0) {
      options.files = number("--files");
    } else if (std::strcmp(argv[i], "--probes") == 0) {
      options.probes = number("--probes");
    } else if (std::strcmp(argv[i], "--runs") == 0) {
      options.runs = static_cast<int>(number("--runs"));
    } else {
      Die(std::string("unknown option ") + argv[i]);
    }
  }
  if (options.files == 0 || options.probes == 0 || options.runs <= 0) Die("counts must be > 0");
  return options;
}

// Runs `probe` over every text; returns probes per second and how many found something.
template <typename Probe>
double Rate(const std::vector<std::string>& probes, Probe probe, uint64_t* found) {
  *found = 0;
  auto start = Clock::now();
  for (const std::string& text : probes) *found += probe(text) ? 1 : 0;
  return probes.size() / Seconds(start);
}

void Report(const char* what, double cold, double warm, uint64_t found, uint64_t total) {
  std::printf("%-13s cold %10.0f probes/s   warm %10.0f probes/s   (%llu of %llu found)\n", what,
              cold, warm, static_cast<unsigned long long>(found),
              static_cast<unsigned long long>(total));
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  char pattern[] = "/tmp/path_bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) Die("cannot create a temporary folder");
  const fs::path root = fs::path(pattern) / "c";

  auto start = Clock::now();
  hm::Status built = hm::install::BuildInstallation(HM_DEMO_SOURCES, root);
  if (!built.ok()) Die(built.ToString());
  const std::vector<std::string> files = GenerateFiles(root, options.files);
  std::printf("installation: %s, %llu generated files (built in %.1f s)\n", root.c_str(),
              static_cast<unsigned long long>(options.files), Seconds(start));

  auto installation = hm::install::Installation::Open(root);
  if (!installation.ok()) Die(installation.status().ToString());
  auto registry = hm::reg::HostRegistry::Open(std::move(installation).value(), {});
  if (!registry.ok()) Die(registry.status().ToString());
  hm::reg::SetProcessRegistry(registry->get());
  hm::reg::InitRegistryAccess(**registry);
  auto environment = hm::reg::HostEnvironment::Build(**registry);
  auto host_files = hm::reg::OpenInstallationFiles((*registry)->installation(), *environment, {});
  if (!host_files.ok()) Die(host_files.status().ToString());
  hm::files::HostFiles& cache = **host_files;
  hm::reg::SetProcessFiles(&cache, environment.get());

  const std::vector<std::string> probes = MakeProbes(files, options.probes);
  std::vector<std::string> expanded;
  for (const std::string& text : probes) expanded.push_back(hm::reg::ExpandEnvVars(text, false));
  std::printf("%llu probes, best of %d runs\n", static_cast<unsigned long long>(probes.size()),
              options.runs);

  auto attributes = [&](const std::string& path) {
    return cache.GetFileAttributes(path, hm::files::FsView::kRedirected) !=
           hm::files::kInvalidFileAttributes;
  };
  auto exists = [](const std::string& text) { return hm::reg::FileExistsEx(text); };
  double best[4] = {};
  uint64_t found[2] = {};
  for (int run = 0; run < options.runs; ++run) {
    cache.DropCache();
    best[0] = std::max(best[0], Rate(expanded, attributes, &found[0]));
    best[1] = std::max(best[1], Rate(expanded, attributes, &found[0]));
    cache.DropCache();
    best[2] = std::max(best[2], Rate(probes, exists, &found[1]));
    best[3] = std::max(best[3], Rate(probes, exists, &found[1]));
  }
  Report("HostFiles", best[0], best[1], found[0], probes.size());
  Report("FileExistsEx", best[2], best[3], found[1], probes.size());

  // The stateless resolver, which lists folders on every probe, on a tenth of the probes.
  std::vector<std::string> sample(expanded.begin(), expanded.begin() + expanded.size() / 10);
  uint64_t uncached_found = 0;
  double uncached = Rate(
      sample,
      [&](const std::string& path) { return hm::install::ResolveWindowsPath(root, path).ok(); },
      &uncached_found);
  std::printf("%-13s      %10.0f probes/s   (%llu of %zu found; no WOW64 redirection)\n",
              "uncached", uncached, static_cast<unsigned long long>(uncached_found), sample.size());
  std::printf("cache: %llu folders listed, %llu names held\n",
              static_cast<unsigned long long>(cache.cache_stats().folders_listed),
              static_cast<unsigned long long>(cache.cache_stats().cached_entries));

  hm::reg::SetProcessFiles(nullptr, nullptr);
  hm::reg::SetProcessRegistry(nullptr);
  registry->reset();
  std::error_code ec;
  fs::remove_all(pattern, ec);
  return 0;
}
