#include "repair/restore_page.h"

#include <algorithm>

namespace hm::repair {

TRestorePageModel::TRestorePageModel(TUndoStore store, bool delete_after_week)
    : store_(std::move(store)), auto_delete_(delete_after_week) {}

void TRestorePageModel::Shown(std::chrono::system_clock::time_point now) {
  if (loaded_) return;
  loaded_ = true;
  if (auto_delete_) store_.DeleteOldSnapshots(/*older_than_week=*/true, now);
  Reload();
}

void TRestorePageModel::Reload() {
  items_.clear();
  snapshots_ = store_.ListSnapshots();
  all_state_ = TCheckState::cbChecked;
  SelectSnapshot(static_cast<int>(snapshots_.size()) - 1);
}

void TRestorePageModel::SelectSnapshot(int index) {
  items_.clear();
  selected_ = index >= 0 && index < static_cast<int>(snapshots_.size()) ? index : -1;
  if (selected_ >= 0) {
    for (std::string& key : store_.ListSnapshotItems(snapshots_[selected_])) {
      items_.push_back({std::move(key), true});
    }
  }
  all_state_ = TCheckState::cbChecked;
}

std::string TRestorePageModel::CountText() const {
  return std::to_string(items_.size()) + " Items";
}

void TRestorePageModel::SetAllChecked(bool checked) {
  for (TRestoreItem& item : items_) item.checked = checked;
  all_state_ = checked ? TCheckState::cbChecked : TCheckState::cbUnchecked;
}

void TRestorePageModel::SetItemChecked(size_t index, bool checked) {
  if (index >= items_.size()) return;
  items_[index].checked = checked;
  UpdateAllState();
}

void TRestorePageModel::UpdateAllState() {
  const auto checked = std::count_if(items_.begin(), items_.end(),
                                     [](const TRestoreItem& item) { return item.checked; });
  all_state_ = checked == 0                                      ? TCheckState::cbUnchecked
               : checked == static_cast<long>(items_.size())     ? TCheckState::cbChecked
                                                                 : TCheckState::cbGrayed;
}

std::optional<RestoreOutcome> TRestorePageModel::RestoreChecked() {
  std::vector<std::string> keys;
  for (const TRestoreItem& item : items_) {
    if (item.checked) keys.push_back(item.key_text);
  }
  if (keys.empty() || selected_ < 0) return std::nullopt;
  const bool some_unchecked = keys.size() < items_.size();
  const int remembered = selected_;
  const std::string snapshot = snapshots_[selected_];
  const RestoreOutcome outcome = store_.RestoreSnapshot(snapshot, &keys);
  Reload();
  if (some_unchecked) {
    // The snapshot still has the unchecked items: it stays selected, with nothing checked.
    SelectSnapshot(remembered);
    SetAllChecked(false);
  }
  return outcome;
}

}  // namespace hm::repair
