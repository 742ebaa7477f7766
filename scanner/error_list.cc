#include "scanner/error_list.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "registry/registry_access.h"

namespace hm::scan {

// ---------------------------------------------------------------------------------------------
// TRegError

TRegError::TRegError(const TRegErrorInfo& info)
    : view_(info.View),
      root_key_(info.RootKey),
      caption_(info.Caption),
      key_path_(info.KeyPath),
      value_name_(info.ValueName),
      data_(info.Data),
      category_(info.Category),
      kind_(info.Kind),
      action_(info.Action) {}

TRegError::~TRegError() {
  if (owner_ != nullptr) {
    // The list still holds this object; it lets go of it without freeing it again.
    owner_->Release(this).release();  // NOLINT: ownership ends here, in the destructor
  }
}

void TRegError::SetChecked(bool checked) {
  if (checked == checked_) return;
  if (owner_ != nullptr) owner_->SelectionChanged(*this, checked);
  checked_ = checked;
}

std::string TRegError::Description() const {
  return IssueDescription(kind_, key_path_, value_name_, data_, caption_);
}

std::string TRegError::KeyText() const {
  if (root_key_ == 0) return key_path_;
  return reg::RootKeyToShortName(root_key_) + "\\" + key_path_;
}

std::string TRegError::ValueText() const {
  return scan::ValueText(value_name_);
}

// ---------------------------------------------------------------------------------------------
// TRegScannerChangeLink

TRegScannerChangeLink::~TRegScannerChangeLink() {
  if (list_ != nullptr) list_->UnregisterLink(this, scanner_);
}

void TRegScannerChangeLink::Change(TRegError* finding, TListNotification action) {
  if (OnChange) OnChange(scanner_, finding, action);
}

// ---------------------------------------------------------------------------------------------
// TErrorList

namespace {

// What makes two findings the same for the duplicate test: root, caption, key path, value name
// and data. The run at the end of a list is indexed by a hash of these (a run can hold a hundred
// thousand findings: texts built for each would cost more time and memory than the findings).
size_t IdentityHash(reg::HKEY root, std::string_view caption, std::string_view key_path,
                    std::string_view value_name, std::string_view data) {
  size_t hash = std::hash<uint64_t>{}(static_cast<uint64_t>(root));
  for (std::string_view part : {caption, key_path, value_name, data}) {
    hash = (hash ^ std::hash<std::string_view>{}(part)) * 0x9E3779B97F4A7C15ull + part.size();
  }
  return hash;
}

size_t IdentityHashOf(const TRegError& f) {
  return IdentityHash(f.RootKey(), f.Caption(), f.KeyPath(), f.ValueName(), f.Data());
}

bool SameIdentity(const TRegError& f, const TRegErrorInfo& info) {
  return f.RootKey() == info.RootKey && f.Caption() == info.Caption &&
         f.KeyPath() == info.KeyPath && f.ValueName() == info.ValueName && f.Data() == info.Data;
}

}  // namespace

TErrorList::TErrorList() = default;

TErrorList::~TErrorList() {
  for (TRegScannerChangeLink* link : links_) {
    link->scanner_ = nullptr;
    link->list_ = nullptr;
  }
  // The findings go with the list; none of them needs to leave it first.
  for (auto& item : items_) item->owner_ = nullptr;
}

TRegError* TErrorList::Add(std::unique_ptr<TRegError> finding) {
  TRegError* raw = finding.get();
  if (!items_.empty() && items_.back()->category_ != raw->category_) tail_run_.clear();
  if (!tail_run_stale_) tail_run_.emplace(IdentityHashOf(*raw), raw);
  items_.push_back(std::move(finding));
  Notify(raw, lnAdded);
  return raw;
}

std::unique_ptr<TRegError> TErrorList::Extract(TRegError* finding) {
  if (finding == nullptr || finding->owner_ != this) return nullptr;
  return Release(finding);
}

void TErrorList::Delete(TRegError* finding) {
  if (finding == nullptr || finding->owner_ != this) return;
  auto it = std::find_if(items_.begin(), items_.end(),
                         [finding](const auto& item) { return item.get() == finding; });
  std::unique_ptr<TRegError> owned = std::move(*it);
  items_.erase(it);
  // Observers see the finding while it still exists; it is freed after them.
  Notify(finding, lnDeleted);
}

void TErrorList::Clear() {
  ++lock_count_;
  while (!items_.empty()) {
    std::unique_ptr<TRegError> owned = std::move(items_.back());
    items_.pop_back();
    Notify(owned.get(), lnDeleted);
  }
  --lock_count_;
  for (TRegScannerChangeLink* link : std::vector<TRegScannerChangeLink*>(links_)) {
    link->Change(nullptr, lnDeleted);
  }
}

std::unique_ptr<TRegError> TErrorList::Release(TRegError* finding) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [finding](const auto& item) { return item.get() == finding; });
  std::unique_ptr<TRegError> owned = std::move(*it);
  items_.erase(it);
  Notify(finding, lnExtracted);
  return owned;
}

void TErrorList::Notify(TRegError* finding, TListNotification action) {
  if (action != lnAdded) tail_run_stale_ = true;
  if (action == lnAdded) {
    finding->owner_ = this;
    by_category_[finding->category_].push_back(finding);
    if (finding->checked_) ++selected_[finding->category_];
  } else {
    finding->owner_ = nullptr;
    Unfile(finding);
    if (finding->checked_) --selected_[finding->category_];
  }
  if (lock_count_ > 0) return;
  // A copy: an observer may unregister itself while it is told.
  for (TRegScannerChangeLink* link : std::vector<TRegScannerChangeLink*>(links_)) {
    link->Change(finding, action);
  }
}

void TErrorList::Unfile(TRegError* finding) {
  std::vector<TRegError*>& category = by_category_[finding->category_];
  auto it = std::find(category.rbegin(), category.rend(), finding);
  if (it != category.rend()) category.erase(std::next(it).base());
}

void TErrorList::SelectionChanged(const TRegError& finding, bool checked) {
  selected_[finding.category_] += checked ? 1 : -1;
}

int TErrorList::CategoryCount(TErrorCategory category) const {
  return static_cast<int>(by_category_.at(category).size());
}

TRegError* TErrorList::CategoryItem(TErrorCategory category, int index) const {
  return by_category_.at(category).at(index);
}

int TErrorList::SelectedCount(TErrorCategory category) const {
  return selected_.at(category);
}

void TErrorList::RebuildTailRun() {
  tail_run_.clear();
  tail_run_stale_ = false;
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if ((*it)->category_ != items_.back()->category_) break;
    tail_run_.emplace(IdentityHashOf(**it), it->get());
  }
}

bool TErrorList::IsDuplicate(const TRegErrorInfo& info) {
  if (items_.empty() || items_.back()->category_ != info.Category) return false;
  if (tail_run_stale_) RebuildTailRun();
  auto [first, last] = tail_run_.equal_range(
      IdentityHash(info.RootKey, info.Caption, info.KeyPath, info.ValueName, info.Data));
  return std::any_of(first, last, [&](const auto& entry) {
    return SameIdentity(*entry.second, info);
  });
}

void TErrorList::RegisterLink(TRegScannerChangeLink* link, TRegScanner* scanner) {
  if (link->list_ != nullptr) link->list_->UnregisterLink(link, link->scanner_);
  links_.push_back(link);
  link->list_ = this;
  link->scanner_ = scanner;
}

void TErrorList::UnregisterLink(TRegScannerChangeLink* link, TRegScanner* scanner) {
  if (link->list_ != this || link->scanner_ != scanner) return;
  std::erase(links_, link);
  link->list_ = nullptr;
  link->scanner_ = nullptr;
}

}  // namespace hm::scan
