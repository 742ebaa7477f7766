// What the scan and repair commands share: an installation opened for a scan, with its registry,
// environment and files installed as the process's; the category list option; the scan run with
// its progress line and Ctrl+C; and how a finding is named.
//
// Main thread only; one session at a time (it installs process-wide state).
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/main_thread.h"
#include "platform/status.h"
#include "registry/host_environment.h"
#include "registry/host_registry.h"
#include "scanner/scanner.h"

namespace hm::files {
class HostFiles;
}

namespace hm::cli {

// Comma-separated category numbers or short names ("CLSIDs", "12"); empty for every category.
// On bad input *error says what is wrong.
scan::TErrorCategories ParseCategories(std::string_view list, std::string* error);

class ScanSession {
 public:
  // Opens the installation at `root` with `user` as HKEY_CURRENT_USER. The registry is opened
  // writable (the scanner keeps only findings whose keys can be opened for change) unless hive
  // replacements of an earlier run are waiting: opening writable would carry them out.
  static Result<std::unique_ptr<ScanSession>> Open(const std::filesystem::path& root,
                                                   const std::string& user);
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  reg::HostRegistry& registry() { return *registry_; }
  const reg::HostEnvironment& environment() const { return *environment_; }
  bool replacements_waiting() const { return replacements_waiting_; }
  // The program's data folder in the installation ("C:\Users\<user>\AppData\Local\Corvexa"), as
  // text in the installation's code page; empty when the user has no local application data.
  std::string DataFolder() const;
  // The ignore list as the program builds it; problems become notes.
  std::vector<std::string> IgnoreList(std::vector<std::string>* notes) const;

 private:
  ScanSession() = default;

  std::unique_ptr<reg::HostRegistry> registry_;
  std::unique_ptr<reg::HostEnvironment> environment_;
  std::unique_ptr<files::HostFiles> files_;
  bool replacements_waiting_ = false;
};

struct ScanOutcome {
  bool stopped = false;
  // Categories asked for that did not complete although nobody stopped the scan.
  std::vector<scan::TErrorCategory> incomplete;
};

// The program's checks, wrapped so that the progress line can name the view being checked.
scan::CategoryRoutines ProgressRoutines();
// Runs the scanner's scan to its end, with a progress line on stderr when it is a terminal;
// Ctrl+C stops it.
ScanOutcome RunScan(scan::TRegScanner& scanner, MainThreadQueue& main_thread);

// Notes on hives that refuse changes (their findings cannot be shown) and on waiting hive
// replacements.
std::vector<std::string> ReadOnlyNotes(reg::HostRegistry& registry,
                                       const scan::TRegScanner& scanner);

// Installation text (code page) made printable as UTF-8.
std::string Show(std::string_view ansi);
// Whether the finding is about a value rather than a whole key.
bool IsValueFinding(const scan::TRegError& finding);
// The key, and the value after "\\:" where the finding is about one.
std::string FindingPlace(const scan::TRegError& finding);

}  // namespace hm::cli
