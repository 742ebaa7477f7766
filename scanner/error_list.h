// The findings of a scan: TRegError (one stored finding), TErrorList (the owning list, with a
// view per category and the number of selected findings per category) and
// TRegScannerChangeLink (how a list view hears of changes).
//
// The invariants hold by construction: a finding enters and leaves a list only through the
// list, which files it under its category and counts it when selected; `Checked` changes only
// through SetChecked(), which tells the list; a finding that is destroyed while in a list takes
// itself out first. Everything here runs on the main thread.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "scanner/issue_types.h"

namespace hm::scan {

class TErrorList;
class TRegScanner;  // the scanner component; registers the links of its list

// What happened to a finding of a list, as observers are told.
enum TListNotification : uint8_t { lnAdded = 0, lnExtracted = 1, lnDeleted = 2 };

class TRegError {
 public:
  explicit TRegError(const TRegErrorInfo& info);
  // A finding that is still in a list leaves it first (the list says "extracted").
  ~TRegError();
  TRegError(const TRegError&) = delete;
  TRegError& operator=(const TRegError&) = delete;

  uint8_t View() const { return view_; }
  reg::HKEY RootKey() const { return root_key_; }
  const std::string& Caption() const { return caption_; }
  const std::string& KeyPath() const { return key_path_; }
  const std::string& ValueName() const { return value_name_; }
  const std::string& Data() const { return data_; }
  TErrorCategory Category() const { return category_; }
  uint8_t Kind() const { return kind_; }
  uint8_t Action() const { return action_; }

  TErrorList* Owner() const { return owner_; }
  bool Checked() const { return checked_; }
  // Selects the finding for repair or not; the owner's count follows.
  void SetChecked(bool checked);
  // The user chose "Permanently Ignore item": the repair counts it as done without a change.
  bool Ignored() const { return ignored_; }
  void SetIgnored(bool ignored) { ignored_ = ignored; }

  std::string Description() const;
  // "HKLM\Software\...", or the key path alone for a finding without a root.
  std::string KeyText() const;
  // The value name, or "(Default)".
  std::string ValueText() const;

 private:
  friend class TErrorList;

  const uint8_t view_;
  const reg::HKEY root_key_;
  const std::string caption_;
  const std::string key_path_;
  const std::string value_name_;
  const std::string data_;
  const TErrorCategory category_;
  const uint8_t kind_;
  const uint8_t action_;
  TErrorList* owner_ = nullptr;
  bool checked_ = true;
  bool ignored_ = false;
};

// An observer of a scanner's findings. Destroying a link that is still registered unregisters
// it first.
class TRegScannerChangeLink {
 public:
  using ChangeEvent =
      std::function<void(TRegScanner* scanner, TRegError* finding, TListNotification action)>;

  TRegScannerChangeLink() = default;
  ~TRegScannerChangeLink();
  TRegScannerChangeLink(const TRegScannerChangeLink&) = delete;
  TRegScannerChangeLink& operator=(const TRegScannerChangeLink&) = delete;

  // The scanner it is registered with, or null.
  TRegScanner* Scanner() const { return scanner_; }
  ChangeEvent OnChange;
  // Calls OnChange, when set, with the scanner, the finding and the action.
  void Change(TRegError* finding, TListNotification action);

 private:
  friend class TErrorList;
  TRegScanner* scanner_ = nullptr;
  TErrorList* list_ = nullptr;  // whose observer list holds this link
};

class TErrorList {
 public:
  TErrorList();
  // Links still registered lose their scanner (they are not freed); the findings are freed.
  ~TErrorList();
  TErrorList(const TErrorList&) = delete;
  TErrorList& operator=(const TErrorList&) = delete;

  // Takes ownership and appends; observers hear lnAdded.
  TRegError* Add(std::unique_ptr<TRegError> finding);
  // Takes the finding out without freeing it; observers hear lnExtracted. nullptr when it is not
  // in this list.
  std::unique_ptr<TRegError> Extract(TRegError* finding);
  // Takes the finding out and frees it; observers hear lnDeleted.
  void Delete(TRegError* finding);
  // Frees every finding; observers hear nothing per finding, then one lnDeleted with no finding.
  void Clear();

  int Count() const { return static_cast<int>(items_.size()); }
  TRegError* Item(int index) const { return items_.at(index).get(); }
  int CategoryCount(TErrorCategory category) const;
  TRegError* CategoryItem(TErrorCategory category, int index) const;
  int SelectedCount(TErrorCategory category) const;

  // True when the run of findings of the candidate's category at the end of the list already
  // holds one with the same root, caption, key path, value name and data (compared exactly).
  // Constant time on average: the run at the end is kept in an index.
  bool IsDuplicate(const TRegErrorInfo& info);

  // Observers, in registration order. Registering a link registered elsewhere moves it here.
  void RegisterLink(TRegScannerChangeLink* link, TRegScanner* scanner);
  // Only a link registered with `scanner` is removed.
  void UnregisterLink(TRegScannerChangeLink* link, TRegScanner* scanner);

 private:
  friend class TRegError;

  // Bookkeeping of an insertion or removal, then the observers unless the list is locked.
  void Notify(TRegError* finding, TListNotification action);
  void Unfile(TRegError* finding);
  std::unique_ptr<TRegError> Release(TRegError* finding);
  void SelectionChanged(const TRegError& finding, bool checked);

  std::vector<std::unique_ptr<TRegError>> items_;
  std::array<std::vector<TRegError*>, kCategoryCount> by_category_;
  std::array<int, kCategoryCount> selected_{};
  std::vector<TRegScannerChangeLink*> links_;
  int lock_count_ = 0;
  // The findings of the run of one category at the end of the list, by a hash of their identity
  // (root, caption, key path, value name, data); rebuilt after a removal, and never read while
  // stale (it may then point to findings that are gone).
  std::unordered_multimap<size_t, const TRegError*> tail_run_;
  bool tail_run_stale_ = false;
  void RebuildTailRun();
};

}  // namespace hm::scan
