#include "scanner/error_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace hm::scan {
namespace {

TRegErrorInfo Info(TErrorCategory category, std::string key, std::string value = "",
                   std::string data = "") {
  TRegErrorInfo info;
  info.RootKey = reg::HKEY_LOCAL_MACHINE;
  info.Category = category;
  info.KeyPath = std::move(key);
  info.ValueName = std::move(value);
  info.Data = std::move(data);
  return info;
}

// Records what a link is told.
struct Recorder {
  struct Event {
    TRegError* finding;
    TListNotification action;
  };
  std::vector<Event> events;
  TRegScannerChangeLink link;
  Recorder() {
    link.OnChange = [this](TRegScanner*, TRegError* finding, TListNotification action) {
      events.push_back({finding, action});
    };
  }
};

// The counts of a list as the invariants require them.
void ExpectConsistent(const TErrorList& list) {
  int total = 0;
  for (int c = 0; c < kCategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    int checked = 0;
    for (int i = 0; i < list.CategoryCount(category); ++i) {
      const TRegError* finding = list.CategoryItem(category, i);
      EXPECT_EQ(finding->Category(), category);
      EXPECT_EQ(finding->Owner(), &list);
      checked += finding->Checked() ? 1 : 0;
    }
    EXPECT_EQ(list.SelectedCount(category), checked) << CategoryName(category);
    total += list.CategoryCount(category);
  }
  EXPECT_EQ(total, list.Count());
}

TEST(ErrorListTest, CountsFollowAddCheckExtractDeleteAndClear) {
  TErrorList list;
  Recorder recorder;
  list.RegisterLink(&recorder.link, nullptr);

  TRegError* a =
      list.Add(std::make_unique<TRegError>(Info(ecCLSIDs, "Software\\Classes\\CLSID\\A")));
  TRegError* b =
      list.Add(std::make_unique<TRegError>(Info(ecCLSIDs, "Software\\Classes\\CLSID\\B")));
  TRegError* c = list.Add(std::make_unique<TRegError>(Info(ecStartup, "Run")));
  EXPECT_EQ(list.SelectedCount(ecCLSIDs), 2);
  ExpectConsistent(list);

  b->SetChecked(false);
  b->SetChecked(false);  // no change, no count
  EXPECT_EQ(list.SelectedCount(ecCLSIDs), 1);
  a->SetChecked(true);
  EXPECT_EQ(list.SelectedCount(ecCLSIDs), 1);
  ExpectConsistent(list);

  std::unique_ptr<TRegError> extracted = list.Extract(a);
  ASSERT_NE(extracted, nullptr);
  EXPECT_EQ(extracted->Owner(), nullptr);
  EXPECT_EQ(list.SelectedCount(ecCLSIDs), 0);
  EXPECT_EQ(list.Extract(a), nullptr);  // no longer in the list
  ExpectConsistent(list);

  // Destroying a finding that is in the list takes it out first, as an extraction.
  list.Extract(c);  // extracted and freed by the caller: the list is not involved any more
  TRegError* d = list.Add(std::make_unique<TRegError>(Info(ecStartup, "Run", "X")));
  recorder.events.clear();
  delete d;  // NOLINT: a finding may be freed directly
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events[0].action, lnExtracted);
  EXPECT_EQ(list.CategoryCount(ecStartup), 0);
  EXPECT_EQ(list.SelectedCount(ecStartup), 0);
  ExpectConsistent(list);

  // Observers see a deleted finding before it is freed.
  recorder.link.OnChange = [&](TRegScanner*, TRegError* finding, TListNotification action) {
    recorder.events.push_back({finding, action});
    if (finding != nullptr) {
      EXPECT_EQ(finding->KeyPath(), "Software\\Classes\\CLSID\\B");
    }
  };
  recorder.events.clear();
  list.Delete(b);
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events[0].action, lnDeleted);
  ExpectConsistent(list);
}

TEST(ErrorListTest, ClearNotifiesOnceWithNoFinding) {
  TErrorList list;
  Recorder recorder;
  list.RegisterLink(&recorder.link, nullptr);
  for (int i = 0; i < 5; ++i) {
    list.Add(std::make_unique<TRegError>(
        Info(static_cast<TErrorCategory>(i % 3), "K" + std::to_string(i))));
  }
  recorder.events.clear();
  list.Clear();
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events[0].finding, nullptr);
  EXPECT_EQ(recorder.events[0].action, lnDeleted);
  EXPECT_EQ(list.Count(), 0);
  ExpectConsistent(list);
}

TEST(ErrorListTest, LinksMoveBetweenListsAndLeaveWhenDestroyed) {
  auto scanner = reinterpret_cast<TRegScanner*>(0x1);  // only compared, never used
  TErrorList first, second;
  auto recorder = std::make_unique<Recorder>();
  first.RegisterLink(&recorder->link, scanner);
  EXPECT_EQ(recorder->link.Scanner(), scanner);
  second.RegisterLink(&recorder->link, scanner);  // moves
  first.Add(std::make_unique<TRegError>(Info(ecTypeLib, "A")));
  EXPECT_TRUE(recorder->events.empty());
  second.UnregisterLink(&recorder->link, nullptr);  // not this scanner: stays
  EXPECT_EQ(recorder->link.Scanner(), scanner);
  recorder.reset();                                               // unregisters itself
  second.Add(std::make_unique<TRegError>(Info(ecTypeLib, "B")));  // must not reach it

  Recorder survivor;
  {
    TErrorList short_lived;
    short_lived.RegisterLink(&survivor.link, scanner);
  }
  EXPECT_EQ(survivor.link.Scanner(), nullptr);
}

TEST(ErrorListTest, DuplicatesAreSoughtOnlyInTheLastRunOfTheCategory) {
  TErrorList list;
  list.Add(std::make_unique<TRegError>(Info(ecCLSIDs, "K", "V", "D")));
  list.Add(std::make_unique<TRegError>(Info(ecCLSIDs, "Other")));
  EXPECT_TRUE(list.IsDuplicate(Info(ecCLSIDs, "K", "V", "D")));
  EXPECT_FALSE(list.IsDuplicate(Info(ecCLSIDs, "K", "V", "d")));  // compared exactly
  EXPECT_FALSE(list.IsDuplicate(Info(ecCLSIDs, "k", "V", "D")));
  TRegErrorInfo other_view = Info(ecCLSIDs, "K", "V", "D");
  other_view.View = 1;
  other_view.Kind = 7;
  EXPECT_TRUE(list.IsDuplicate(other_view));  // view and kind take no part
  TRegError* other = list.Add(std::make_unique<TRegError>(Info(ecTypeLib, "T")));
  EXPECT_FALSE(list.IsDuplicate(Info(ecCLSIDs, "K", "V", "D")));  // behind another category
  // Removals change the run at the end: the earlier run is seen again, a removed one is gone.
  list.Delete(other);
  EXPECT_TRUE(list.IsDuplicate(Info(ecCLSIDs, "K", "V", "D")));
  list.Delete(list.Item(0));
  EXPECT_FALSE(list.IsDuplicate(Info(ecCLSIDs, "K", "V", "D")));
  EXPECT_TRUE(list.IsDuplicate(Info(ecCLSIDs, "Other")));
}

TEST(IssueTypesTest, DescriptionsOfEveryKind) {
  struct Case {
    uint8_t kind;
    const char* value;
    const char* data;
    const char* expected;
  };
  const Case kCases[] = {
      {0, "Path", "REG_SZ", "Value \"Path\" is expected to be of type REG_SZ."},
      {1, "", "x", "Value \"(Default)\" points to missing character set: x"},
      {1, "A", "", "Value \"A\" is empty and can be deleted"},
      {2, "A", "", "Value \"A\" points to missing code page: "},
      {3, "", "app.exe",
       "Subkey \"Leaf\" points to an application which could not be found: "
       "app.exe"},
      {4, "N", "app.exe", "Value \"N\" points to an application which could not be found: app.exe"},
      {5, "", "Prog.1", "Subkey \"Leaf\" points to missing program ID: Prog.1"},
      {6, "", "", "Start menu item \"Leaf\" is obsolete"},
      {7, "c:\\x.dll", "", "Shared file could not be found: c:\\x.dll"},
      {8, "a.hlp", "c:\\help", "Help file \"a.hlp\" could not be found in folder c:\\help"},
      {8, "a.hlp", "", "Value \"a.hlp\" is empty and can be deleted"},
      {9, "", "b.dll",
       "Value \"(Default)\" points to file with bitmap which could not be found: "
       "b.dll"},
      {10, "", "", "Value \"(Default)\" is empty and can be deleted"},
      {10, "I", "i.ico", "Value \"I\" points to file with icon which could not be found: i.ico"},
      {11, "S", "r.dll",
       "Value \"S\" points to file with resource which could not be found: "
       "r.dll"},
      {12, "", "", "Value \"(Default)\" is empty and can be deleted"},
      {12, "", "{X}", "Value \"(Default)\" points to missing CLSID: {X}"},
      {13, "AppID", "{A}", "Value \"AppID\" points to missing application ID: {A}"},
      {14, "", "P.1", "Value \"(Default)\" points to missing program ID: P.1"},
      {15, "", ".xyz", "Value \"(Default)\" points to missing file extension: .xyz"},
      {16, "H", "c:\\h", "Value \"H\" points to missing folder: c:\\h"},
      {17, "", "", "Subkey \"Leaf\" is empty and can be deleted"},
      {18, "", "{I}", "Value \"(Default)\" points to missing interface: {I}"},
      {19, "", "{T}", "Value \"(Default)\" points to missing type library: {T}"},
      {20, "LocalService", "svc", "Value \"LocalService\" points to missing service: svc"},
      {21, "", "x /y", "Value \"(Default)\" contains invalid shell command: x /y"},
      {21, "", "", "Value \"(Default)\" is empty and can be deleted"},
      {22, "P", "c:\\p", "Value \"P\" contains a path which could not be found: c:\\p"},
      {23, "P", "c:\\p", "Value \"P\" contains a path which could not be found: c:\\p"},
      {24, "P", "", "Value \"P\" is empty and can be deleted"},
      {25, "MRUList", "cb", "MRU list point to one or more missing element: cb"},
      {26, "Arial", "arial.ttf", "Value \"Arial\" points to missing  font file: arial.ttf"},
      {27, "", "", "Obsolete add/remove entry: Leaf"},
      {28, "X", "Y", ""},
      {29, "", "c:\\gone.exe",
       "Shortcut \"App.lnk\" contains a path which could not be found: "
       "c:\\gone.exe"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(IssueDescription(c.kind, "Software\\Parent\\Leaf", c.value, c.data, "App.lnk"),
              c.expected)
        << "kind " << int{c.kind};
  }
  for (int kind = 0; kind < kIssueKindCount; ++kind) {
    EXPECT_FALSE(IssueTitle(static_cast<uint8_t>(kind)).empty());
  }
  EXPECT_TRUE(IssueTitle(30).empty());
}

TEST(IssueTypesTest, EveryCategoryHasExactlyOneGroup) {
  uint32_t seen = 0;
  for (int group = 0; group < kGroupCount; ++group) {
    const uint32_t members = GroupMembers(group).bits();
    EXPECT_EQ(seen & members, 0u) << GroupHeading(group);
    seen |= members;
  }
  EXPECT_EQ(seen, TErrorCategories::All().bits());
  EXPECT_EQ(GroupHeading(4), "Driver Related Issues Group");
  EXPECT_EQ(CategoryName(ecCLSIDs), "Deep Scan");
}

TEST(IssueTypesTest, KeyAndValueTexts) {
  TRegErrorInfo info = Info(ecStartup, "Software\\Run", "");
  TRegError key_finding(info);
  EXPECT_EQ(key_finding.KeyText(), "HKLM\\Software\\Run");
  EXPECT_EQ(key_finding.ValueText(), "(Default)");
  info.RootKey = 0;
  info.KeyPath = "C:\\Users\\demo\\x.lnk";
  TRegError file_finding(info);
  EXPECT_EQ(file_finding.KeyText(), "C:\\Users\\demo\\x.lnk");
}

}  // namespace
}  // namespace hm::scan
