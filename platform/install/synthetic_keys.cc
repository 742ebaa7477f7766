// Generated registry content for benchmark-sized hives. The shapes follow what large real hives
// hold: many CLSIDs with an InprocServer32 each, file types with their ProgIDs, uninstall entries,
// and deep vendor settings trees with the occasional wide list (MRU lists, numbered items).
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/install/builder.h"
#include "platform/install/reg_data.h"

namespace hm::install {
namespace {

// splitmix64: small, fast, and the same on every platform (unlike <random>'s distributions).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }
  bool Percent(uint32_t p) { return Below(100) < p; }
  template <typename T, size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

constexpr std::array<const char*, 24> kVendors = {"Contoso",
                                                  "Fabrikam",
                                                  "Northwind",
                                                  "Litware",
                                                  "Tailspin Toys",
                                                  "Adatum",
                                                  "Wingtip",
                                                  "Proseware",
                                                  "Fourth Coffee",
                                                  "Woodgrove",
                                                  "Coho Winery",
                                                  "Lucerne Publishing",
                                                  "Margie's Travel",
                                                  "Trey Research",
                                                  "Humongous Insurance",
                                                  "Blue Yonder",
                                                  "Alpine Ski House",
                                                  "Graphic Design Institute",
                                                  "Wide World Importers",
                                                  "Relecloud",
                                                  "Lamna Healthcare",
                                                  "VanArsdel",
                                                  "Southridge Video",
                                                  "Consolidated Messenger"};
constexpr std::array<const char*, 16> kProductWords = {
    "Photo",   "Backup", "Media", "Office",  "Sync",  "Studio", "Notes",  "Reader",
    "Capture", "Tunes",  "Mail",  "Desktop", "Cloud", "Print",  "Secure", "Draw"};
constexpr std::array<const char*, 10> kProductKinds = {"Manager", "Suite",     "Player", "Pro",
                                                       "Express", "Assistant", "Center", "Tools",
                                                       "Viewer",  "Agent"};
constexpr std::array<const char*, 36> kKeyWords = {
    "Settings",   "Options",  "Preferences", "Recent",   "History",   "Plugins",
    "Extensions", "Cache",    "Layout",      "Toolbars", "Window",    "Profiles",
    "Accounts",   "Defaults", "Network",     "Proxy",    "Updates",   "Licensing",
    "Fonts",      "Colors",   "Shortcuts",   "Export",   "Import",    "Templates",
    "Languages",  "Security", "Sync",        "Devices",  "Printers",  "Logging",
    "Dialogs",    "Panes",    "Filters",     "Codecs",   "Workspace", "Telemetry"};
constexpr std::array<const char*, 30> kValueNames = {
    "Enabled",     "Path",   "Version", "LastUsed",  "WindowPos", "InstallDir",
    "Language",    "Count",  "Flags",   "Data",      "Timeout",   "Name",
    "Description", "Mode",   "Size",    "AutoStart", "Theme",     "ShowHints",
    "MaxItems",    "Server", "Port",    "UserName",  "LastCheck", "Placement",
    "Order",       "Filter", "Quality", "Volume",    "Zoom",      "Location"};
constexpr std::array<const char*, 12> kFileNames = {
    "app.exe", "core.dll", "helper.exe", "shell.dll",  "update.exe",  "codec.dll",
    "ui.dll",  "sync.exe", "print.dll",  "thumbs.dll", "service.exe", "plugin.dll"};

std::u16string Ascii16(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

class Generator {
 public:
  Generator(uint64_t seed, uint64_t budget) : random_(seed), remaining_(budget) {}

  Status FillMachine(hive::Key& root);
  Status FillUser(hive::Key& root);

 private:
  // The subkey of that name, created (and counted) when missing; nullptr when the budget is spent.
  hive::Key* Ensure(hive::Key& parent, const std::string& name);
  // A new subkey named `base`, or `base` with a number when that name is taken.
  hive::Key* Fresh(hive::Key& parent, const std::string& base);
  void Set(hive::Key& key, const std::string& name, uint32_t type, std::string data);
  void SetString(hive::Key& key, const std::string& name, const std::string& text) {
    Set(key, name, hive::kRegSz, Utf8ToRegString(text));
  }
  void AddRandomValues(hive::Key& key, uint32_t count);
  void AddClsid(hive::Key& clsid);
  void AddFileType(hive::Key& classes);
  void AddUninstallEntry(hive::Key& uninstall);
  void AddVendorTree(hive::Key& parent);
  void Grow(hive::Key& key, int depth, uint64_t* tree_budget);

  std::string Guid();
  std::string Product() {
    return std::string(random_.Pick(kProductWords)) + " " + random_.Pick(kProductKinds);
  }
  std::string ProgramPath() {
    return std::string("C:\\Program Files\\") + random_.Pick(kVendors) + "\\" + Product() + "\\" +
           random_.Pick(kFileNames);
  }
  std::string RandomBytes(size_t size);

  Random random_;
  uint64_t remaining_;
  Status failure_;  // the first failing engine call; generation stops there
};

std::string Generator::Guid() {
  uint64_t a = random_.Next(), b = random_.Next();
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xffff), static_cast<unsigned>(a & 0xffff),
                static_cast<unsigned>(b >> 48),
                static_cast<unsigned long long>(b & 0xffffffffffffull));
  return text;
}

std::string Generator::RandomBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; i += 8) {
    uint64_t word = random_.Next();
    for (size_t j = i; j < size && j < i + 8; ++j, word >>= 8) bytes[j] = static_cast<char>(word);
  }
  return bytes;
}

hive::Key* Generator::Ensure(hive::Key& parent, const std::string& name) {
  if (!failure_.ok()) return nullptr;
  if (hive::Key* existing = parent.FindSubkey(Ascii16(name))) return existing;
  if (remaining_ == 0) return nullptr;
  Result<hive::Key*> created = parent.CreateSubkey(Ascii16(name));
  if (!created.ok()) {
    failure_ = created.status();
    return nullptr;
  }
  --remaining_;
  return created.value();
}

hive::Key* Generator::Fresh(hive::Key& parent, const std::string& base) {
  std::string name = base;
  for (int attempt = 2; parent.FindSubkey(Ascii16(name)) != nullptr; ++attempt) {
    name = base + " " + std::to_string(attempt);
  }
  return Ensure(parent, name);
}

void Generator::Set(hive::Key& key, const std::string& name, uint32_t type, std::string data) {
  if (!failure_.ok()) return;
  Status set = key.SetValue(Ascii16(name), type, std::move(data));
  if (!set.ok()) failure_ = set;
}

void Generator::AddRandomValues(hive::Key& key, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    std::string name = random_.Percent(8) ? "" : random_.Pick(kValueNames);
    if (random_.Percent(20)) name += std::to_string(random_.Below(20));
    uint32_t kind = random_.Below(100);
    if (kind < 40) {
      SetString(key, name, random_.Percent(50) ? ProgramPath() : Product());
    } else if (kind < 65) {
      Set(key, name, hive::kRegDword,
          DwordData(random_.Percent(70) ? random_.Below(2) : random_.Below(100000)));
    } else if (kind < 70) {
      Set(key, name, hive::kRegQword,
          QwordData(132000000000000000ull + random_.Next() % 10000000000000000ull));
    } else if (kind < 75) {
      Set(key, name, hive::kRegExpandSz,
          Utf8ToRegString(std::string("%ProgramFiles%\\") + random_.Pick(kVendors) + "\\" +
                          Product()));
    } else if (kind < 90) {
      // One value in a few thousand is large enough to need a big-data record.
      size_t size =
          random_.Below(2500) == 0 ? random_.Between(20000, 60000) : random_.Between(4, 256);
      Set(key, name, hive::kRegBinary, RandomBytes(size));
    } else if (kind < 96) {
      std::vector<std::string> strings;
      for (uint32_t n = random_.Between(1, 5); n > 0; --n) strings.push_back(Product());
      Set(key, name, hive::kRegMultiSz, Utf8ToRegMultiString(strings));
    } else {
      Set(key, name, hive::kRegNone, "");
    }
  }
}

void Generator::AddClsid(hive::Key& clsid) {
  hive::Key* key = Fresh(clsid, Guid());
  if (key == nullptr) return;
  std::string product = Product();
  SetString(*key, "", std::string(random_.Pick(kVendors)) + " " + product + " Class");
  if (hive::Key* server = Ensure(*key, random_.Percent(85) ? "InprocServer32" : "LocalServer32")) {
    SetString(*server, "", ProgramPath());
    SetString(*server, "ThreadingModel", random_.Percent(60) ? "Apartment" : "Both");
  }
  if (random_.Percent(30)) {
    if (hive::Key* progid = Ensure(*key, "ProgID"))
      SetString(*progid, "", "Vendor." + product + ".1");
  }
}

void Generator::AddFileType(hive::Key& classes) {
  std::string ext = ".";
  for (uint32_t n = random_.Between(2, 4); n > 0; --n)
    ext += static_cast<char>('a' + random_.Below(26));
  hive::Key* key = Fresh(classes, ext);
  if (key == nullptr) return;
  std::string progid =
      std::string(random_.Pick(kProductWords)) + ext + "." + std::to_string(random_.Between(1, 9));
  SetString(*key, "", progid);
  SetString(*key, "Content Type", "application/x-" + ext.substr(1));
  hive::Key* type = Fresh(classes, progid);
  if (type == nullptr) return;
  std::string program = ProgramPath();
  SetString(*type, "", Product() + " Document");
  if (hive::Key* icon = Ensure(*type, "DefaultIcon")) SetString(*icon, "", program + ",0");
  hive::Key* shell = Ensure(*type, "shell");
  hive::Key* open = shell ? Ensure(*shell, "open") : nullptr;
  if (hive::Key* command = open ? Ensure(*open, "command") : nullptr) {
    SetString(*command, "", "\"" + program + "\" \"%1\"");
  }
}

void Generator::AddUninstallEntry(hive::Key& uninstall) {
  std::string guid = Guid();
  hive::Key* key = Fresh(uninstall, guid);
  if (key == nullptr) return;
  std::string vendor = random_.Pick(kVendors), product = Product();
  SetString(*key, "DisplayName", vendor + " " + product);
  SetString(*key, "DisplayVersion",
            std::to_string(random_.Between(1, 20)) + "." + std::to_string(random_.Below(10)) + "." +
                std::to_string(random_.Below(5000)));
  SetString(*key, "Publisher", vendor);
  SetString(*key, "InstallLocation", "C:\\Program Files\\" + vendor + "\\" + product + "\\");
  SetString(*key, "UninstallString", "MsiExec.exe /X" + guid);
  SetString(
      *key, "InstallDate",
      "2023" + std::to_string(10 + random_.Below(3)) + std::to_string(10 + random_.Below(19)));
  Set(*key, "EstimatedSize", hive::kRegDword, DwordData(random_.Between(500, 900000)));
  Set(*key, "NoModify", hive::kRegDword, DwordData(1));
}

// Settings trees: a few levels that fan out, then thinning branches down to depth 12, and now
// and then a wide list of numbered entries.
void Generator::Grow(hive::Key& key, int depth, uint64_t* tree_budget) {
  uint32_t children =
      depth <= 3 ? random_.Between(2, 8) : (random_.Percent(55) ? 0 : random_.Between(1, 4));
  const bool wide = random_.Below(100) < 2;
  if (wide) children = random_.Between(20, 300);
  for (uint32_t i = 0; i<children&& * tree_budget> 0; ++i) {
    std::string name = wide ? (random_.Percent(50) ? "Item " : "MRU") + std::to_string(i)
                       : random_.Percent(12) ? Guid()
                                             : random_.Pick(kKeyWords);
    hive::Key* child = Fresh(key, name);
    if (child == nullptr) return;
    --*tree_budget;
    AddRandomValues(*child, random_.Below(wide ? 2 : 5));
    if (!wide && depth < 12 && random_.Percent(60)) Grow(*child, depth + 1, tree_budget);
  }
}

void Generator::AddVendorTree(hive::Key& parent) {
  hive::Key* vendor = Ensure(parent, random_.Pick(kVendors));
  hive::Key* product = vendor ? Fresh(*vendor, Product()) : nullptr;
  if (product == nullptr) return;
  SetString(*product, "InstallDir", ProgramPath());
  uint64_t tree_budget = random_.Percent(10) ? random_.Between(200, 3000) : random_.Between(5, 200);
  while (tree_budget > 0 && remaining_ > 0 && failure_.ok()) Grow(*product, 2, &tree_budget);
}

Status Generator::FillMachine(hive::Key& root) {
  hive::Key* classes = Ensure(root, "Classes");
  hive::Key* clsid = classes ? Ensure(*classes, "CLSID") : nullptr;
  hive::Key* microsoft = Ensure(root, "Microsoft");
  hive::Key* windows = microsoft ? Ensure(*microsoft, "Windows") : nullptr;
  hive::Key* current = windows ? Ensure(*windows, "CurrentVersion") : nullptr;
  hive::Key* uninstall = current ? Ensure(*current, "Uninstall") : nullptr;
  hive::Key* wow = Ensure(root, "WOW6432Node");
  while (remaining_ > 0 && failure_.ok() && uninstall != nullptr && wow != nullptr) {
    uint32_t kind = random_.Below(100);
    if (kind < 30) {
      AddClsid(*clsid);
    } else if (kind < 38) {
      AddFileType(*classes);
    } else if (kind < 42) {
      AddUninstallEntry(*uninstall);
    } else {
      AddVendorTree(random_.Percent(20) ? *wow : root);
    }
  }
  return failure_;
}

Status Generator::FillUser(hive::Key& root) {
  hive::Key* software = Ensure(root, "Software");
  while (remaining_ > 0 && failure_.ok() && software != nullptr) AddVendorTree(*software);
  return failure_;
}

}  // namespace

Status AddSyntheticKeys(hive::Key& parent, SyntheticLayout layout, uint64_t key_count,
                        uint64_t seed) {
  Generator generator(seed, key_count);
  return layout == SyntheticLayout::kMachine ? generator.FillMachine(parent)
                                             : generator.FillUser(parent);
}

std::unique_ptr<hive::Hive> MakeSyntheticHive(uint64_t key_count, uint64_t seed) {
  std::unique_ptr<hive::Hive> hive = hive::Hive::CreateEmpty();
  // A fresh hive takes every key, so this cannot fail short of running out of memory.
  (void)AddSyntheticKeys(hive->root(), SyntheticLayout::kMachine, key_count, seed);
  return hive;
}

}  // namespace hm::install
