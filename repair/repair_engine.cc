#include "repair/repair_engine.h"

#include <ctime>
#include <exception>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/win_error.h"
#include "registry/path_utils.h"
#include "registry/host_registry.h"
#include "registry/reg_export.h"
#include "registry/registry_access.h"
#include "registry/shell_files.h"
#include "registry/win_registry.h"
#include "repair/store_files.h"
#include "repair/undo_store.h"

namespace hm::repair {
namespace {

using reg::HKEY;
using reg::LSTATUS;
using scan::TRegError;

constexpr int kBackupNameCandidates = 24;
constexpr const char* kMruList = "MRUList";

BackupClock& TestClock() {
  static BackupClock clock;
  return clock;
}

BackupTime Now() {
  if (TestClock()) return TestClock()();
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
          local.tm_min,         local.tm_sec,     static_cast<int>(millis)};
}

// "<undo>yyyy-mm-dd\hhnnsszzz".
std::string BackupBase(const std::string& undo_dir, const BackupTime& t) {
  char name[32];
  std::snprintf(name, sizeof name, "%04d-%02d-%02d\\%02d%02d%02d%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return undo_dir + name;
}

// Names given out by this process stay taken even when no file was written for them (a value
// created by a repair has an index line but no backup), so that no two lines share a name.
std::set<std::string>& IssuedNames() {
  static std::set<std::string> issued;
  return issued;
}

bool BackupNameTaken(const std::string& base) {
  std::set<std::string>& issued = IssuedNames();
  if (issued.contains(base)) return true;
  for (std::string_view extension : {kBackupBothViews, kBackup32, kBackup64}) {
    if (FileExistsAt(base + std::string(extension))) return true;
  }
  issued.insert(base);
  return false;
}

// The name of the next millisecond on the clock: waits (briefly, without sleeping: the next
// tick is at most a millisecond away) until the clock shows another name than `taken`. A clock
// that does not move within a few milliseconds (a test's) gives its name again.
std::string NextBackupBase(const std::string& undo_dir, const std::string& taken) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
  std::string base = BackupBase(undo_dir, Now());
  while (base == taken && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::yield();
    base = BackupBase(undo_dir, Now());
  }
  return base;
}

std::optional<std::string> ChooseBackupBase(const std::string& undo_dir) {
  std::string base = BackupBase(undo_dir, Now());
  for (int candidate = 1;; ++candidate) {
    if (!BackupNameTaken(base)) return base;
    if (candidate == kBackupNameCandidates) return std::nullopt;
    base = NextBackupBase(undo_dir, base);
  }
}

std::string_view BackupExtension(const TRegError& error) {
  if (reg::KeyReflectionEnabled(error.RootKey(), error.View() == 1, error.KeyPath())) {
    return kBackupBothViews;
  }
  return error.View() == 1 ? kBackup64 : kBackup32;
}

std::string StepText(std::string_view step, LSTATUS code) {
  return std::string(step) + ": " + WinErrorMessage(static_cast<uint32_t>(code));
}

// An open key, closed when it goes out of scope.
class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() { Close(); }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY* out() { return &handle_; }
  HKEY get() const { return handle_; }
  void Close() {
    if (handle_ != 0) reg::RegCloseKey(handle_);
    handle_ = 0;
  }

 private:
  HKEY handle_ = 0;
};

// The key path with each name as the hive stores it. A finding may spell a name in another
// letter case than the hive; a backup written with the stored names brings the key back exactly
// as it was. A name that cannot be matched is kept as given.
std::string StoredKeyPath(HKEY root, bool view64, const std::string& path) {
  reg::HostRegistry* registry = reg::ProcessRegistry();
  std::string stored;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(start, end - start);
    const std::string prefix = stored + (stored.empty() ? "" : "\\") + name;
    HKEY key = 0;
    if (registry != nullptr && reg::KeyOpenRead(&key, root, view64, prefix)) {
      std::u16string own;
      if (registry->QueryKeyName(key, &own) == kErrorSuccess) {
        const std::string own_ansi = reg::Utf16ToAnsi(own);
        if (reg::UpcasedName(own_ansi) == reg::UpcasedName(name)) name = own_ansi;
      }
      reg::RegCloseKey(key);
    }
    stored += (stored.empty() ? "" : "\\") + name;
    start = end + 1;
  }
  return stored;
}

// The strings of REG_MULTI_SZ data, empty ones in the middle included, so that removing one
// string keeps every other; the list's closing empty string is not included.
std::vector<std::string> MultiSzStrings(const char* data, size_t size) {
  std::vector<std::string> strings;
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != '\0') continue;
    strings.emplace_back(data + start, i - start);
    start = i + 1;
  }
  if (start < size) strings.emplace_back(data + start, size - start);  // stored unterminated
  while (!strings.empty() && strings.back().empty()) strings.pop_back();
  return strings;
}

// One repair: the finding, its backup file (once chosen) and the caller's error text.
class Repair {
 public:
  Repair(const TRegError& error, std::string undo_dir, std::string* error_text)
      : error_(error),
        root_(error.RootKey()),
        view64_(error.View() == 1),
        path_(error.KeyPath()),
        undo_dir_(std::move(undo_dir)),
        text_(error_text) {}

  bool Run() {
    switch (error_.Action()) {
      case scan::raDeleteKey: return DeleteKey();
      case scan::raDeleteValue: return DeleteValue(/*with_backup=*/true);
      case scan::raDeleteValueAndEmptyKey: return DeleteValueAndEmptyKey();
      case scan::raRemoveListItem: return RemoveListItem();
      case scan::raClearValue: return ClearValue();
      case scan::raRebuildMRUList: return RebuildMruList();
      case scan::raDeleteMRUEntry: return DeleteMruEntry();
      case scan::raRecycleFile: return RecycleFile();
      default: return false;  // not repairable: no text
    }
  }

 private:
  bool KeyGone() const { return !reg::KeyExists(root_, view64_, path_); }

  // Chooses the backup's name; false (with a text) when every candidate is taken.
  bool ChooseBackup() {
    std::optional<std::string> base = ChooseBackupBase(undo_dir_);
    if (!base) {
      *text_ = "RepairError: no free backup name in " + undo_dir_;
      return false;
    }
    backup_ = *base + std::string(BackupExtension(error_));
    return true;
  }

  void DropBackup() { (void)DeleteFileAt(backup_); }

  const std::string& BackupKeyPath() {
    if (backup_key_path_.empty()) backup_key_path_ = StoredKeyPath(root_, view64_, path_);
    return backup_key_path_;
  }

  // Records a change whose backup was written. When the index cannot take the line, the change
  // is taken back from its own backup: a change the undo store does not list could never be
  // undone.
  bool Record() {
    const Status recorded = AppendUndoIndex(backup_, error_);
    if (recorded.ok()) return true;
    *text_ = "AppendUndoIndex: " + WinErrorMessage(recorded.code());
    if (FileExistsAt(backup_)) (void)ImportBackupFile(backup_);
    return false;
  }

  bool DeleteKey() {
    if (KeyGone()) return true;
    if (!ChooseBackup()) return false;
    if (!reg::RegExportKey(text_, root_, view64_, backup_, BackupKeyPath())) return false;
    if (!reg::DeleteRegKeyTree(text_, root_, view64_, path_)) {
      DropBackup();
      return false;
    }
    return Record();
  }

  bool DeleteValue(bool with_backup) {
    if (KeyGone()) return true;
    OpenKey key;
    if (!reg::KeyOpenWriteMsg(text_, key.out(), root_, view64_, path_)) return false;
    const std::string& name = error_.ValueName();
    if (!reg::RegValueExists(key.get(), name)) return true;
    if (with_backup) {
      if (!ChooseBackup()) return false;
      if (!reg::RegExportOneValue(text_, root_, key.get(), name, backup_, BackupKeyPath())) return false;
    }
    const LSTATUS deleted = reg::RegDeleteValueA(key.get(), name.c_str());
    if (deleted != kErrorSuccess) {
      *text_ = StepText("RegDeleteValue", deleted);
      if (with_backup) DropBackup();
      return false;
    }
    return with_backup ? Record() : true;
  }

  bool DeleteValueAndEmptyKey() {
    if (!DeleteValue(/*with_backup=*/true)) return false;
    // The value's backup is enough to bring the key back: importing it recreates the key.
    OpenKey key;
    reg::KeyInfo info;
    if (reg::KeyOpenRead(key.out(), root_, view64_, path_) &&
        reg::RegQueryInfoKeyA(key.get(), &info) == kErrorSuccess && info.subkeys == 0 &&
        info.values == 0) {
      key.Close();
      reg::DeleteRegKey(root_, view64_, path_);
    }
    return true;
  }

  bool RemoveListItem() {
    if (KeyGone()) return true;
    OpenKey key;
    if (!reg::KeyOpenWriteMsg(text_, key.out(), root_, view64_, path_)) return false;
    const std::string& name = error_.ValueName();
    std::string data(reg::kExportBufferSize, '\0');
    uint32_t type = 0;
    uint32_t size = reg::kExportBufferSize;
    if (reg::RegQueryValueExA(key.get(), name.c_str(), &type,
                              reinterpret_cast<uint8_t*>(data.data()), &size) != kErrorSuccess ||
        !reg::IsTextType(type)) {
      return true;  // nothing this repair can change
    }
    if (!ChooseBackup()) return false;
    if (!reg::RegExportOneValue(text_, root_, key.get(), name, backup_, BackupKeyPath())) return false;

    std::vector<std::string> items;
    if (type == reg::REG_MULTI_SZ) {
      items = MultiSzStrings(data.data(), size);
    } else {
      reg::SplitOutsideQuotes(data.data(), size, &items);
    }
    std::erase(items, error_.Data());
    std::string joined;
    for (const std::string& item : items) {
      if (type == reg::REG_MULTI_SZ) {
        joined += item;
        joined += '\0';
      } else {
        if (!joined.empty() || &item != &items.front()) joined += ';';
        joined += item;
      }
    }
    joined += '\0';
    const LSTATUS written =
        reg::RegSetValueExA(key.get(), name.c_str(), type,
                            reinterpret_cast<const uint8_t*>(joined.data()),
                            static_cast<uint32_t>(joined.size()));
    key.Close();
    if (written != kErrorSuccess) {
      *text_ = StepText("RegSetValueEx", written);
      DropBackup();
      return false;
    }
    return Record();
  }

  bool ClearValue() {
    if (KeyGone()) return true;
    OpenKey key;
    if (!reg::KeyOpenWriteMsg(text_, key.out(), root_, view64_, path_)) return false;
    const std::string& name = error_.ValueName();
    if (!ChooseBackup()) return false;
    const bool existed = reg::RegValueExists(key.get(), name);
    if (existed && !reg::RegExportOneValue(text_, root_, key.get(), name, backup_, BackupKeyPath())) {
      return false;
    }
    static constexpr uint8_t kEmpty[1] = {0};
    const LSTATUS written = reg::RegSetValueExA(key.get(), name.c_str(), reg::REG_SZ, kEmpty, 1);
    if (written != kErrorSuccess) {
      *text_ = StepText("RegSetValueEx", written);
      if (existed) DropBackup();
      return false;
    }
    return Record();
  }

  bool RebuildMruList() {
    if (KeyGone()) return true;
    if (!ChooseBackup()) return false;
    return DoRebuildMRUList(error_, backup_, text_);
  }

  bool DeleteMruEntry() {
    if (KeyGone()) return true;
    OpenKey key;
    if (!reg::KeyOpenWriteMsg(text_, key.out(), root_, view64_, path_)) return false;
    const std::string& name = error_.ValueName();
    if (!reg::RegValueExists(key.get(), name) || !reg::RegValueExists(key.get(), kMruList)) {
      return true;
    }
    if (!ChooseBackup()) return false;
    const bool saved =
        reg::RegExportValue(text_, root_, key.get(), {name, kMruList}, backup_,
                            BackupKeyPath());
    key.Close();
    if (!saved) return false;
    if (!DeleteValue(/*with_backup=*/false) || !DoRebuildMRUList(error_, "", text_)) {
      DropBackup();
      return false;
    }
    return Record();
  }

  bool RecycleFile() {
    if (!reg::FileExists(path_)) return true;
    const int code = reg::ShellDeleteCode(path_, /*allow_undo=*/true);
    if (code == 0) return true;
    *text_ = "SHRecycleFile: " + std::to_string(code);
    return false;
  }

  const TRegError& error_;
  const HKEY root_;
  const bool view64_;
  const std::string& path_;
  const std::string undo_dir_;
  std::string* const text_;
  std::string backup_;
  std::string backup_key_path_;
};

// The MRU list with every letter dropped that names no value of the open key.
std::string CheckedMruList(const reg::TRegistryAccess& access, const std::string& list) {
  std::string kept;
  for (char letter : list) {
    if (access.ValueExists(std::string(1, letter))) kept += letter;
  }
  return kept;
}

}  // namespace

void SetBackupClockForTesting(BackupClock clock) {
  TestClock() = std::move(clock);
  IssuedNames().clear();  // a test's clock starts a history of its own
}

Status AppendUndoIndex(const std::string& backup_file, const TRegError& error) {
  const size_t slash = backup_file.find_last_of('\\');
  const std::string folder = backup_file.substr(0, slash + 1);
  std::string name = backup_file.substr(slash + 1);
  name = name.substr(0, name.find_last_of('.'));
  return AppendLineAt(folder + std::string(kUndoIndexFileName),
                      name + "=" + reg::RootKeyToName(error.RootKey()) + "\\" + error.KeyPath());
}

bool DoRebuildMRUList(const TRegError& error, const std::string& backup_file,
                      std::string* error_text) {
  const bool view64 = error.View() == 1;
  if (!reg::KeyExists(error.RootKey(), view64, error.KeyPath())) return true;
  reg::TRegistryAccess access;
  access.SetRootKey(error.RootKey());
  access.SetView64(view64);
  {
    HKEY probe = 0;
    if (!reg::KeyOpenWriteMsg(error_text, &probe, error.RootKey(), view64, error.KeyPath())) {
      return false;
    }
    reg::RegCloseKey(probe);
  }
  if (!access.OpenKey(error.KeyPath(), false) || !access.ValueExists(kMruList) ||
      access.GetDataType(kMruList) != reg::rdString) {
    return true;  // no list to rebuild
  }
  Result<std::string> list = access.ReadString(kMruList);
  if (!list.ok()) {
    *error_text = "DoRebuildMRUList: " + WinErrorMessage(list.status().code());
    return false;
  }
  const std::string kept = CheckedMruList(access, *list);
  const bool with_backup = !backup_file.empty();
  if (with_backup &&
      !reg::RegExportOneValue(error_text, error.RootKey(), access.CurrentKey(), kMruList,
                              backup_file, StoredKeyPath(error.RootKey(), view64, error.KeyPath()))) {
    return false;
  }
  const Status written = access.WriteString(kMruList, kept);
  if (!written.ok()) {
    if (with_backup) (void)DeleteFileAt(backup_file);
    *error_text = "DoRebuildMRUList: " + WinErrorMessage(written.code());
    return false;
  }
  if (!with_backup) return true;
  const Status recorded = AppendUndoIndex(backup_file, error);
  if (recorded.ok()) return true;
  *error_text = "AppendUndoIndex: " + WinErrorMessage(recorded.code());
  (void)ImportBackupFile(backup_file);
  return false;
}

bool RepairError(scan::TRegScanner& scanner, const TRegError& error, std::string* error_text) {
  error_text->clear();
  bool repaired = false;
  if (error.Ignored()) {
    repaired = true;
  } else {
    try {
      repaired = Repair(error, scanner.BackupFolder(), error_text).Run();
    } catch (const std::exception& e) {
      *error_text = e.what();
      repaired = false;
    }
  }
  if (repaired) {
    error_text->clear();
    scanner.FindingRepaired(error.Category());
  }
  return repaired;
}

}  // namespace hm::repair
