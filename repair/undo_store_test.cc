#include "repair/undo_store.h"

#include "repair/repair_test_support.h"
#include "repair/restore_page.h"
#include "repair/store_files.h"

namespace hm::repair {
namespace {

using reg::HKEY_CURRENT_USER;
using testing::kUndoDir;
using testing::ReadValue;
using testing::RepairTest;

constexpr char kValuesKey[] = "HKEY_CURRENT_USER\\Software\\Test\\Values";
constexpr char kMruKey[] = "HKEY_CURRENT_USER\\Software\\Test\\Mru";

std::string Backup(const std::string& key_text, const std::string& name, const std::string& data) {
  return "REGEDIT4\r\n\r\n[" + key_text + "]\r\n\"" + name + "\"=\"" + data + "\"";
}

class UndoStoreTest : public RepairTest {
 protected:
  // Writes a snapshot: each entry is (backup name, key text, backup content or "" for none).
  void Snapshot(const std::string& day,
                const std::vector<std::tuple<std::string, std::string, std::string>>& entries) {
    std::string index;
    for (const auto& [name, key, content] : entries) {
      index += name + "=" + key + "\r\n";
      if (!content.empty()) {
        ASSERT_TRUE(WriteFileAt(std::string(kUndoDir) + day + "\\" + name + ".REG", content).ok());
      }
    }
    ASSERT_TRUE(WriteFileAt(std::string(kUndoDir) + day + "\\index.txt", index).ok());
  }

  std::string Gone() {
    auto value = ReadValue(HKEY_CURRENT_USER, "Software\\Test\\Values", "Gone");
    return value ? value->data.substr(0, value->data.find('\0')) : "<missing>";
  }

  std::string Index(const std::string& day) {
    auto index = ReadFileAt(std::string(kUndoDir) + day + "\\index.txt");
    return index.ok() ? *index : "<missing>";
  }

  TUndoStore store_{kUndoDir};
};

TEST_F(UndoStoreTest, AKeyRepairedTwiceIsOneItemAndRestoresNewestFirst) {
  Snapshot("2026-12-10", {{"100000000", kValuesKey, Backup(kValuesKey, "Gone", "oldest")},
                          {"100000001", kValuesKey, Backup(kValuesKey, "Gone", "newer")}});
  EXPECT_EQ(store_.ListSnapshotItems("2026-12-10"), std::vector<std::string>{kValuesKey});
  const RestoreOutcome outcome = store_.RestoreSnapshot("2026-12-10", nullptr);
  EXPECT_EQ(outcome.restored, 2);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_EQ(Gone(), "oldest");  // the state before the first repair
  EXPECT_TRUE(store_.ListSnapshots().empty());
  EXPECT_FALSE(std::filesystem::exists(Host(std::string(kUndoDir) + "2026-12-10")));
}

TEST_F(UndoStoreTest, ItemsAreDistinctAndSortedWithoutRegardToCase) {
  Snapshot("2026-12-10", {{"1", kMruKey, ""},
                          {"2", "HKEY_CURRENT_USER\\SOFTWARE\\TEST\\MRU", ""},
                          {"3", "HKEY_CURRENT_USER\\Software\\a", ""}});
  EXPECT_EQ(store_.ListSnapshotItems("2026-12-10"),
            (std::vector<std::string>{"HKEY_CURRENT_USER\\Software\\a", kMruKey}));
}

TEST_F(UndoStoreTest, RestoringTheNewestSnapshotLeavesThePreviousDayNewest) {
  Snapshot("2026-12-09", {{"100000000", kValuesKey, Backup(kValuesKey, "Gone", "ninth")}});
  Snapshot("2026-12-10", {{"100000000", kValuesKey, Backup(kValuesKey, "Gone", "tenth")}});
  EXPECT_EQ(store_.ListSnapshots(), (std::vector<std::string>{"2026-12-09", "2026-12-10"}));
  store_.RestoreSnapshot("2026-12-10", nullptr);
  EXPECT_EQ(store_.ListSnapshots(), std::vector<std::string>{"2026-12-09"});
  EXPECT_EQ(Gone(), "tenth");
}

TEST_F(UndoStoreTest, LinesWithoutBackupAreDroppedAndFailedImportsKept) {
  Snapshot("2026-12-10", {{"100000000", kValuesKey, "this is no registry file"},
                          {"100000001", kMruKey, ""},
                          {"..\\escape", kValuesKey, ""}});
  // A backup outside the snapshot folder that a crafted line names must never be imported.
  ASSERT_TRUE(WriteFileAt(std::string(kUndoDir) + "escape.REG",
                          Backup(kValuesKey, "Gone", "crafted"))
                  .ok());
  const RestoreOutcome outcome = store_.RestoreSnapshot("2026-12-10", nullptr);
  EXPECT_EQ(outcome.failed, 1);
  EXPECT_EQ(outcome.restored, 2);
  EXPECT_EQ(Index("2026-12-10"), std::string("100000000=") + kValuesKey + "\r\n");
  EXPECT_TRUE(FileExistsAt(std::string(kUndoDir) + "2026-12-10\\100000000.REG"));
  EXPECT_EQ(Gone(), "C:\\missing.exe");
  EXPECT_EQ(RestoreCompletedText(outcome),
            "Restore completed. 1 entry could not be restored; it stays in the list for a later "
            "attempt.");
  EXPECT_EQ(RestoreCompletedText({3, 0}), "Restore completed.");
}

TEST_F(UndoStoreTest, OnlyTheChosenKeysAreRestored) {
  Snapshot("2026-12-10", {{"100000000", kValuesKey, Backup(kValuesKey, "Gone", "restored")},
                          {"100000001", kMruKey, Backup(kMruKey, "MRUList", "zzz")}});
  const std::vector<std::string> keys = {"hkey_current_user\\software\\test\\values"};
  EXPECT_EQ(store_.RestoreSnapshot("2026-12-10", &keys).restored, 1);
  EXPECT_EQ(Gone(), "restored");
  EXPECT_EQ(Index("2026-12-10"), std::string("100000001=") + kMruKey + "\r\n");
}

TEST_F(UndoStoreTest, SnapshotsOlderThanAWeekGoToTheRecycleBin) {
  Snapshot("2026-12-01", {{"1", kMruKey, ""}});
  Snapshot("2026-12-05", {{"1", kMruKey, ""}});
  const auto now = std::chrono::system_clock::now();
  const auto age = [&](const std::string& day, int days) {
    std::filesystem::last_write_time(
        Host(std::string(kUndoDir) + day + "\\index.txt"),
        std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * days));
  };
  age("2026-12-01", 8);
  age("2026-12-05", 6);
  EXPECT_EQ(store_.DeleteOldSnapshots(/*older_than_week=*/false, now), 0);
  EXPECT_EQ(store_.DeleteOldSnapshots(/*older_than_week=*/true, now), 1);
  EXPECT_EQ(store_.ListSnapshots(), std::vector<std::string>{"2026-12-05"});
  EXPECT_TRUE(std::filesystem::exists(Host("C:\\$Recycle.Bin\\" +
                                           std::string(reg::testing::kUserSid))));
}

TEST_F(UndoStoreTest, RestorePageKeepsUncheckedItemsSelectable) {
  Snapshot("2026-12-09", {{"100000000", kValuesKey, ""}});
  Snapshot("2026-12-10", {{"100000000", kValuesKey, Backup(kValuesKey, "Gone", "page")},
                          {"100000001", kMruKey, Backup(kMruKey, "MRUList", "zzz")}});
  TRestorePageModel page(store_, /*delete_after_week=*/false);
  page.Shown(std::chrono::system_clock::now());
  EXPECT_EQ(page.SelectedSnapshot(), 1);
  EXPECT_EQ(page.CountText(), "2 Items");
  EXPECT_EQ(page.AllState(), TCheckState::cbChecked);

  page.SetAllChecked(false);
  EXPECT_FALSE(page.RestoreChecked());  // nothing checked: nothing restored
  page.SetItemChecked(1, true);  // the items are sorted: Mru, then Values
  EXPECT_EQ(page.AllState(), TCheckState::cbGrayed);
  const std::optional<RestoreOutcome> outcome = page.RestoreChecked();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->restored, 1);
  EXPECT_EQ(Gone(), "page");
  // The snapshot still holds the unchecked item: it stays selected, nothing checked.
  EXPECT_EQ(page.SelectedSnapshot(), 1);
  ASSERT_EQ(page.Items().size(), 1u);
  EXPECT_EQ(page.Items()[0].key_text, kMruKey);
  EXPECT_FALSE(page.Items()[0].checked);
  EXPECT_EQ(page.AllState(), TCheckState::cbUnchecked);

  page.SetAllChecked(true);
  ASSERT_TRUE(page.RestoreChecked());
  EXPECT_EQ(page.Snapshots(), std::vector<std::string>{"2026-12-09"});
  EXPECT_EQ(page.SelectedSnapshot(), 0);
}

TEST_F(UndoStoreTest, AnEmptyStoreShowsNoItems) {
  TRestorePageModel page(store_, /*delete_after_week=*/true);
  page.Shown(std::chrono::system_clock::now());
  EXPECT_TRUE(page.Snapshots().empty());
  EXPECT_EQ(page.SelectedSnapshot(), -1);
  EXPECT_EQ(page.CountText(), "0 Items");
  EXPECT_FALSE(page.HasItems());
}

}  // namespace
}  // namespace hm::repair
