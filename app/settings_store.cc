#include "app/settings_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "app/text_number.h"
#include "platform/file_io.h"
#include "scanner/exclusions.h"

namespace hm::app {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kScan = "scan";
constexpr std::string_view kClean = "clean";
constexpr std::string_view kSettings = "settings";
constexpr std::string_view kSkippedKeys = "SkippedKeys";
constexpr std::string_view kMonitoredKeys = "MonitoredKeys";
// The update date used while update checks are switched off: never reached in practice.
constexpr std::string_view kNeverDate = "2099.12.31";

// The text of a settings file. A missing file reads as empty, and so does a file too large to be
// one (a Save then replaces it). Any other failure is returned: such a file must not be replaced.
Status ReadSettingsFile(const fs::path& file, std::string* bytes) {
  bytes->clear();
  struct stat info;
  if (::stat(file.c_str(), &info) != 0) {
    if (errno == ENOENT) return Status::Ok();
    return Status::Error(WinErrorFromErrno(errno), "read '" + file.string() + "'");
  }
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > SettingsStore::kMaxFileSize) {
    return Status::Ok();
  }
  return ReadWholeFile(file, bytes);
}

void WriteText(IniFile* ini, std::string_view section, std::string_view name,
               std::string_view value) {
  ini->WriteString(section, name, value);  // texts that would not read back are left out
}

int32_t ReadInteger(const IniFile& ini, std::string_view section, std::string_view name,
                    int32_t default_value) {
  return ParseDecimalInteger(ini.ReadString(section, name, "")).value_or(default_value);
}

// Any non-zero integer is true.
bool ReadBool(const IniFile& ini, std::string_view section, std::string_view name,
              bool default_value) {
  std::optional<int32_t> number = ParseDecimalInteger(ini.ReadString(section, name, ""));
  return number ? *number != 0 : default_value;
}

void WriteInteger(IniFile* ini, std::string_view section, std::string_view name, int32_t value) {
  ini->WriteString(section, name, std::to_string(value));
}

void WriteBool(IniFile* ini, std::string_view section, std::string_view name, bool value) {
  ini->WriteString(section, name, value ? "1" : "0");
}

// Splits a skipped-keys string at its last "=": the name may itself hold "=", the value not.
std::pair<std::string_view, std::string_view> SplitAtLastEquals(std::string_view entry) {
  const size_t equals = entry.rfind('=');
  if (equals == std::string_view::npos) return {entry, {}};
  return {entry.substr(0, equals), entry.substr(equals + 1)};
}

}  // namespace

std::vector<std::string> BuiltInSkippedKeys() {
  Result<std::vector<std::string>> keys = scan::DefaultSkippedKeys();
  return keys.ok() ? std::move(*keys) : std::vector<std::string>();
}

SettingsStore::SettingsStore(DataFolder folder, Options options)
    : folder_(std::move(folder)), options_(std::move(options)) {}

Result<fs::path> SettingsStore::FilePath() const {
  Result<fs::path> existing = folder_.Find(kFileName);
  if (existing.ok()) return existing;
  return folder_.Map(kFileName);
}

fs::path SettingsStore::FileToRead() const {
  Result<fs::path> own = folder_.Find(kFileName);
  if (own.ok()) return *own;
  for (auto folder = std::rbegin(kOlderCopyFolders); folder != std::rend(kOlderCopyFolders);
       ++folder) {
    Result<fs::path> older =
        folder_.Find("..\\" + std::string(*folder) + "\\" + std::string(kFileName));
    if (older.ok()) return *older;
  }
  return {};
}

Status SettingsStore::Load() {
  const fs::path file = FileToRead();
  std::string bytes;
  Status status = file.empty() ? Status::Ok() : ReadSettingsFile(file, &bytes);
  if (!status.ok()) bytes.clear();
  ReadValues(IniFile::Parse(bytes));
  return status;
}

void SettingsStore::ReadValues(const IniFile& ini) {
  settings_ = Settings();
  Settings& s = settings_;
  s.FirstTimeScan = ReadBool(ini, kScan, "FirstTimeScan", true);
  for (size_t category = 0; category < kScanCategoryCount; ++category) {
    s.scan_categories[category] = ReadBool(ini, kScan, kScanCategoryValueNames[category], true);
  }
  for (uint8_t category : kCleanFileOrder) {
    s.clean_categories[category] =
        ReadBool(ini, kClean, kCleanCategoryValueNames[category], DefaultCleanState(category));
  }

  s.AutoRunAction = ReadInteger(ini, kSettings, "AutoRunAction", 0);
  s.AutoRunFreq = ReadInteger(ini, kSettings, "AutoRunFreq", 0);
  s.DoNotShowNoticeOnDelayedStart =
      ReadBool(ini, kSettings, "DoNotShowNoticeOnDelayedStart", false);
  s.UpdateFreq = ReadInteger(ini, kSettings, "UpdateFreq", 1);
  s.MonitorPrompt = ReadInteger(ini, kSettings, "MonitorPrompt", 300);
  s.DeleteAfterWeek = ReadBool(ini, kSettings, "DeleteAfterWeek", false);
  s.window = ini.ReadString(kSettings, "window", "");
  s.window_l = ini.ReadString(kSettings, "window_l", "");
  s.autorun = ini.ReadString(kSettings, "autorun", "");
  s.update = ini.ReadString(kSettings, "update", "");
  s.BackupBeforeScan = ReadBool(ini, kSettings, "BackupBeforeScan", true);
  s.last_organize = ini.ReadString(kSettings, "last_organize", "");
  s.last_backup = ini.ReadString(kSettings, "last_backup", "");
  s.last_optimize = ini.ReadString(kSettings, "last_optimize", "");
  s.healthstatus = ini.ReadString(kSettings, "healthstatus", "");
  s.total_error_found = ReadInteger(ini, kSettings, "total_error_found", 0);
  s.total_error_repaired = ReadInteger(ini, kSettings, "total_error_repaired", 0);
  s.last_err = ReadInteger(ini, kSettings, "last_err", 0);
  s.last_repair = ReadInteger(ini, kSettings, "last_repair", 0);
  s.last_scan = ini.ReadString(kSettings, "last_scan", "");
  s.FullBackupOnlyOnceWeek = ReadBool(ini, kSettings, "FullBackupOnlyOnceWeek", true);

  // Each entry keeps its own value, also where two names differ only in case.
  const auto* skipped = ini.SectionEntries(kSkippedKeys);
  if (skipped == nullptr || skipped->empty()) {
    s.SkippedKeys = options_.default_skipped_keys();
  } else {
    for (const auto& [name, value] : *skipped) {
      if (!value.empty()) s.SkippedKeys.push_back(name + "=" + value);
    }
  }
  if (ini.SectionExists(kMonitoredKeys)) s.MonitoredKeys = ini.SectionNames(kMonitoredKeys);
  if (s.MonitoredKeys.size() > kMaxMonitoredKeys) s.MonitoredKeys.resize(kMaxMonitoredKeys);
}

void SettingsStore::WriteValues(IniFile* ini) const {
  const Settings& s = settings_;
  WriteBool(ini, kScan, "FirstTimeScan", s.FirstTimeScan);
  for (size_t category = 0; category < kScanCategoryCount; ++category) {
    WriteBool(ini, kScan, kScanCategoryValueNames[category], s.scan_categories[category]);
  }
  for (uint8_t category : kCleanFileOrder) {
    WriteBool(ini, kClean, kCleanCategoryValueNames[category], s.clean_categories[category]);
  }

  WriteInteger(ini, kSettings, "AutoRunAction", s.AutoRunAction);
  WriteInteger(ini, kSettings, "AutoRunFreq", s.AutoRunFreq);
  WriteBool(ini, kSettings, "DoNotShowNoticeOnDelayedStart", s.DoNotShowNoticeOnDelayedStart);
  WriteInteger(ini, kSettings, "UpdateFreq", s.UpdateFreq);
  WriteInteger(ini, kSettings, "MonitorPrompt", s.MonitorPrompt);
  WriteBool(ini, kSettings, "DeleteAfterWeek", s.DeleteAfterWeek);
  WriteText(ini, kSettings, "window", s.window);
  WriteText(ini, kSettings, "window_l", s.window_l);
  WriteText(ini, kSettings, "autorun", s.autorun);
  WriteText(ini, kSettings, "update", s.update);
  WriteBool(ini, kSettings, "BackupBeforeScan", s.BackupBeforeScan);
  WriteText(ini, kSettings, "last_organize", s.last_organize.str());
  WriteText(ini, kSettings, "last_backup", s.last_backup.str());
  WriteText(ini, kSettings, "last_optimize", s.last_optimize.str());
  WriteText(ini, kSettings, "healthstatus", s.healthstatus);
  WriteInteger(ini, kSettings, "total_error_found", s.total_error_found);
  WriteInteger(ini, kSettings, "total_error_repaired", s.total_error_repaired);
  WriteInteger(ini, kSettings, "last_err", s.last_err);
  WriteInteger(ini, kSettings, "last_repair", s.last_repair);
  WriteText(ini, kSettings, "last_scan", s.last_scan.str());
  WriteBool(ini, kSettings, "FullBackupOnlyOnceWeek", s.FullBackupOnlyOnceWeek);

  // An entry the file cannot hold (a line break in a key name) is left out; the rest is written.
  ini->EraseSection(kSkippedKeys);
  for (const std::string& entry : s.SkippedKeys) {
    auto [name, value] = SplitAtLastEquals(entry);
    WriteText(ini, kSkippedKeys, name, value);
  }
  ini->EraseSection(kMonitoredKeys);
  for (const std::string& key : s.MonitoredKeys) WriteText(ini, kMonitoredKeys, key, "");
}

Status SettingsStore::Save() {
  Result<fs::path> file = FilePath();
  if (!file.ok()) return file.status();
  std::error_code error;
  fs::create_directories(file->parent_path(), error);
  std::string existing;
  HM_RETURN_IF_ERROR(ReadSettingsFile(*file, &existing));
  IniFile ini = IniFile::Parse(existing);
  WriteValues(&ini);
  return AtomicWriteFile(*file, ini.ToText(), options_.write_options);
}

Status SettingsStore::SetNextDate(DateKind kind, int days) {
  const std::string text = days > 0 ? FormatDateText(AddDays(options_.today(), days)) : "";
  // A file that cannot be read makes Save fail below; the values read here are then unused.
  (void)Load();
  if (kind == DateKind::kAutomaticScan) {
    settings_.autorun = text;
  } else {
    settings_.UpdateFreq = days;
    settings_.update = text;
  }
  return Save();
}

bool SettingsStore::IsDue(DateKind kind) const {
  std::string_view text = settings_.autorun;
  if (kind == DateKind::kUpdateCheck) {
    text = settings_.UpdateFreq == 0 ? kNeverDate : std::string_view(settings_.update);
  }
  if (text.empty()) return true;
  std::optional<CivilDate> date = ParseDateText(text);
  if (!date) return false;  // compared with the present moment, which is later than today
  return std::chrono::sys_days(options_.today()) >= std::chrono::sys_days(*date);
}

bool SettingsStore::AutomaticRunDue() {
  if (settings_.AutoRunAction != 1 || !IsDue(DateKind::kAutomaticScan)) return false;
  if (settings_.AutoRunFreq < 0 || settings_.AutoRunFreq > 3) settings_.AutoRunFreq = 0;
  // The scan runs also when the next date cannot be saved.
  (void)SetNextDate(DateKind::kAutomaticScan, kAutoRunDays[settings_.AutoRunFreq]);
  return true;
}

}  // namespace hm::app
