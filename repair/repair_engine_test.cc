#include "repair/repair_engine.h"

#include <functional>

#include "platform/text_lines.h"
#include "registry/regedit.h"
#include "repair/repair_test_support.h"
#include "repair/store_files.h"
#include "repair/undo_store.h"

namespace hm::repair {
namespace {

using reg::HKEY_CURRENT_USER;
using reg::HKEY_LOCAL_MACHINE;
using testing::Dump;
using testing::kUndoDir;
using testing::ReadValue;
using testing::RepairTest;

constexpr char kValues[] = "Software\\Test\\Values";
constexpr char kMru[] = "Software\\Test\\Mru";

// What a repair left in the undo store: its index lines and, per line, the backup's extension
// ("" when the line has no file).
struct StoreState {
  std::vector<std::string> lines;
  std::vector<std::string> extensions;
};

StoreState ReadStore() {
  StoreState state;
  TUndoStore store(kUndoDir);
  for (const std::string& snapshot : store.ListSnapshots()) {
    const std::string folder = std::string(kUndoDir) + snapshot + "\\";
    Result<std::string> index = ReadFileAt(folder + "index.txt");
    if (!index.ok()) continue;
    for (const std::string& line : SplitLines(*index)) {
      state.lines.push_back(line);
      const std::string base = folder + line.substr(0, line.find('='));
      std::string found;
      for (std::string_view ext : {kBackupBothViews, kBackup32, kBackup64}) {
        if (FileExistsAt(base + std::string(ext))) found = ext;
      }
      state.extensions.push_back(found);
    }
  }
  return state;
}

struct ActionCase {
  std::string label;
  reg::HKEY root;
  std::string key;
  std::string value;
  uint8_t action;
  std::string data;
  bool repaired;
  // The backup's extension, "" for an index line without file, "-" for no index line at all.
  std::string backup;
  std::function<void()> check_after;
};

std::string Text(const std::string& path, const std::string& name) {
  auto value = ReadValue(HKEY_CURRENT_USER, path, name);
  return value ? value->data : "<missing>";
}

const std::vector<ActionCase>& ActionCases() {
  static const std::vector<ActionCase> cases = {
      {"DeleteValue", HKEY_CURRENT_USER, kValues, "Gone", scan::raDeleteValue, "", true, ".REG",
       [] { EXPECT_EQ(Text(kValues, "Gone"), "<missing>"); }},
      {"DeleteValueNative", HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Native", "Path",
       scan::raDeleteValue, "", true, ".REG64",
       [] { EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test\\Native", "Path")); }},
      {"DeleteKey", HKEY_CURRENT_USER, "Software\\Test\\Tree", "", scan::raDeleteKey, "", true,
       ".REG", [] { EXPECT_FALSE(reg::KeyExists(HKEY_CURRENT_USER, true, "Software\\Test\\Tree")); }},
      // A finding may spell the key otherwise than the hive; the key comes back as it was named.
      {"DeleteKeySpelledOtherwise", HKEY_CURRENT_USER, "software\\TEST\\tree\\SUB", "",
       scan::raDeleteKey, "", true, ".REG",
       [] { EXPECT_FALSE(reg::KeyExists(HKEY_CURRENT_USER, true, "Software\\Test\\Tree\\Sub")); }},
      {"DeleteValueAndEmptyKey", HKEY_CURRENT_USER, "Software\\Test\\Lonely", "only",
       scan::raDeleteValueAndEmptyKey, "", true, ".REG",
       [] { EXPECT_FALSE(reg::KeyExists(HKEY_CURRENT_USER, true, "Software\\Test\\Lonely")); }},
      {"RemoveListItemText", HKEY_CURRENT_USER, kValues, "Text", scan::raRemoveListItem, "a",
       true, ".REG", [] { EXPECT_EQ(Text(kValues, "Text"), std::string("b\0", 2)); }},
      {"RemoveListItemMulti", HKEY_CURRENT_USER, kValues, "Multi", scan::raRemoveListItem, "a",
       true, ".REG", [] { EXPECT_EQ(Text(kValues, "Multi"), std::string("b\0\0", 3)); }},
      {"RemoveListItemDword", HKEY_CURRENT_USER, kValues, "Number", scan::raRemoveListItem, "5",
       true, "-", [] { EXPECT_EQ(Text(kValues, "Number"), std::string("\5\0\0\0", 4)); }},
      {"ClearValue", HKEY_CURRENT_USER, kValues, "Quote\"d", scan::raClearValue, "", true,
       ".REG", [] { EXPECT_EQ(Text(kValues, "Quote\"d"), std::string("\0", 1)); }},
      {"ClearMissingValue", HKEY_CURRENT_USER, kValues, "New", scan::raClearValue, "", true, "",
       [] {
         auto value = ReadValue(HKEY_CURRENT_USER, kValues, "New");
         ASSERT_TRUE(value);
         EXPECT_EQ(value->type, reg::REG_SZ);
         EXPECT_EQ(value->data, std::string("\0", 1));
       }},
      {"RebuildMRUList", HKEY_CURRENT_USER, kMru, "MRUList", scan::raRebuildMRUList, "", true,
       ".REG", [] { EXPECT_EQ(Text(kMru, "MRUList"), std::string("ab\0", 3)); }},
      {"DeleteMRUEntry", HKEY_CURRENT_USER, kMru, "a", scan::raDeleteMRUEntry, "", true, ".REG",
       [] {
         EXPECT_EQ(Text(kMru, "a"), "<missing>");
         EXPECT_EQ(Text(kMru, "MRUList"), std::string("b\0", 2));
       }},
      {"KeyAlreadyGone", HKEY_CURRENT_USER, "Software\\Test\\NoSuchKey", "x", scan::raDeleteValue,
       "", true, "-", [] {}},
      {"RecycleMissingFile", 0, "C:\\Users\\ann\\Desktop\\gone.lnk", "", scan::raRecycleFile, "",
       true, "-", [] {}},
      {"NotRepairable", HKEY_CURRENT_USER, kValues, "Gone", 6, "", false, "-",
       [] { EXPECT_NE(Text(kValues, "Gone"), "<missing>"); }},
  };
  return cases;
}

class RepairActionTest : public RepairTest, public ::testing::WithParamInterface<ActionCase> {};

// Each action changes what it should, leaves its backup as its extension says, and restoring the
// day's snapshot brings every key and value back byte for byte.
TEST_P(RepairActionTest, RepairsAndRestores) {
  const ActionCase& c = GetParam();
  const std::vector<std::string> before_user = Dump(HKEY_CURRENT_USER, "Software\\Test");
  const std::vector<std::string> before_machine = Dump(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test");
  scanner_.SetHealthStatusText("0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;"
                               "0,0;0,0;0,0;0,0;0,0;0,0;0,0;0,0;10,2;");
  auto finding = Finding(c.root, c.key, c.value, c.action, c.data);
  std::string text = "stale";
  EXPECT_EQ(RepairError(scanner_, *finding, &text), c.repaired);
  if (c.repaired) EXPECT_EQ(text, "");
  if (c.action == 6) EXPECT_EQ(text, "");
  EXPECT_EQ(scanner_.Found(scan::ecHistoryLists), c.repaired ? 1 : 2);
  c.check_after();

  const StoreState store = ReadStore();
  if (c.backup == "-") {
    EXPECT_TRUE(store.lines.empty());
  } else {
    ASSERT_EQ(store.lines.size(), 1u);
    EXPECT_EQ(store.extensions[0], c.backup);
    const std::string root_name = reg::RootKeyToName(c.root);
    EXPECT_EQ(store.lines[0].substr(store.lines[0].find('=') + 1), root_name + "\\" + c.key);
  }

  TUndoStore undo(kUndoDir);
  for (const std::string& snapshot : undo.ListSnapshots()) {
    const RestoreOutcome outcome = undo.RestoreSnapshot(snapshot, nullptr);
    EXPECT_EQ(outcome.failed, 0);
  }
  if (c.label != "ClearMissingValue") {  // a created value has no backup to take it away
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, "Software\\Test"), before_user);
  }
  EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), before_machine);
  EXPECT_TRUE(undo.ListSnapshots().empty());
}

INSTANTIATE_TEST_SUITE_P(Actions, RepairActionTest, ::testing::ValuesIn(ActionCases()),
                         [](const auto& info) { return info.param.label; });

TEST_F(RepairTest, IgnoredFindingCountsAsRepairedAndWritesNothing) {
  scanner_.SetHealthStatusText("5,3;");
  auto finding = Finding(HKEY_CURRENT_USER, kValues, "Gone", scan::raDeleteValue, "",
                         scan::ecShellFolders);
  finding->SetIgnored(true);
  std::string text;
  EXPECT_TRUE(RepairError(scanner_, *finding, &text));
  EXPECT_EQ(scanner_.Found(scan::ecShellFolders), 2);
  EXPECT_NE(Text(kValues, "Gone"), "<missing>");
  EXPECT_FALSE(std::filesystem::exists(Host(kUndoDir)));
}

TEST_F(RepairTest, AKeyDeletedByAnEarlierRepairOfTheRunIsRepairedWithoutBackup) {
  std::string text;
  EXPECT_TRUE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, "Software\\Test\\Tree", "",
                                             scan::raDeleteKey),
                          &text));
  EXPECT_TRUE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, "Software\\Test\\Tree\\Sub", "v",
                                             scan::raDeleteValue),
                          &text));
  EXPECT_EQ(ReadStore().lines.size(), 1u);
}

// A fixed clock: every repair within one millisecond.
BackupTime Noon() { return {2026, 12, 11, 12, 0, 0, 0}; }

class FixedClock {
 public:
  explicit FixedClock(BackupClock clock) { SetBackupClockForTesting(std::move(clock)); }
  ~FixedClock() { SetBackupClockForTesting(nullptr); }
};

TEST_F(RepairTest, TakenBackupNamesAreNeverReplaced) {
  int tick = 0;
  FixedClock clock([&] {
    BackupTime t = Noon();
    t.millisecond = tick++ / 2;  // each name is offered twice before the clock moves on
    return t;
  });
  const std::string day = std::string(kUndoDir) + "2026-12-11\\";
  // Names taken by files of each extension.
  ASSERT_TRUE(WriteFileAt(day + "120000000.REG32", "keep").ok());
  ASSERT_TRUE(WriteFileAt(day + "120000001.REG64", "keep").ok());
  std::string text;
  ASSERT_TRUE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, kValues, "Gone",
                                             scan::raDeleteValue),
                          &text))
      << text;
  EXPECT_EQ(*ReadFileAt(day + "120000000.REG32"), "keep");
  EXPECT_EQ(*ReadFileAt(day + "120000001.REG64"), "keep");
  EXPECT_TRUE(FileExistsAt(day + "120000002.REG"));
  // The same millisecond again: the name given out above is not given out twice.
  ASSERT_TRUE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, kValues, "New",
                                             scan::raClearValue),
                          &text));
  ASSERT_TRUE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, kValues, "Text",
                                             scan::raClearValue),
                          &text));
  const StoreState store = ReadStore();
  ASSERT_EQ(store.lines.size(), 3u);
  EXPECT_NE(store.lines[1].substr(0, 9), store.lines[2].substr(0, 9));
}

TEST_F(RepairTest, WhenEveryNameIsTakenTheRepairFailsWithoutChange) {
  FixedClock clock(Noon);
  ASSERT_TRUE(WriteFileAt(std::string(kUndoDir) + "2026-12-11\\120000000.REG", "keep").ok());
  std::string text;
  EXPECT_FALSE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, kValues, "Gone",
                                              scan::raDeleteValue),
                           &text));
  EXPECT_NE(text, "");
  EXPECT_NE(Text(kValues, "Gone"), "<missing>");
}

TEST_F(RepairTest, ABackupThatCannotBeWrittenLeavesTheRegistryUnchanged) {
  // A file where the undo folder should be: no day folder can be created below it.
  ASSERT_TRUE(WriteFileAt("C:\\Users\\ann\\AppData\\Local\\Corvexa\\Undo", "in the way").ok());
  const std::vector<std::string> before = Dump(HKEY_CURRENT_USER, "Software\\Test");
  for (uint8_t action : {scan::raDeleteValue, scan::raDeleteKey, scan::raClearValue,
                         scan::raRemoveListItem, scan::raRebuildMRUList}) {
    const std::string key = action == scan::raRebuildMRUList ? kMru : kValues;
    std::string text;
    EXPECT_FALSE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, key, "Text", action, "a"),
                             &text))
        << int(action);
    EXPECT_EQ(text.rfind("CreateDirectory: ", 0), 0u) << text;
  }
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, "Software\\Test"), before);
}

// Without a registry editor no key can be saved, so no key is deleted; value repairs, which write
// their own backups, go on.
TEST_F(RepairTest, WithoutTheRegistryEditorKeysStay) {
  reg::ScopedRegEditFault no_editor(reg::RegEditFault::kCannotStart);
  std::string text = "stale";
  EXPECT_FALSE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, "Software\\Test\\Tree", "",
                                              scan::raDeleteKey),
                           &text));
  EXPECT_EQ(text, "");  // an editor that cannot start says nothing
  EXPECT_TRUE(reg::KeyExists(HKEY_CURRENT_USER, true, "Software\\Test\\Tree"));
  {
    reg::ScopedRegEditFault refusing(reg::RegEditFault::kExitCode, 3);
    EXPECT_FALSE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, "Software\\Test\\Tree", "",
                                                scan::raDeleteKey),
                             &text));
    EXPECT_EQ(text, "ExitCode: 3");
  }
  EXPECT_TRUE(ReadStore().lines.empty());
  EXPECT_TRUE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, kValues, "Gone",
                                             scan::raDeleteValue),
                          &text));
}

TEST_F(RepairTest, ARegistryChangeThatFailsLeavesNoBackup) {
  // The same installation, its registry refusing every change: a key's backup can be written,
  // its deletion cannot.
  auto installation = install::Installation::Open(installation_.root());
  ASSERT_TRUE(installation.ok());
  auto read_only = reg::HostRegistry::Open(std::move(installation).value(), {.read_only = true});
  ASSERT_TRUE(read_only.ok());
  reg::SetProcessRegistry(read_only->get());
  std::string text;
  EXPECT_FALSE(RepairError(scanner_, *Finding(HKEY_CURRENT_USER, "Software\\Test\\Tree", "",
                                              scan::raDeleteKey),
                           &text));
  EXPECT_EQ(text.rfind("RegKeyOpenEx: Access is denied.", 0), 0u) << text;
  EXPECT_TRUE(ReadStore().lines.empty());
  EXPECT_TRUE(TUndoStore(kUndoDir).ListSnapshots().empty());
  EXPECT_TRUE(reg::KeyExists(HKEY_CURRENT_USER, true, "Software\\Test\\Tree"));
  // No backup file either: the day folder holds nothing.
  const std::filesystem::path undo = Host(kUndoDir);
  if (std::filesystem::exists(undo)) {
    for (const auto& day : std::filesystem::directory_iterator(undo)) {
      EXPECT_TRUE(std::filesystem::is_empty(day.path())) << day.path();
    }
  }
  reg::SetProcessRegistry(&installation_.registry());
}

}  // namespace
}  // namespace hm::repair
