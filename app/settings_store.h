// SettingsStore: loads and saves the settings file `hvmend.ini` of a data folder, and the date
// questions asked of it (when the next automatic scan and update check are due).
//
// Load reads the whole file into settings(); Save writes all of them back. Callers that change
// one value call Load first, change it and Save, so that values another part saved in between
// are kept. The file is single-byte text with CR LF line ends; Save keeps the sections and
// entries of the file that it does not know and replaces the file atomically, so a crash during
// Save leaves either the old or the new file.
//
// Damaged input never fails a Load: unreadable values keep their defaults. Lines that are no
// section header or entry (text before the first section, lines without "=" or without a name,
// lines holding control bytes, sections without a name and what they hold) are left out, so the
// next Save writes a clean file. A text that the file could not hold (a line break in a key
// name) is not written; the rest is.
//
// Thread-compatible: the program uses its store on the main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/data_folder.h"
#include "app/date_text.h"
#include "app/settings.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/status.h"

namespace hm::app {

// The built-in default exclusions ("KEYTEXT=1" lines); empty if they cannot be read.
std::vector<std::string> BuiltInSkippedKeys();

// Which remembered date a date operation is about.
enum class DateKind { kAutomaticScan = 0, kUpdateCheck = 1 };

class SettingsStore {
 public:
  inline static constexpr std::string_view kFileName = "hvmend.ini";
  // Older copies of the file are looked for in these sibling folders of the data folder when the
  // data folder has none; a copy in the later one wins.
  inline static constexpr std::string_view kOlderCopyFolders[] = {"OrrinwellSoftware",
                                                                  "Daventry Labs"};
  // Files larger than this are not settings files; they read as empty.
  static constexpr size_t kMaxFileSize = 64 << 20;

  struct Options {
    // Today's date; the host's local date unless a test fixes it.
    std::function<CivilDate()> today = LocalToday;
    // The skipped-keys list used when the file's "SkippedKeys" section has no entries.
    std::function<std::vector<std::string>()> default_skipped_keys = BuiltInSkippedKeys;
    // How Save replaces the file (a test can stop the process between the steps).
    AtomicWriteOptions write_options;
  };

  explicit SettingsStore(DataFolder folder) : SettingsStore(std::move(folder), Options()) {}
  SettingsStore(DataFolder folder, Options options);

  Settings& settings() { return settings_; }
  const Settings& settings() const { return settings_; }
  const DataFolder& folder() const { return folder_; }

  // Reads the file into settings(): every value is its default unless the file holds a readable
  // one. A file that exists but cannot be read is reported (the values are then the defaults).
  Status Load();
  // Writes every value and both list sections into the data folder's file, keeping what else the
  // file holds. Fails without touching the file when the existing file cannot be read (it would
  // lose what it holds) or cannot be replaced.
  Status Save();

  // Stores today plus `days` as the next date of `kind` ("" when days <= 0): Load, set `autorun`
  // (or `UpdateFreq` = days and `update`), Save.
  Status SetNextDate(DateKind kind, int days);
  // True when the remembered date of `kind` is empty or today or earlier. An update date counts
  // as 2099-12-31 when `UpdateFreq` is 0; a date that cannot be read is never due.
  bool IsDue(DateKind kind) const;
  // The question of an "autoscan" start: due only when `AutoRunAction` is 1 (scan) and the
  // automatic-scan date is due; then the next date is set by `AutoRunFreq` (0, 7, 14 or 30 days;
  // a value outside 0 to 3 counts as 0) and saved. Nothing is saved when it is not due.
  bool AutomaticRunDue();

  // The host path Save writes to.
  Result<std::filesystem::path> FilePath() const;

 private:
  // The file Load reads: the data folder's own, else the newest older copy; empty when none.
  std::filesystem::path FileToRead() const;
  void ReadValues(const IniFile& ini);
  void WriteValues(IniFile* ini) const;

  DataFolder folder_;
  Options options_;
  Settings settings_;
};

// Days until the next automatic scan for each `AutoRunFreq`.
inline constexpr int kAutoRunDays[] = {0, 7, 14, 30};

}  // namespace hm::app
