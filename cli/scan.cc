// scan: runs the program's registry scan over an installation on disk and prints what it found,
// as text grouped the way the results page groups it, or as one JSON object.
//
// The scan only reads. The registry is nevertheless opened writable: the scanner keeps a finding
// only when its key can be opened for change (a finding that could never be repaired is not
// shown), so on a read-only registry it would keep nothing. HostRegistry writes hive files only
// at Commit(), FlushKey() and destruction, and then only hives changed in memory; nothing here
// changes a key or a value, so nothing is written. The one write a writable opening does make,
// carrying out hive replacements left waiting by an earlier run, is avoided by opening read-only
// when such replacements are waiting.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/render.h"
#include "platform/install/installation.h"
#include "platform/main_thread.h"
#include "platform/utf.h"
#include "registry/host_environment.h"
#include "registry/host_registry.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/exclusions.h"
#include "scanner/scanner.h"

namespace hm::cli {
namespace {

using scan::TErrorCategories;
using scan::TErrorCategory;
using scan::TRegError;
using scan::TRegScanner;

// Where HostRegistry finds the hive replacements scheduled by an earlier run.
constexpr std::string_view kPendingReplacements =
    "ProgramData\\Corvexa\\pending-hive-replacements.txt";
// The program's data folder below the user's local application data folder.
constexpr std::string_view kDataFolderName = "Corvexa";

// Short names of the categories: their enumerator names without the prefix (with the spelling
// of "VirtualDevices" mended).
constexpr std::string_view kShortNames[scan::kCategoryCount] = {
    "ShellFolders",   "TypeLib",        "FileTypes",    "CLSIDs",         "Interfaces",
    "AppIDs",         "CodePages",      "ContentType",  "Applications",   "KnownDLLs",
    "VirtualDevices", "OpenGLDrivers",  "SharedFiles",  "StartMenu",      "Startup",
    "HelpFiles",      "WindowsFonts",   "AppPaths",     "FileExtensions", "HTMLHelp",
    "InstalledFiles", "AddRemoveCache", "FilePathRefs", "HistoryLists",
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::optional<TErrorCategory> FindCategory(std::string_view item) {
  const std::string lower = Lower(item);
  if (!lower.empty() && lower.size() <= 2 &&
      lower.find_first_not_of("0123456789") == std::string::npos) {
    const int number = std::stoi(lower);
    if (number < scan::kCategoryCount) return static_cast<TErrorCategory>(number);
    return std::nullopt;
  }
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    if (lower == Lower(scan::CategoryName(category)) || lower == Lower(kShortNames[c])) {
      return category;
    }
  }
  return std::nullopt;
}

// The categories of a --categories list, or an error text in *error.
TErrorCategories ParseCategories(std::string_view list, std::string* error) {
  if (list.empty()) return TErrorCategories::All();
  TErrorCategories categories;
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    std::optional<TErrorCategory> category = FindCategory(item);
    if (!category) {
      *error = "unknown scan category '" + std::string(item) + "' (see --help)";
      return {};
    }
    categories.Include(*category);
    if (comma == std::string_view::npos) return categories;
    list.remove_prefix(comma + 1);
  }
}

// Opens the installation's registry for the scan (see the top of the file for why writable).
Result<std::unique_ptr<reg::HostRegistry>> OpenForScan(const std::filesystem::path& root,
                                                       const std::string& user) {
  Result<std::unique_ptr<install::Installation>> opened = install::Installation::Open(root);
  if (!opened.ok()) return opened.status();
  std::shared_ptr<const install::Installation> installation = std::move(opened).value();
  const bool replacements_waiting = installation->Resolve(kPendingReplacements).ok();
  return reg::HostRegistry::Open(
      std::move(installation),
      reg::HostRegistry::Options{.user = user, .read_only = replacements_waiting});
}

// Makes the registry the one the registry functions work on, for the lifetime of the object.
class RegistryScope {
 public:
  explicit RegistryScope(reg::HostRegistry& registry) {
    reg::SetProcessRegistry(&registry);
    reg::InitRegistryAccess(registry);
  }
  ~RegistryScope() { reg::SetProcessRegistry(nullptr); }
  RegistryScope(const RegistryScope&) = delete;
  RegistryScope& operator=(const RegistryScope&) = delete;
};

// The same for the files and the environment the path tests work on.
class FilesScope {
 public:
  FilesScope(files::HostFiles& files, const reg::HostEnvironment& environment) {
    reg::SetProcessFiles(&files, &environment);
  }
  ~FilesScope() { reg::SetProcessFiles(nullptr, nullptr); }
  FilesScope(const FilesScope&) = delete;
  FilesScope& operator=(const FilesScope&) = delete;
};

// The ignore list as the program builds it: the default skipped keys, the permanent list and
// the user's ignore file in the data folder inside the installation (a data folder the program
// had to keep on the host instead is not looked at). Problems become notes.
std::vector<std::string> ScanIgnoreList(const install::Installation& installation,
                                        const reg::HostEnvironment& environment,
                                        std::vector<std::string>* notes) {
  std::vector<std::string> skipped, permanent, user_entries;
  if (auto lines = scan::DefaultSkippedKeys(); lines.ok()) {
    skipped = std::move(lines).value();
  } else {
    notes->push_back("the skipped keys could not be read: " + lines.status().ToString());
  }
  if (auto lines = scan::LoadPermanentIgnores(); lines.ok()) {
    permanent = std::move(lines).value();
  } else {
    notes->push_back("the permanent ignore list could not be read: " + lines.status().ToString());
  }
  const std::string local = environment.SpecialFolder(reg::CSIDL_LOCAL_APPDATA);
  if (!local.empty()) {
    const std::string file = reg::AnsiToUtf8(local) + "\\" + std::string(kDataFolderName) + "\\" +
                             std::string(scan::kIgnoreFileName);
    if (Result<std::filesystem::path> host = installation.Resolve(file); host.ok()) {
      if (auto entries = scan::IgnoreFileEntries(*host); entries.ok()) {
        user_entries = std::move(entries).value();
      } else {
        notes->push_back("the ignore file could not be read: " + entries.status().ToString());
      }
    }
  }
  return scan::BuildIgnoreList(skipped, permanent, user_entries);
}

// --- Ctrl+C ---

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  interrupted.store(true);
}

// Routes SIGINT to the flag while the scan runs; the default action returns afterwards, so that
// Ctrl+C during the printing of a long report ends the program as usual.
class InterruptGuard {
 public:
  InterruptGuard() {
    interrupted.store(false);
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous_ = {};
};

// --- Progress ---

// The view a check runs in is the worker's state; the progress event does not carry it. Each
// routine records its category and view as it starts; the worker is blocked in the progress
// call while the main thread reads them.
struct ViewTracker {
  std::atomic<int> category{-1};
  std::atomic<int> view{0};
};

scan::CategoryRoutines TrackViews(ViewTracker* tracker) {
  scan::CategoryRoutines routines = scan::DefaultCategoryRoutines();
  for (scan::CategoryRoutine& routine : routines) {
    if (!routine) continue;
    routine = [inner = routine, tracker](scan::TScanThread& thread, reg::TRegistryAccess& access,
                                         bool count_only) {
      tracker->view.store(thread.View(), std::memory_order_relaxed);
      tracker->category.store(thread.Category(), std::memory_order_relaxed);
      inner(thread, access, count_only);
    };
  }
  return routines;
}

// One line on a terminal, rewritten in place.
class ProgressLine {
 public:
  explicit ProgressLine(const ViewTracker& tracker) : tracker_(tracker) {}
  ~ProgressLine() {
    if (!shown_.empty()) std::fputs("\r\033[K", stderr);
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Show(TErrorCategory category, int category_percent, int total_percent) {
    std::string line = "Scanning " + std::string(scan::CategoryName(category));
    if (tracker_.category.load(std::memory_order_relaxed) == category) {
      line += tracker_.view.load(std::memory_order_relaxed) == 1 ? " (view 64)" : " (view 32)";
    }
    line +=
        ": " + std::to_string(category_percent) + "% total " + std::to_string(total_percent) + "%";
    if (line == shown_) return;
    shown_ = line;
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
  }

 private:
  const ViewTracker& tracker_;
  std::string shown_;
};

// --- The scan ---

struct Outcome {
  bool stopped = false;
  // Categories asked for that did not complete although nobody stopped the scan.
  std::vector<TErrorCategory> incomplete;
};

Outcome RunScan(TRegScanner& scanner, MainThreadQueue& main_thread, const ViewTracker& tracker) {
  InterruptGuard guard;
  std::optional<ProgressLine> progress;
  if (::isatty(STDERR_FILENO)) progress.emplace(tracker);
  scanner.OnProgress = [&](const std::string&, TErrorCategory category, int category_percent,
                           int total_percent) {
    if (progress) progress->Show(category, category_percent, total_percent);
  };
  Outcome outcome;
  scanner.Start();
  while (scanner.IsScanning()) {
    main_thread.ServeUntil([&] { return !scanner.IsScanning() || interrupted.load(); });
    if (scanner.IsScanning() && interrupted.load()) {
      scanner.Stop();
      outcome.stopped = true;
    }
  }
  scanner.OnProgress = nullptr;
  if (!outcome.stopped) {
    for (int c = 0; c < scan::kCategoryCount; ++c) {
      const auto category = static_cast<TErrorCategory>(c);
      if (scanner.ScanCategories().Contains(category) && scanner.Tests(category) < 0) {
        outcome.incomplete.push_back(category);
      }
    }
  }
  return outcome;
}

// Notes on hives that refuse changes: their findings cannot be shown.
std::vector<std::string> ReadOnlyNotes(reg::HostRegistry& registry, const TRegScanner& scanner) {
  std::vector<std::string> notes = registry.pending_notes();
  for (const reg::HostRegistry::HiveState& hive : registry.Hives()) {
    if (hive.loaded && !hive.writable) {
      notes.push_back("the hive " + hive.mount + " is read-only (" + hive.reason +
                      "): findings in it cannot be reported");
    }
  }
  if (scanner.ReadOnlyDrops() > 0) {
    notes.push_back(std::to_string(scanner.ReadOnlyDrops()) +
                    " finding(s) were dropped because their hive is read-only");
  }
  return notes;
}

// --- Text report ---

std::string Show(std::string_view ansi) {
  return Printable(reg::AnsiToUtf8(ansi));
}

bool IsValueFinding(const TRegError& finding) {
  return !finding.ValueName().empty() || finding.Action() == scan::raDeleteValue ||
         finding.Action() == scan::raDeleteValueAndEmptyKey ||
         finding.Action() == scan::raClearValue;
}

// The key, and the value after "\\:" where the finding is about one: the form of an ignore
// entry.
std::string FindingPlace(const TRegError& finding) {
  std::string place = finding.KeyText();
  if (IsValueFinding(finding)) place += std::string(scan::kValueSeparator) + finding.ValueName();
  return place;
}

void PrintFindings(const TRegScanner& scanner) {
  for (int group = 0; group < scan::kGroupCount; ++group) {
    std::printf("%s\n", scan::GroupHeading(group).c_str());
    bool any = false;
    for (int c = 0; c < scan::kCategoryCount; ++c) {
      const auto category = static_cast<TErrorCategory>(c);
      const int count = scanner.CategoryErrorCount(category);
      if (!scan::GroupMembers(group).Contains(category) || count == 0) continue;
      any = true;
      std::printf("  %s\n", std::string(scan::CategoryName(category)).c_str());
      for (int i = 0; i < count; ++i) {
        const TRegError& finding = *scanner.GetError(category, i);
        std::printf("    %s: %s\n", std::string(scan::IssueTitle(finding.Kind())).c_str(),
                    Show(FindingPlace(finding)).c_str());
        std::printf("      %s\n", Show(finding.Description()).c_str());
      }
    }
    if (!any) std::printf("  no findings\n");
  }
}

void PrintText(const TRegScanner& scanner, const Outcome& outcome,
               const std::vector<std::string>& notes) {
  PrintFindings(scanner);
  std::printf("\nFindings by category:\n");
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    if (!scanner.ScanCategories().Contains(category)) continue;
    const std::string tests = scanner.Tests(category) < 0
                                  ? "not completed"
                                  : std::to_string(scanner.Tests(category)) + " tests";
    std::printf("  %2d  %-24s %6d  (%s)\n", c, std::string(scan::CategoryName(category)).c_str(),
                scanner.CategoryErrorCount(category), tests.c_str());
  }
  std::printf("Total findings: %d\n", scanner.ErrorCount());
  const int health = scanner.HealthPercent();
  const std::string health_text = health < 0 ? "unknown" : std::to_string(health) + "%";
  std::printf("Registry health: %s\n", health_text.c_str());
  if (outcome.stopped) std::printf("The scan was stopped; the findings above are incomplete.\n");
  for (TErrorCategory category : outcome.incomplete) {
    std::printf("The scan ended early: %s was not completed.\n",
                std::string(scan::CategoryName(category)).c_str());
  }
  for (const std::string& note : notes) std::printf("Note: %s\n", Printable(note).c_str());
}

// --- JSON report ---

// Texts of the installation (names, data) are in its code page.
std::string JsonAnsi(std::string_view ansi) {
  return JsonString(reg::AnsiToUtf16(ansi));
}

// The program's own texts (notes with host paths) are UTF-8.
std::string JsonUtf8(std::string_view utf8) {
  return JsonString(FromUtf8(utf8));
}

std::string JsonFinding(const TRegError& finding) {
  const TErrorCategory category = finding.Category();
  const int group = scan::GroupOf(category);
  std::string root =
      finding.RootKey() == 0 ? "null" : JsonAnsi(reg::RootKeyToShortName(finding.RootKey()));
  return "{\"category\":" + std::to_string(category) +
         ",\"category_name\":" + JsonAnsi(scan::CategoryName(category)) +
         ",\"group\":" + std::to_string(group) +
         ",\"group_name\":" + JsonAnsi(scan::GroupName(group)) +
         ",\"kind\":" + std::to_string(finding.Kind()) +
         ",\"title\":" + JsonAnsi(scan::IssueTitle(finding.Kind())) +
         ",\"description\":" + JsonAnsi(finding.Description()) + ",\"root\":" + root +
         ",\"key\":" + JsonAnsi(finding.KeyPath()) +
         ",\"value\":" + (IsValueFinding(finding) ? JsonAnsi(finding.ValueName()) : "null") +
         ",\"data\":" + JsonAnsi(finding.Data()) +
         ",\"action\":" + std::to_string(finding.Action()) +
         ",\"view\":" + (finding.View() == 1 ? "64" : "32") + "}";
}

void PrintJson(const TRegScanner& scanner, const Outcome& outcome,
               const std::vector<std::string>& notes) {
  std::string out = "{\"findings\":[";
  const char* separator = "";
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    for (int i = 0; i < scanner.CategoryErrorCount(category); ++i) {
      out += separator + JsonFinding(*scanner.GetError(category, i));
      separator = ",";
    }
  }
  out += "],\"counts\":[";
  separator = "";
  for (int c = 0; c < scan::kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    if (!scanner.ScanCategories().Contains(category)) continue;
    const int tests = scanner.Tests(category);
    out += separator + std::string("{\"category\":") + std::to_string(c) +
           ",\"name\":" + JsonAnsi(scan::CategoryName(category)) +
           ",\"found\":" + std::to_string(scanner.CategoryErrorCount(category)) +
           ",\"tests\":" + (tests < 0 ? "null" : std::to_string(tests)) + "}";
    separator = ",";
  }
  const int health = scanner.HealthPercent();
  out += "],\"total\":" + std::to_string(scanner.ErrorCount()) +
         ",\"health\":" + (health < 0 ? "null" : std::to_string(health)) +
         ",\"stopped\":" + (outcome.stopped ? "true" : "false") +
         ",\"complete\":" + (outcome.stopped || !outcome.incomplete.empty() ? "false" : "true") +
         ",\"read_only_drops\":" + std::to_string(scanner.ReadOnlyDrops()) + ",\"notes\":[";
  separator = "";
  for (const std::string& note : notes) {
    out += separator + JsonUtf8(note);
    separator = ",";
  }
  out += "]}\n";
  std::fputs(out.c_str(), stdout);
}

}  // namespace

int Scan(const std::filesystem::path& root, const ScanOptions& options) {
  std::string error;
  const TErrorCategories categories = ParseCategories(options.categories, &error);
  if (!error.empty()) return Fail(error);
  if (KindOf(root) != PathKind::kFolder) {
    return Fail(root.string() + ": scan needs an installation folder");
  }
  Result<std::unique_ptr<reg::HostRegistry>> registry = OpenForScan(root, options.registry.user);
  if (!registry.ok()) return Fail(registry.status().ToString());
  RegistryScope registry_scope(**registry);
  std::unique_ptr<reg::HostEnvironment> environment = reg::HostEnvironment::Build(**registry);
  auto files = reg::OpenInstallationFiles((*registry)->installation(), *environment, {});
  if (!files.ok()) return Fail(files.status().ToString());
  FilesScope files_scope(**files, *environment);

  std::vector<std::string> notes;
  MainThreadQueue main_thread;
  ViewTracker tracker;
  TRegScanner scanner(main_thread, TrackViews(&tracker));
  scanner.SetScanCategories(categories);
  scanner.SetIgnoreList(ScanIgnoreList((*registry)->installation(), *environment, &notes));
  const Outcome outcome = RunScan(scanner, main_thread, tracker);
  for (std::string& note : ReadOnlyNotes(**registry, scanner)) notes.push_back(std::move(note));
  if (options.json) {
    PrintJson(scanner, outcome, notes);
  } else {
    PrintText(scanner, outcome, notes);
  }
  std::fflush(stdout);
  if (outcome.stopped) return kExitStopped;
  return outcome.incomplete.empty() ? kExitOk : kExitDamaged;
}

}  // namespace hm::cli
