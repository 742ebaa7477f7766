#include "cli/scan_session.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <optional>

#include "cli/render.h"
#include "platform/files/host_files.h"
#include "platform/install/installation.h"
#include "registry/path_utils.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "scanner/exclusions.h"

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

ViewTracker& Tracker() {
  static ViewTracker tracker;
  return tracker;
}

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

}  // namespace

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

Result<std::unique_ptr<ScanSession>> ScanSession::Open(const std::filesystem::path& root,
                                                     const std::string& user) {
  Result<std::unique_ptr<install::Installation>> opened = install::Installation::Open(root);
  if (!opened.ok()) return opened.status();
  std::shared_ptr<const install::Installation> installation = std::move(opened).value();
  std::unique_ptr<ScanSession> session(new ScanSession());
  session->replacements_waiting_ = installation->Resolve(kPendingReplacements).ok();
  Result<std::unique_ptr<reg::HostRegistry>> registry = reg::HostRegistry::Open(
      std::move(installation),
      reg::HostRegistry::Options{.user = user, .read_only = session->replacements_waiting_});
  if (!registry.ok()) return registry.status();
  session->registry_ = std::move(registry).value();
  reg::SetProcessRegistry(session->registry_.get());
  reg::InitRegistryAccess(*session->registry_);
  session->environment_ = reg::HostEnvironment::Build(*session->registry_);
  auto files = reg::OpenInstallationFiles(session->registry_->installation(),
                                          *session->environment_, {});
  if (!files.ok()) return files.status();  // the destructor uninstalls the registry
  session->files_ = std::move(files).value();
  reg::SetProcessFiles(session->files_.get(), session->environment_.get());
  return session;
}

ScanSession::~ScanSession() {
  reg::SetProcessFiles(nullptr, nullptr);
  reg::SetProcessRegistry(nullptr);
}

std::string ScanSession::DataFolder() const {
  const std::string local = environment_->SpecialFolder(reg::CSIDL_LOCAL_APPDATA);
  if (local.empty()) return {};
  return reg::Utf8ToAnsi(local) + "\\" + std::string(kDataFolderName);
}

// The ignore list as the program builds it: the default skipped keys, the permanent list and
// the user's ignore file in the data folder inside the installation (a data folder the program
// had to keep on the host instead is not looked at). Problems become notes.
std::vector<std::string> ScanSession::IgnoreList(std::vector<std::string>* notes) const {
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
  const std::string folder = DataFolder();
  if (!folder.empty()) {
    const std::string file =
        reg::AnsiToUtf8(folder) + "\\" + std::string(scan::kIgnoreFileName);
    if (Result<std::filesystem::path> host = registry_->installation().Resolve(file); host.ok()) {
      if (auto entries = scan::IgnoreFileEntries(*host); entries.ok()) {
        user_entries = std::move(entries).value();
      } else {
        notes->push_back("the ignore file could not be read: " + entries.status().ToString());
      }
    }
  }
  return scan::BuildIgnoreList(skipped, permanent, user_entries);
}

ScanOutcome RunScan(TRegScanner& scanner, MainThreadQueue& main_thread) {
  const ViewTracker& tracker = Tracker();
  InterruptGuard guard;
  std::optional<ProgressLine> progress;
  if (::isatty(STDERR_FILENO)) progress.emplace(tracker);
  scanner.OnProgress = [&](const std::string&, TErrorCategory category, int category_percent,
                           int total_percent) {
    if (progress) progress->Show(category, category_percent, total_percent);
  };
  ScanOutcome outcome;
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

scan::CategoryRoutines ProgressRoutines() {
  return TrackViews(&Tracker());
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

}  // namespace hm::cli
