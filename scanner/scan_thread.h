// TScanThread: the worker of one scan. It walks the enabled categories twice, first counting
// the items each check will step through, then checking them, in each registry view, and hands
// progress steps and findings to the main thread with blocking calls. Findings are handed over in
// batches, in the order they were made: a batch goes with the next progress step, when it is
// full, and at the end of each category, so the main thread sees every finding of a category
// before its last progress step is followed by the next category, and before the category counts
// as done.
//
// The checks of the categories are routines with a counting and a checking form; they reach the
// worker through the members below (StepProgress, HandOver, Terminated, ...). A category without
// a routine runs nothing and completes with no items.
//
// Thread safety: the worker's state belongs to the worker thread, apart from the termination
// request (any thread) and what the scanner reads after the worker has ended.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/main_thread.h"
#include "registry/registry_access.h"
#include "scanner/exclusions.h"
#include "scanner/issue_types.h"

namespace hm::scan {

class TScanThread;

// The check of one category. With `count_only` it only adds to the counts (AddToCount); without,
// it steps through the same items (StepProgress) and reports findings.
using CategoryRoutine =
    std::function<void(TScanThread& thread, reg::TRegistryAccess& access, bool count_only)>;
using CategoryRoutines = std::array<CategoryRoutine, kCategoryCount>;

class TScanThread {
 public:
  struct Callbacks {
    // Both run on the main thread while the worker waits.
    std::function<void(const std::string& location, TErrorCategory category, int category_percent,
                       int total_percent)>
        progress;
    std::function<void(const TRegErrorInfo& finding)> finding;
    // Runs on the main thread once the worker's body has ended.
    std::function<void()> finished;
  };

  TScanThread(TErrorCategories categories, const std::vector<std::string>& ignore_list,
              const CategoryRoutines& routines, MainThreadQueue& main_thread, Callbacks callbacks);
  // Waits for the thread to end (it must have been asked to, or have finished).
  ~TScanThread();
  TScanThread(const TScanThread&) = delete;
  TScanThread& operator=(const TScanThread&) = delete;

  void Start();
  void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
  // Waits for the thread itself to end (after `finished` has run).
  void Join();

  // --- For the category routines (worker thread) ---
  TErrorCategory Category() const { return category_; }
  // 0 = the 32-bit view, 1 = the 64-bit view.
  uint8_t View() const { return view_; }
  // The display name of the item under test, used as the caption of findings.
  void SetItemCaption(std::string caption) { item_caption_ = std::move(caption); }
  const std::string& ItemCaption() const { return item_caption_; }
  // Counting forms: `items` more for the current category.
  void AddToCount(int items);
  // Checking forms: one item done, with its text.
  void StepProgress(std::string_view location);
  // One more test made in the current category; returns `outcome` unchanged, so that a test
  // whose result can make a finding reads `if (CountTest(!exists)) Report(...)`.
  bool CountTest(bool outcome = true) {
    ++category_tests_[category_];
    return outcome;
  }
  // Queues a finding for the main thread (unless termination was requested), marking it when the
  // ignore list holds it; see the top comment for when it is handed over.
  void HandOver(TRegErrorInfo finding);
  const IgnoreLookup& Ignores() const { return ignores_; }

  // --- The check primitives (worker thread), on the scan's one access object ---
  reg::TRegistryAccess& Access() { return *access_; }
  // Opens `key_path` below the root read-only (never creating it). In the 64-bit view a key is
  // examined only when its two views are separate keys: otherwise false.
  bool OpenForCheck(const std::string& key_path);
  // The same without the view test.
  bool OpenPlain(const std::string& key_path);
  // OpenForCheck on another access object of the same root and view: the walker a key
  // enumeration hands its callback, which opens the key from its parent's handle (not from the
  // root) and descends through the key it opened.
  bool OpenForCheck(reg::TRegistryAccess& access, const std::string& key_path);
  // The text of a REG_SZ or REG_EXPAND_SZ value of the open key, cut at its first NUL, not
  // expanded; false for a missing value or another type.
  bool ReadText(const std::string& value_name, std::string* text);
  // Fills a finding of the current category and hands it over.
  void Report(reg::HKEY root, uint8_t view, uint8_t action, uint8_t kind, const std::string& data,
              const std::string& value_name, const std::string& key_path,
              const std::string& caption);
  // A value that should hold text holds another type: one test, and a finding to delete it.
  void ReportWrongType(const std::string& value_name, const std::string& key_path);
  // Whether the class `name` exists below HKEY_CLASSES_ROOT (in the 32-bit view, under WOW64
  // also the 64-bit one). With `strip`, trailing digits and dots are taken off one by one until a
  // class exists.
  bool ClassExists(std::string name, bool strip);
  // Whether a file reference (a path, a command, a package or resource reference) exists.
  bool FileReferenceExists(std::string_view reference);
  // Outcomes of the full path test by element text (history_checks.cc), kept for the scan: a
  // large registry names the same few thousand program paths hundreds of thousands of times, and
  // files do not change during a scan.
  std::unordered_map<std::string, uint8_t>& PathTestMemo() { return path_test_memo_; }
  const SkipKeyList& SkipKeys() const { return skip_keys_; }

  // --- Read by the scanner after the worker has ended ---
  TErrorCategories DoneCategories() const { return done_categories_; }
  int CategoryTests(TErrorCategory category) const { return category_tests_[category]; }
  int CategoryTotal(TErrorCategory category) const { return category_total_[category]; }
  int CategoryDone(TErrorCategory category) const { return category_done_[category]; }

 private:
  void Execute();
  void RunPass(reg::TRegistryAccess& access, bool count_only);
  void DeliverProgress();
  // Hands the queued findings to the main thread in one call.
  void DeliverFindings();

  const TErrorCategories categories_;
  const CategoryRoutines& routines_;
  MainThreadQueue& main_thread_;
  Callbacks callbacks_;
  const IgnoreLookup ignores_;
  const SkipKeyList skip_keys_;
  std::atomic<bool> terminated_{false};
  std::thread thread_;

  TErrorCategories done_categories_;
  std::array<int, kCategoryCount> category_total_{};
  std::array<int, kCategoryCount> category_done_{};
  std::array<int, kCategoryCount> category_tests_{};
  int grand_total_ = 0;
  int items_done_ = 0;
  TErrorCategory category_ = ecShellFolders;
  uint8_t view_ = 0;
  std::string item_caption_;
  reg::TRegistryAccess* access_ = nullptr;  // the scan's access object, during Execute()
  // Names of the files and folders below the user's local application data folder, upper-cased;
  // built on first use.
  std::unique_ptr<std::unordered_set<std::u16string>> local_app_data_names_;
  // What FileReferenceExists found for each text during this scan (with the thread's file-system
  // redirection state).
  std::unordered_map<std::string, bool> reference_memo_;
  std::unordered_map<std::string, uint8_t> path_test_memo_;
  std::string reference_key_;
  // Findings not yet handed to the main thread. A scan of a large registry can make a hundred
  // thousand findings; one blocking call (two thread switches) per finding cost far more than
  // the checks themselves.
  std::vector<TRegErrorInfo> pending_findings_;
  std::string location_;
  int category_percent_ = 0;
  int total_percent_ = 0;
};

}  // namespace hm::scan
