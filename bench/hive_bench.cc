// Benchmark of reading hives: the engine's Open plus a walk of every key and value, against
// libhivex's raw walk of the same file and against reglookup run as a program. Runs on the real
// SYSTEM hive of the shared test data and on a generated hive of --keys keys (default 500,000).
// Prints the best of three runs of each in milliseconds, the engine/libhivex ratio (the goal is at
// most 2), the engine's Serialize time and the peak memory of a process that opens and walks it.
//
//   build/bench-rel/bench/hive_bench [--keys N] [--runs N] [--hive FILE]...
#include <hivex.h>
#include <lzma.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hive/hive.h"

namespace {

using hm::hive::Hive;
using hm::hive::Key;
using Clock = std::chrono::steady_clock;

int g_runs = 3;

double BestOf(const std::function<void()>& run) {
  double best = 1e300;
  for (int i = 0; i < g_runs; ++i) {
    auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "hive_bench: %s\n", what.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------------------------
// The three readers. Each returns a checksum of what it touched so no work is optimized away.

uint64_t WalkEngine(const Key& key) {
  uint64_t sum = key.name().size() + (key.name().empty() ? 0 : key.name()[0]);
  for (const auto& v : key.values()) {
    sum += v.name.size() + v.type + v.data.size();
    if (!v.data.empty()) sum += static_cast<unsigned char>(v.data[0]);
  }
  for (const auto& sub : key.subkeys()) sum += WalkEngine(*sub);
  return sum;
}

uint64_t EngineOpenAndWalk(const std::filesystem::path& file) {
  auto hive = Hive::Open(file, {.read_only = true});
  if (!hive.ok()) Die(hive.status().ToString());
  return WalkEngine(hive.value()->root());
}

uint64_t WalkHivex(hive_h* h, hive_node_h node) {
  uint64_t sum = 0;
  char* name = hivex_node_name(h, node);
  if (name != nullptr) sum += std::strlen(name) + static_cast<unsigned char>(name[0]);
  free(name);
  if (hive_value_h* values = hivex_node_values(h, node)) {
    for (hive_value_h* v = values; *v != 0; ++v) {
      char* key = hivex_value_key(h, *v);
      // libhivex hands any 32-bit type through its enum; keep it as the number it is.
      uint32_t type = 0;
      size_t length = 0;
      char* data = hivex_value_value(h, *v, reinterpret_cast<hive_type*>(&type), &length);
      if (key != nullptr) sum += std::strlen(key);
      if (data != nullptr)
        sum += type + length + (length ? static_cast<unsigned char>(data[0]) : 0);
      free(key);
      free(data);
    }
    free(values);
  }
  if (hive_node_h* children = hivex_node_children(h, node)) {
    for (hive_node_h* c = children; *c != 0; ++c) sum += WalkHivex(h, *c);
    free(children);
  }
  return sum;
}

uint64_t HivexOpenAndWalk(const std::filesystem::path& file) {
  hive_h* h = hivex_open(file.c_str(), 0);
  if (h == nullptr) Die("hivex_open " + file.string() + ": " + std::strerror(errno));
  uint64_t sum = WalkHivex(h, hivex_root(h));
  hivex_close(h);
  return sum;
}

void RunReglookup(const std::filesystem::path& file) {
  std::string command = "reglookup '" + file.string() + "' > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) Die("failed: " + command);
}

// A "VmRSS:"-style field of /proc/self/status, in KiB.
long StatusKib(const char* field) {
  long kib = -1;
  if (FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, field, std::strlen(field)) == 0)
        kib = std::atol(line + std::strlen(field));
    }
    std::fclose(status);
  }
  return kib;
}

// Peak resident memory (MiB) of a fresh process (this program run with --peak-rss-of) that
// opens and walks `file` with the engine; the program itself takes a few MiB of it.
double EnginePeakRssMib(const std::filesystem::path& file) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string command = "'" + self + "' --peak-rss-of '" + file.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  long kib = -1;
  if (pipe == nullptr || std::fscanf(pipe, "%ld", &kib) != 1) Die("failed: " + command);
  pclose(pipe);
  return kib / 1024.0;
}

// ---------------------------------------------------------------------------------------------
// Inputs

std::string XzDecompress(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string compressed((std::istreambuf_iterator<char>(in)), {});
  if (compressed.empty()) Die("cannot read " + file.string());
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, UINT64_MAX, 0) != LZMA_OK) Die("lzma");
  stream.next_in = reinterpret_cast<const uint8_t*>(compressed.data());
  stream.avail_in = compressed.size();
  std::string out;
  std::array<uint8_t, 1 << 16> chunk;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    stream.next_out = chunk.data();
    stream.avail_out = chunk.size();
    ret = lzma_code(&stream, LZMA_FINISH);
    out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - stream.avail_out);
  }
  lzma_end(&stream);
  if (ret != LZMA_STREAM_END) Die("cannot decompress " + file.string());
  return out;
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Die("cannot write " + file.string());
}

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out + std::string(2, '\0');
}

// Key and value names of the kind found in SOFTWARE and SYSTEM hives.
const char* const kWords[] = {"Microsoft",      "Windows",
                              "CurrentVersion", "Explorer",
                              "Services",       "Parameters",
                              "Control",        "Classes",
                              "CLSID",          "InprocServer32",
                              "Shell",          "Open",
                              "Command",        "Policies",
                              "Setup",          "Uninstall",
                              "Settings",       "Options",
                              "Components",     "Drivers",
                              "Enum",           "Devices",
                              "Security",       "Profiles",
                              "Network",        "Adapters",
                              "Interfaces",     "Defaults",
                              "Extensions",     "Plugins",
                              "Capabilities",   "FileAssociations",
                              "Software",       "Vendor",
                              "Product",        "Version",
                              "Config",         "Cache",
                              "History",        "Recent",
                              "Display",        "Audio",
                              "Fonts",          "Print",
                              "Tasks",          "Logs"};

std::string RandomName(std::mt19937_64& rng) {
  switch (rng() % 5) {
    case 0: {  // a GUID, as under CLSID and Interface
      char guid[40];
      std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%04X-%012llX}",
                    static_cast<unsigned>(rng()), static_cast<unsigned>(rng() & 0xFFFF),
                    static_cast<unsigned>(rng() & 0xFFFF), static_cast<unsigned>(rng() & 0xFFFF),
                    static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFULL));
      return guid;
    }
    case 1:
      return std::string(kWords[rng() % std::size(kWords)]) + std::to_string(rng() % 100);
    default:
      return kWords[rng() % std::size(kWords)];
  }
}

void AddValues(Key* key, std::mt19937_64& rng) {
  int count = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < count; ++i) {
    std::u16string name = i == 0 && rng() % 4 == 0 ? u"" : hm::hive::FromUtf8(RandomName(rng));
    uint64_t kind = rng() % 20;
    uint32_t type;
    std::string data;
    if (kind < 8) {
      type = hm::hive::kRegSz;
      data = Utf16Le("C:\\Program Files\\" + RandomName(rng) + "\\" + RandomName(rng) + ".dll");
    } else if (kind < 13) {
      type = hm::hive::kRegDword;
      uint32_t v = static_cast<uint32_t>(rng());
      data.assign(reinterpret_cast<const char*>(&v), 4);
    } else if (kind < 15) {
      type = hm::hive::kRegExpandSz;
      data = Utf16Le("%SystemRoot%\\system32\\" + RandomName(rng) + ".exe");
    } else if (kind < 16) {
      type = hm::hive::kRegQword;
      uint64_t v = rng();
      data.assign(reinterpret_cast<const char*>(&v), 8);
    } else if (kind < 17) {
      type = hm::hive::kRegMultiSz;
      data = Utf16Le(RandomName(rng)) + Utf16Le(RandomName(rng)) + std::string(2, '\0');
    } else {
      type = hm::hive::kRegBinary;
      // Mostly small; one value in a thousand is tens of kilobytes.
      size_t size = rng() % 1000 == 0 ? 20000 + rng() % 40000 : 8 + rng() % 200;
      data.resize(size);
      for (char& c : data) c = static_cast<char>(rng());
    }
    (void)key->SetValue(name, type, std::move(data));
  }
}

// A hive of exactly `key_count` keys below its root, at depths 3 to 8, with 1-4 values each.
std::unique_ptr<Hive> GenerateHive(uint64_t key_count) {
  auto hive = Hive::CreateEmpty(5);
  std::mt19937_64 rng(42);
  uint64_t made = 0;
  while (made < key_count) {
    Key* key = &hive->root();
    int depth = 3 + static_cast<int>(rng() % 6);
    for (int level = 0; level < depth && made < key_count; ++level) {
      bool created = false;
      auto sub = key->CreateSubkey(hm::hive::FromUtf8(RandomName(rng)), &created);
      if (!sub.ok()) Die(sub.status().ToString());
      key = sub.value();
      if (created) {
        ++made;
        AddValues(key, rng);
      }
    }
  }
  return hive;
}

// ---------------------------------------------------------------------------------------------

struct Row {
  std::string name;
  uint64_t keys = 0, values = 0, bytes = 0;
  double engine = 0, hivex = 0, reglookup = -1, serialize = 0, rss = 0;
};

Row Measure(const std::string& name, const std::filesystem::path& file) {
  Row row;
  row.name = name;
  row.bytes = std::filesystem::file_size(file);
  uint64_t a = 0, b = 0;
  row.engine = BestOf([&] { a = EngineOpenAndWalk(file); });
  row.hivex = BestOf([&] { b = HivexOpenAndWalk(file); });
  if (std::system("command -v reglookup >/dev/null 2>&1") == 0) {
    row.reglookup = BestOf([&] { RunReglookup(file); });
  }
  row.rss = EnginePeakRssMib(file);
  auto hive = Hive::Open(file, {.read_only = true});
  if (!hive.ok()) Die(hive.status().ToString());
  row.keys = hive.value()->CountKeys();
  row.values = hive.value()->CountValues();
  row.serialize = BestOf([&] {
    volatile size_t n = hive.value()->Serialize().size();
    (void)n;
  });
  std::fprintf(stderr, "%s: checksums %llu / %llu\n", name.c_str(),
               static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
  return row;
}

// Generates the hive in a child process, so the heap of this one stays as fresh as for the
// real hive and the timings compare like with like.
void WriteGeneratedHive(uint64_t keys, const std::filesystem::path& file) {
  pid_t child = fork();
  if (child < 0) Die("fork failed");
  if (child == 0) {
    auto start = Clock::now();
    auto generated = GenerateHive(keys);
    double build = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::fprintf(stderr, "generated %llu keys in %.0f ms\n", static_cast<unsigned long long>(keys),
                 build);
    _exit(generated->WriteTo(file).ok() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Die("cannot generate the hive");
  }
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t keys = 500'000;
  std::vector<std::filesystem::path> extra;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--keys" && i + 1 < argc) {
      keys = std::stoull(argv[++i]);
    } else if (arg == "--runs" && i + 1 < argc) {
      g_runs = std::max(1, std::stoi(argv[++i]));
    } else if (arg == "--peak-rss-of" && i + 1 < argc) {
      EngineOpenAndWalk(argv[++i]);
      std::printf("%ld\n", StatusKib("VmHWM:"));
      return 0;
    } else if (arg == "--hive" && i + 1 < argc) {
      extra.push_back(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--keys N] [--runs N] [--hive FILE]...\n", argv[0]);
      return 2;
    }
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "hive-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Die("mkdtemp");
  std::filesystem::path dir = pattern;

  std::vector<Row> rows;
  std::filesystem::path system = dir / "SYSTEM";
  WriteFile(system, XzDecompress(std::filesystem::path(HM_SHARED_DIR) / "hives" / "SYSTEM.xz"));
  rows.push_back(Measure("SYSTEM", system));

  if (keys > 0) {
    std::filesystem::path file = dir / "generated.hiv";
    WriteGeneratedHive(keys, file);
    rows.push_back(Measure("generated", file));
  }
  for (const auto& file : extra) rows.push_back(Measure(file.filename().string(), file));

  std::printf("%-12s %9s %9s %8s %10s %10s %10s %7s %10s %8s\n", "hive", "keys", "values", "MiB",
              "engine ms", "hivex ms", "reglookup", "ratio", "serialize", "RSS MiB");
  for (const Row& r : rows) {
    std::printf("%-12s %9llu %9llu %8.1f %10.1f %10.1f %10.1f %7.2f %10.1f %8.1f\n", r.name.c_str(),
                static_cast<unsigned long long>(r.keys), static_cast<unsigned long long>(r.values),
                r.bytes / 1048576.0, r.engine, r.hivex, r.reglookup, r.engine / r.hivex,
                r.serialize, r.rss);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
