#include "scanner/scanner.h"

#include <charconv>

#include "registry/path_utils.h"
#include "registry/win_registry.h"
#include "scanner/class_checks.h"
#include "scanner/file_type_checks.h"
#include "scanner/history_checks.h"
#include "scanner/software_checks.h"

namespace hm::scan {

const CategoryRoutines& DefaultCategoryRoutines() {
  static const CategoryRoutines routines = [] {
    CategoryRoutines table;
    AddClassChecks(&table);
    AddFileTypeChecks(&table);
    AddHistoryChecks(&table);
    AddSoftwareChecks(&table);
    return table;
  }();
  return routines;
}

TRegScanner::TRegScanner(MainThreadQueue& main_thread)
    : TRegScanner(main_thread, DefaultCategoryRoutines()) {}

TRegScanner::TRegScanner(MainThreadQueue& main_thread, CategoryRoutines routines)
    : main_thread_(main_thread), routines_(std::move(routines)) {
  tests_.fill(-1);
}

TRegScanner::~TRegScanner() {
  destroying_ = true;
  Stop();
}

void TRegScanner::SetScanCategories(TErrorCategories categories) {
  if (!IsScanning()) scan_categories_ = categories;
}

void TRegScanner::SetBackupFolder(const std::string& folder) {
  backup_folder_ = folder;
  if (backup_folder_.empty() || backup_folder_.back() != '\\') backup_folder_ += '\\';
}

void TRegScanner::Start() {
  if (worker_ != nullptr) return;
  finished_worker_.reset();  // joins the last one
  full_scan_done_ = false;
  errors_.Clear();
  run_tests_.fill(0);
  // Files may have changed since the last scan (another program, the user): look afresh.
  if (files::HostFiles* files = reg::ProcessFiles()) files->DropCache();
  read_only_drops_ = 0;
  last_key_filter_ = KeyFilterMemo();  // the registry may have changed since the last scan
  TScanThread::Callbacks callbacks;
  callbacks.progress = [this](const std::string& location, TErrorCategory category,
                              int category_percent, int total_percent) {
    // A progress handler may do anything: the filters' memo holds within the findings between
    // two steps only.
    last_key_filter_.valid = false;
    if (!destroying_ && OnProgress) OnProgress(location, category, category_percent, total_percent);
  };
  callbacks.finding = [this](const TRegErrorInfo& info) { AcceptFinding(info); };
  callbacks.finished = [this] { ScanFinished(); };
  worker_ = std::make_unique<TScanThread>(scan_categories_, ignore_list_, routines_, main_thread_,
                                          std::move(callbacks));
  worker_->Start();
}

void TRegScanner::Stop() {
  if (worker_ == nullptr) {
    finished_worker_.reset();
    return;
  }
  worker_->Terminate();
  // Asked from inside one of the worker's own calls (a progress report), the worker cannot end
  // before that call returns: the request stands and the scan ends right after it.
  if (main_thread_.InsideCall()) return;
  main_thread_.ServeUntil([this] { return worker_ == nullptr; });
  finished_worker_.reset();
}

void TRegScanner::ClearResults() {
  errors_.Clear();
  full_scan_done_ = false;
  has_results_ = false;
}

void TRegScanner::AcceptFinding(const TRegErrorInfo& info) {
  if (info.View == 1 && errors_.IsDuplicate(info)) return;
  if (info.InIgnoreList) {
    --run_tests_[info.Category];
    return;
  }
  if (info.Kind != 29) {
    KeyFilterMemo& memo = last_key_filter_;
    if (!memo.valid || memo.view != info.View || memo.root != info.RootKey ||
        memo.key_path != info.KeyPath) {
      const reg::REGSAM view = info.View == 1 ? reg::KEY_WOW64_64KEY : reg::KEY_WOW64_32KEY;
      memo.is_protected =
          reg::SfcIsKeyProtected(info.RootKey, reg::AnsiToUtf16(info.KeyPath), view);
      reg::HKEY key = 0;
      memo.error = memo.is_protected
                       ? kErrorAccessDenied
                       : reg::KeyOpenWrite(&key, info.RootKey, info.View == 1, info.KeyPath);
      if (memo.error == kErrorSuccess) reg::RegCloseKey(key);
      memo.valid = true;
      memo.view = info.View;
      memo.root = info.RootKey;
      memo.key_path = info.KeyPath;
    }
    if (memo.error != kErrorSuccess) {
      --run_tests_[info.Category];
      if (!memo.is_protected && memo.error == kErrorAccessDenied) ++read_only_drops_;
      return;
    }
  }
  errors_.Add(std::make_unique<TRegError>(info));
}

void TRegScanner::ScanFinished() {
  full_scan_done_ = true;
  has_results_ = true;
  for (int c = 0; c < kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    run_tests_[c] += worker_->CategoryTests(category);
    if (worker_->DoneCategories().Contains(category)) {
      tests_[c] = run_tests_[c];
      found_[c] = errors_.CategoryCount(category);
    } else {
      full_scan_done_ = false;
    }
  }
  // The worker is still inside this call; it is joined once it has returned.
  finished_worker_ = std::move(worker_);
  if (!destroying_ && OnScanComplete) OnScanComplete(this);
}

int TRegScanner::CategoryErrorCount(TErrorCategory category) const {
  return errors_.CategoryCount(category);
}

int TRegScanner::CategorySelectedCount(TErrorCategory category) const {
  return errors_.SelectedCount(category);
}

int TRegScanner::SelectedCount() const {
  int sum = 0;
  for (int c = 0; c < kCategoryCount; ++c) sum += errors_.SelectedCount(TErrorCategory(c));
  return sum;
}

namespace {

// The sum of `count` over the categories of a group.
template <typename Count>
int SumOverGroup(int group, Count count) {
  const TErrorCategories members = GroupMembers(group);
  int sum = 0;
  for (int c = 0; c < kCategoryCount; ++c) {
    if (members.Contains(TErrorCategory(c))) sum += count(TErrorCategory(c));
  }
  return sum;
}

}  // namespace

int TRegScanner::GroupErrorCount(int group) const {
  return SumOverGroup(group, [this](TErrorCategory c) { return errors_.CategoryCount(c); });
}

int TRegScanner::GroupSelectedCount(int group) const {
  return SumOverGroup(group, [this](TErrorCategory c) { return errors_.SelectedCount(c); });
}

TRegError* TRegScanner::GetError(TErrorCategory category, int index) const {
  return errors_.CategoryItem(category, index);
}

void TRegScanner::RegisterChanges(TRegScannerChangeLink* link) {
  errors_.RegisterLink(link, this);
}

void TRegScanner::UnregisterChanges(TRegScannerChangeLink* link) {
  errors_.UnregisterLink(link, this);
}

void TRegScanner::FindingRepaired(TErrorCategory category) {
  if (found_[category] > 0) --found_[category];
}

int TRegScanner::HealthPercent() const {
  int64_t total = 0;
  for (int c = 0; c < kCategoryCount; ++c) {
    if (tests_[c] < 0) return -1;
    total += tests_[c];
  }
  if (total < 1) return -1;
  long double health = 1;
  for (int c = 0; c < kCategoryCount; ++c) {
    if (found_[c] > 0 && tests_[c] > 0) {
      health *= 1 - static_cast<long double>(found_[c]) / tests_[c];
    }
  }
  return static_cast<int>(health * 100);
}

std::string TRegScanner::HealthStatusText() const {
  std::string text;
  for (int c = 0; c < kCategoryCount; ++c) {
    if (c > 0) text += ';';
    text += std::to_string(tests_[c]) + "," + std::to_string(found_[c]);
  }
  return text;
}

namespace {

// A decimal number of at most the first 12 characters of `token`; 0 when it is none.
int ParseCount(std::string_view token) {
  token = token.substr(0, 12);
  int value = 0;
  const char* begin = token.data();
  if (!token.empty() && token.front() == '+') ++begin;
  auto [end, error] = std::from_chars(begin, token.data() + token.size(), value);
  if (error != std::errc() || end != token.data() + token.size()) return 0;
  return value;
}

// The text from `*position` up to `delimiter` (or the end); moves past the delimiter.
std::string_view NextToken(std::string_view text, size_t* position, char delimiter) {
  const size_t end = std::min(text.find(delimiter, *position), text.size());
  std::string_view token = text.substr(*position, end - *position);
  *position = std::min(end + 1, text.size());
  return token;
}

}  // namespace

void TRegScanner::SetHealthStatusText(std::string_view text) {
  tests_.fill(-1);
  found_.fill(0);
  size_t position = 0;
  // Read while the position is before the last character, as the text has always been read.
  for (int pair = 0; position + 1 < text.size();) {
    const size_t before = position;
    const int tests = ParseCount(NextToken(text, &position, ','));
    const int found = ParseCount(NextToken(text, &position, ';'));
    if (position == before) break;
    if (pair < kCategoryCount) {
      tests_[pair] = tests;
      found_[pair] = found;
      ++pair;
    }
  }
}

}  // namespace hm::scan
