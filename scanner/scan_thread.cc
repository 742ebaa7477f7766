#include "scanner/scan_thread.h"

#include <algorithm>
#include <cstdio>

namespace hm::scan {

namespace {

// Findings handed to the main thread in one call at most. Large enough that the thread switches
// of a call are spread over many findings, small enough that a front end showing the findings
// as they come sees them soon.
constexpr size_t kFindingBatch = 256;

}  // namespace

TScanThread::TScanThread(TErrorCategories categories, const std::vector<std::string>& ignore_list,
                         const CategoryRoutines& routines, MainThreadQueue& main_thread,
                         Callbacks callbacks)
    : categories_(categories),
      routines_(routines),
      main_thread_(main_thread),
      callbacks_(std::move(callbacks)),
      ignores_(ignore_list),
      skip_keys_(ControlSetNames()) {}

TScanThread::~TScanThread() {
  Join();
}

void TScanThread::Start() {
  thread_ = std::thread([this] { Execute(); });
}

void TScanThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TScanThread::Execute() {
  try {
    reg::TRegistryAccess access(reg::KEY_READ);
    access_ = &access;
    RunPass(access, /*count_only=*/true);
    RunPass(access, /*count_only=*/false);
  } catch (const std::exception& error) {
    // An error inside a check ends the scan; the categories not finished stay incomplete.
    std::fprintf(stderr, "hivemend: scan ended early: %s\n", error.what());
  }
  access_ = nullptr;
  DeliverFindings();  // those of a category that ended early
  if (Terminated()) {
    for (int c = 0; c < kCategoryCount; ++c) {
      if (category_done_[c] < category_total_[c]) category_tests_[c] = 0;
    }
  }
  main_thread_.RunOnMainThread([this] {
    if (callbacks_.finished) callbacks_.finished();
  });
}

void TScanThread::RunPass(reg::TRegistryAccess& access, bool count_only) {
  for (int c = 0; c < kCategoryCount && !Terminated(); ++c) {
    category_ = static_cast<TErrorCategory>(c);
    if (!categories_.Contains(category_)) continue;
    // The 32-bit view first; the 64-bit view where the installation has it (not for the shell
    // folders, which are the user's own).
    const int views = reg::ReflectionSupported() && category_ != ecShellFolders ? 2 : 1;
    for (int view = 0; view < views && !Terminated(); ++view) {
      access.CloseKey();
      access.SetView64(view == 1);
      view_ = static_cast<uint8_t>(view);
      const CategoryRoutine& routine = routines_[c];
      if (category_ != ecOpenGLDrivers && routine) routine(*this, access, count_only);
    }
    if (count_only) continue;
    // Every finding of the category reaches the main thread before the category can count as
    // done: a termination asked meanwhile drops them and leaves the category unfinished.
    DeliverFindings();
    if (category_total_[c] == 0) {
      location_.clear();
      category_percent_ = 100;
      DeliverProgress();
    }
    if (!Terminated()) done_categories_.Include(category_);
  }
}

void TScanThread::AddToCount(int items) {
  category_total_[category_] += items;
  grand_total_ += items;
}

void TScanThread::StepProgress(std::string_view location) {
  location_.assign(location);
  ++items_done_;
  const int done = ++category_done_[category_];
  const int total = category_total_[category_];
  const int before = category_percent_;
  // The category percent looks one step ahead: the last step but one already shows 100.
  category_percent_ =
      total == 0 ? 100
                 : static_cast<int>(std::min<int64_t>(100, (done + 1) * int64_t{100} / total));
  total_percent_ =
      grand_total_ == 0
          ? 100
          : static_cast<int>(std::min<int64_t>(100, items_done_ * int64_t{100} / grand_total_));
  if (done <= 1 || category_percent_ == 100 || category_percent_ != before) DeliverProgress();
}

void TScanThread::DeliverProgress() {
  DeliverFindings();  // the findings made before this step come first
  if (Terminated() || !callbacks_.progress) return;
  main_thread_.RunOnMainThread(
      [this] { callbacks_.progress(location_, category_, category_percent_, total_percent_); });
}

void TScanThread::HandOver(TRegErrorInfo finding) {
  finding.Category = category_;
  finding.InIgnoreList = ignores_.IsIgnored(finding.RootKey, finding.KeyPath, finding.ValueName);
  if (Terminated()) return;
  pending_findings_.push_back(std::move(finding));
  if (pending_findings_.size() >= kFindingBatch) DeliverFindings();
}

void TScanThread::DeliverFindings() {
  if (pending_findings_.empty()) return;
  if (!Terminated()) {
    main_thread_.RunOnMainThread([this] {
      // As for a single finding: once termination is asked, the rest is not handed on.
      for (const TRegErrorInfo& finding : pending_findings_) {
        if (Terminated() || !callbacks_.finding) break;
        callbacks_.finding(finding);
      }
    });
  }
  pending_findings_.clear();
}

}  // namespace hm::scan
