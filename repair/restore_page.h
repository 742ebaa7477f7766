// The logic of the restore page, without its widgets: the snapshot selector, the items with their
// check boxes, the "Check / Uncheck All" box, the automatic deletion box, and what Restore does.
// The page's widgets show this state and forward the user's clicks; the messages are theirs to
// show, with the texts below.
//
// Main thread only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "repair/undo_store.h"

namespace hm::repair {

inline constexpr std::string_view kNothingToRestoreText = "Please select items to restore.";
inline constexpr std::string_view kRestoreQuestionText = "Restore selected items?";
inline constexpr std::string_view kNoItemSelectedText = "Please select an item from the list";
inline constexpr std::string_view kKeyMissingText = "Registry key does not exist.";
inline constexpr std::string_view kAutoDeleteCaption =
    "Automatically delete Snapshots older then one week ";

enum class TCheckState { cbUnchecked, cbChecked, cbGrayed };

struct TRestoreItem {
  std::string key_text;  // "HKEY_LOCAL_MACHINE\SOFTWARE\..."
  bool checked = true;
};

class TRestorePageModel {
 public:
  // `delete_after_week`: the setting the automatic deletion box mirrors.
  TRestorePageModel(TUndoStore store, bool delete_after_week);

  // The page is shown: the first time after creation or after MarkOutOfDate(), old snapshots are
  // deleted when the box is checked, and the lists are loaded.
  void Shown(std::chrono::system_clock::time_point now);
  // A repair changed the store: the next showing loads the lists again.
  void MarkOutOfDate() { loaded_ = false; }
  bool Loaded() const { return loaded_; }

  bool AutoDelete() const { return auto_delete_; }
  // The box's state; the page saves it as the setting when it is hidden.
  void SetAutoDelete(bool checked) { auto_delete_ = checked; }

  // Reads the snapshots again and selects the newest.
  void Reload();
  const std::vector<std::string>& Snapshots() const { return snapshots_; }
  int SelectedSnapshot() const { return selected_; }  // -1 when there is none
  // Shows the items of snapshot `index`, all checked.
  void SelectSnapshot(int index);

  const std::vector<TRestoreItem>& Items() const { return items_; }
  bool HasItems() const { return !items_.empty(); }
  // "<n> Items".
  std::string CountText() const;
  TCheckState AllState() const { return all_state_; }
  // The "Check / Uncheck All" box (or its label) clicked into `checked`.
  void SetAllChecked(bool checked);
  // An item's box clicked.
  void SetItemChecked(size_t index, bool checked);

  // Restores the checked items of the selected snapshot; nullopt, changing nothing, when none is
  // checked. Afterwards the lists are reloaded; when some items had been left unchecked, the same
  // snapshot stays selected with every item unchecked. The caller clears the scanner's results.
  std::optional<RestoreOutcome> RestoreChecked();

  const TUndoStore& Store() const { return store_; }

 private:
  void UpdateAllState();

  TUndoStore store_;
  bool auto_delete_;
  bool loaded_ = false;
  std::vector<std::string> snapshots_;
  int selected_ = -1;
  std::vector<TRestoreItem> items_;
  TCheckState all_state_ = TCheckState::cbChecked;
};

}  // namespace hm::repair
