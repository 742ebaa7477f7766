// Settings: every value of the settings file `hvmend.ini` as the program holds it in memory.
//
// The fields of the "settings" section carry the names of their values in the file, so that a
// value is found under one name everywhere. Text is kept as the file holds it: single-byte text
// in the installation's code page. The defaults are those of a new installation.
//
// Thread-compatible: a plain value (the program reads and writes it on the main thread).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hm::app {

inline constexpr size_t kScanCategoryCount = 24;
inline constexpr size_t kCleanCategoryCount = 51;
// The most keys the monitor watches; a longer stored list is cut when loaded.
inline constexpr size_t kMaxMonitoredKeys = 64;
// How long the texts `last_organize`, `last_backup`, `last_optimize` and `last_scan` may be.
inline constexpr size_t kShortTextLength = 12;

// A text of at most kShortTextLength characters: longer texts are cut when assigned.
class ShortText {
 public:
  ShortText() = default;
  // Implicit, so that the field is assigned like a string.
  ShortText(std::string_view text) : text_(text.substr(0, kShortTextLength)) {}  // NOLINT
  ShortText(const std::string& text) : ShortText(std::string_view(text)) {}      // NOLINT
  ShortText(const char* text) : ShortText(std::string_view(text)) {}             // NOLINT
  const std::string& str() const { return text_; }
  operator const std::string&() const { return text_; }  // NOLINT
  bool operator==(const ShortText&) const = default;

 private:
  std::string text_;
};

struct Settings {
  // [scan]
  bool FirstTimeScan = true;
  // The check box of each scan category, by category number.
  std::array<bool, kScanCategoryCount> scan_categories;

  // [clean]: one state per history-cleaner category, by category number.
  std::array<bool, kCleanCategoryCount> clean_categories;

  // [settings]
  int32_t AutoRunAction = 0;  // 0 disabled, 1 scan and repair, 2 monitor
  int32_t AutoRunFreq = 0;    // 0 daily, 1 weekly, 2 bi-weekly, 3 monthly
  bool DoNotShowNoticeOnDelayedStart = false;
  int32_t UpdateFreq = 1;  // days between update checks; 0 never
  int32_t MonitorPrompt = 300;
  bool DeleteAfterWeek = false;
  std::string window;
  std::string window_l;
  std::string autorun;  // date text of the next automatic scan
  std::string update;   // date text of the next update check
  bool BackupBeforeScan = true;
  ShortText last_organize;
  ShortText last_backup;
  ShortText last_optimize;
  std::string healthstatus;
  int32_t total_error_found = 0;
  int32_t total_error_repaired = 0;
  int32_t last_err = 0;
  int32_t last_repair = 0;
  ShortText last_scan;  // "yyyymmddhhnn"
  bool FullBackupOnlyOnceWeek = true;

  // [SkippedKeys]: each entry "name=value" (the ignore list of the scanner).
  std::vector<std::string> SkippedKeys;
  // [MonitoredKeys]: key texts; compared without regard to case.
  std::vector<std::string> MonitoredKeys;

  Settings();
};

// Names of the values in the file, by category number.
extern const std::array<std::string_view, kScanCategoryCount> kScanCategoryValueNames;
extern const std::array<std::string_view, kCleanCategoryCount> kCleanCategoryValueNames;
// Category numbers of the "clean" section in the order the file holds them.
extern const std::array<uint8_t, kCleanCategoryCount> kCleanFileOrder;
// The default state of each history-cleaner category.
bool DefaultCleanState(size_t category);

// The watch list of the monitor when the file holds none, in order.
const std::vector<std::string>& DefaultMonitoredKeys();

// Whether `list` holds `key`, compared without regard to ASCII letter case.
bool ContainsMonitoredKey(const std::vector<std::string>& list, std::string_view key);

}  // namespace hm::app
