// scan: runs the program's registry scan over an installation on disk and prints what it found,
// as text grouped the way the results page groups it, or as one JSON object.
//
// The scan only reads. The registry is nevertheless opened writable (see ScanSession): the
// scanner keeps a finding only when its key can be opened for change. HostRegistry writes hive
// files only at Commit(), FlushKey() and destruction, and then only hives changed in memory;
// nothing here changes a key or a value, so nothing is written.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/render.h"
#include "cli/scan_session.h"
#include "platform/main_thread.h"
#include "platform/utf.h"
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

void PrintText(const TRegScanner& scanner, const ScanOutcome& outcome,
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

void PrintJson(const TRegScanner& scanner, const ScanOutcome& outcome,
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
  Result<std::unique_ptr<ScanSession>> session = ScanSession::Open(root, options.registry.user);
  if (!session.ok()) return Fail(session.status().ToString());

  std::vector<std::string> notes;
  MainThreadQueue main_thread;
  TRegScanner scanner(main_thread, ProgressRoutines());
  scanner.SetScanCategories(categories);
  scanner.SetIgnoreList((*session)->IgnoreList(&notes));
  const ScanOutcome outcome = RunScan(scanner, main_thread);
  for (std::string& note : ReadOnlyNotes((*session)->registry(), scanner)) {
    notes.push_back(std::move(note));
  }
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
