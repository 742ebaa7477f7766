// TRegScanner: runs a scan on a worker thread and keeps its results.
//
// The scanner owns the findings list, the ignore list and the per-category statistics from which
// it computes the health percentage. Start() launches a TScanThread; progress, findings and the
// end of the scan reach the scanner on the main thread through the MainThreadQueue, where
// AcceptFinding() filters each finding (duplicates of the 64-bit pass, the ignore list,
// protected keys, keys that cannot be opened for change) before it is stored.
//
// Everything here runs on the main thread.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/main_thread.h"
#include "scanner/error_list.h"
#include "scanner/scan_thread.h"

namespace hm::scan {

class TRegScanner {
 public:
  using TScanProgressEvent =
      std::function<void(const std::string& location, TErrorCategory category, int category_percent,
                         int total_percent)>;
  using TNotifyEvent = std::function<void(TRegScanner* sender)>;

  // `routines`: the checks by category (the program's own by default; tests give their own).
  explicit TRegScanner(MainThreadQueue& main_thread);
  TRegScanner(MainThreadQueue& main_thread, CategoryRoutines routines);
  ~TRegScanner();
  TRegScanner(const TRegScanner&) = delete;
  TRegScanner& operator=(const TRegScanner&) = delete;

  TErrorCategories ScanCategories() const { return scan_categories_; }
  // Ignored while a scan runs.
  void SetScanCategories(TErrorCategories categories);
  const std::vector<std::string>& IgnoreList() const { return ignore_list_; }
  void SetIgnoreList(std::vector<std::string> lines) { ignore_list_ = std::move(lines); }
  const std::string& BackupFolder() const { return backup_folder_; }
  // Kept with a trailing backslash.
  void SetBackupFolder(const std::string& folder);

  TScanProgressEvent OnProgress;
  TNotifyEvent OnScanComplete;

  // Starts a scan of the scan categories; nothing while one runs.
  void Start();
  // Asks the worker to end and waits for it, serving its main-thread calls meanwhile; the end of
  // the scan is handled (OnScanComplete included) before Stop returns. Called from inside a
  // progress report or a finding, it only asks: the scan ends as soon as that call returns.
  void Stop();
  bool IsScanning() const { return worker_ != nullptr; }
  void ClearResults();

  TErrorList& Errors() { return errors_; }
  int ErrorCount() const { return errors_.Count(); }
  int CategoryErrorCount(TErrorCategory category) const;
  int CategorySelectedCount(TErrorCategory category) const;
  int SelectedCount() const;
  int GroupErrorCount(int group) const;
  int GroupSelectedCount(int group) const;
  TRegError* GetError(TErrorCategory category, int index) const;

  void RegisterChanges(TRegScannerChangeLink* link);
  void UnregisterChanges(TRegScannerChangeLink* link);

  // The health of the registry in percent, -1 when unknown.
  int HealthPercent() const;
  // "Tests,Found" for the 24 categories, separated by ";".
  std::string HealthStatusText() const;
  void SetHealthStatusText(std::string_view text);

  bool FullScanDone() const { return full_scan_done_; }
  bool HasResults() const { return has_results_; }
  int Tests(TErrorCategory category) const { return tests_[category]; }
  int Found(TErrorCategory category) const { return found_[category]; }
  // A repair of a finding of `category` succeeded.
  void FindingRepaired(TErrorCategory category);
  // Findings of the last scan dropped because their hive refused to open the key for change (a
  // read-only hive or installation), so that a front end can say why a scan found nothing.
  int ReadOnlyDrops() const { return read_only_drops_; }

 private:
  void AcceptFinding(const TRegErrorInfo& info);
  void ScanFinished();

  MainThreadQueue& main_thread_;
  const CategoryRoutines routines_;
  std::vector<std::string> ignore_list_;
  TErrorCategories scan_categories_ = TErrorCategories::All();
  TErrorList errors_;
  std::unique_ptr<TScanThread> worker_;
  std::unique_ptr<TScanThread> finished_worker_;  // ended, not yet joined
  std::string backup_folder_;
  std::array<int, kCategoryCount> tests_;
  std::array<int, kCategoryCount> found_{};
  std::array<int, kCategoryCount> run_tests_{};
  bool full_scan_done_ = false;
  bool has_results_ = false;
  bool destroying_ = false;
  int read_only_drops_ = 0;
  // The filters' answer for the key of the last finding that reached them (view, root, path):
  // findings come in runs on one key (the values of one key), and the protection test and the
  // open for change cost more than everything else a finding needs. Cleared when a scan starts.
  struct KeyFilterMemo {
    bool valid = false;
    uint8_t view = 0;
    reg::HKEY root = 0;
    std::string key_path;
    bool is_protected = false;
    reg::LSTATUS error = 0;
  } last_key_filter_;
};

// The program's checks by category (categories whose checks are not built have none).
const CategoryRoutines& DefaultCategoryRoutines();

}  // namespace hm::scan
