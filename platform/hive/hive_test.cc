#include "platform/hive/hive.h"

#include <gtest/gtest.h>

#include "platform/hive/format.h"
#include "tests/support/testing.h"

namespace hm::hive {
namespace {

using format::Get32;
using format::Put32;

// Compares everything the engine keeps of two trees; reports the first difference by path.
void ExpectSameTree(const Key& a, const Key& b) {
  SCOPED_TRACE(a.name_utf8().empty() ? std::string("<root>") : ToUtf8(a.path()));
  ASSERT_EQ(a.name(), b.name());
  EXPECT_EQ(a.last_write_time(), b.last_write_time());
  EXPECT_EQ(a.flags(), b.flags());
  EXPECT_EQ(a.class_name(), b.class_name());
  ASSERT_EQ(a.security() == nullptr, b.security() == nullptr);
  if (a.security()) {
    EXPECT_EQ(*a.security(), *b.security());
  }
  ASSERT_EQ(a.values().size(), b.values().size());
  for (size_t i = 0; i < a.values().size(); ++i) {
    EXPECT_EQ(a.values()[i].name, b.values()[i].name);
    EXPECT_EQ(a.values()[i].type, b.values()[i].type);
    EXPECT_EQ(a.values()[i].data, b.values()[i].data);
  }
  ASSERT_EQ(a.subkeys().size(), b.subkeys().size());
  for (size_t i = 0; i < a.subkeys().size(); ++i) ExpectSameTree(*a.subkeys()[i], *b.subkeys()[i]);
}

std::unique_ptr<Hive> Reparse(const Hive& hive, const OpenOptions& options = {}) {
  auto parsed = Hive::Parse(hive.Serialize(), options, "rewrite");
  EXPECT_TRUE(parsed.ok()) << parsed.status().ToString();
  return parsed.ok() ? std::move(parsed).value() : nullptr;
}

Key* MustCreate(Key& parent, std::u16string_view name) {
  auto made = parent.CreateSubkey(name);
  EXPECT_TRUE(made.ok()) << made.status().ToString();
  return made.ok() ? made.value() : nullptr;
}

// root -> A (three values), B -> C
std::unique_ptr<Hive> SmallHive(uint32_t minor = 5) {
  auto hive = Hive::CreateEmpty(minor);
  Key* a = MustCreate(hive->root(), u"A");
  EXPECT_TRUE(a->SetValue(u"", kRegSz, std::string("d\0e\0f\0\0\0", 8)).ok());
  EXPECT_TRUE(a->SetValue(u"Count", kRegDword, std::string("\x2a\0\0\0", 4)).ok());
  EXPECT_TRUE(a->SetValue(u"Blob", kRegBinary, std::string(300, 'x')).ok());
  MustCreate(*MustCreate(hive->root(), u"B"), u"C");
  return hive;
}

TEST(HiveTest, BuiltTreeSurvivesRewriteInEveryFormatVersion) {
  for (uint32_t minor : {3u, 4u, 5u}) {
    SCOPED_TRACE(minor);
    auto hive = SmallHive(minor);
    Key* names = MustCreate(hive->root(), u"Names");
    MustCreate(*names, u"Ünïcödé");                               // Latin-1: stored compressed
    MustCreate(*names, u"\u0395\u03bb\u03bb\u03ac\u03b4\u03b1");  // Greek: stored as UTF-16
    MustCreate(*names, u"\u65e5\u672c");
    ASSERT_TRUE(names->SetClassName(std::string("c\0l\0s\0", 6)).ok());
    std::string big(100 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(names->SetValue(u"Big", kRegBinary, big).ok());
    ASSERT_TRUE(names->SetValue(u"Odd", 0x12345, std::string("\x01\x02\x03\x04\x05", 5)).ok());
    ASSERT_TRUE(names->SetValue(u"Empty", kRegNone, "").ok());
    ASSERT_TRUE(names->SetValue(u"\u03a9", kRegQword, std::string(8, '\x7f')).ok());
    auto again = Reparse(*hive);
    ASSERT_NE(again, nullptr);
    ExpectSameTree(hive->root(), again->root());
    EXPECT_TRUE(again->damage().empty());
    EXPECT_EQ(again->header().minor_version, minor);
  }
}

TEST(HiveTest, LargeValuesUseBigDataRecordsFromVersion4On) {
  for (uint32_t minor : {3u, 5u}) {
    auto hive = Hive::CreateEmpty(minor);
    ASSERT_TRUE(hive->root().SetValue(u"Big", kRegBinary, std::string(100 * 1024, 'q')).ok());
    std::string image = hive->Serialize();
    bool has_db = image.find(std::string("db\x07\x00", 4)) != std::string::npos;
    EXPECT_EQ(has_db, minor >= 4) << "minor " << minor;
  }
}

TEST(HiveTest, LookupsIgnoreCaseTheWindowsWay) {
  auto hive = SmallHive();
  Key* names = MustCreate(hive->root(), u"\u00c4rger");  // Ärger
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(hive->Find(u"\u00e4RGER"), names);
  EXPECT_EQ(hive->Find(u"b\\c"), hive->Find(u"B\\C"));
  EXPECT_NE(hive->Find(u"B\\C"), nullptr);
  EXPECT_EQ(hive->Find(u"B\\D"), nullptr);
  EXPECT_NE(hive->Find(u"a")->FindValue(u"COUNT"), nullptr);
  bool created = true;
  auto same = hive->root().CreateSubkey(u"a", &created);
  ASSERT_TRUE(same.ok());
  EXPECT_FALSE(created);
  EXPECT_EQ(same.value(), hive->Find(u"A"));
}

TEST(HiveTest, ManySubkeysStayOrderedAndFindable) {
  auto hive = Hive::CreateEmpty();
  Key* parent = MustCreate(hive->root(), u"Many");
  for (int i = 2999; i >= 0; --i) MustCreate(*parent, FromUtf8("key" + std::to_string(i)));
  auto again = Reparse(*hive);
  ASSERT_NE(again, nullptr);
  Key* many = again->Find(u"many");
  ASSERT_NE(many, nullptr);
  ASSERT_EQ(many->subkeys().size(), 3000u);
  for (int i : {0, 499, 500, 1234, 2999}) {
    EXPECT_NE(many->FindSubkey(FromUtf8("KEY" + std::to_string(i))), nullptr) << i;
  }
  ExpectSameTree(hive->root(), again->root());
  ASSERT_TRUE(many->DeleteSubkey(u"KEY1234").ok());
  EXPECT_EQ(many->FindSubkey(u"key1234"), nullptr);
  EXPECT_NE(many->FindSubkey(u"key1235"), nullptr);
}

TEST(HiveTest, ChangesUpdateTheTreeAndLastWriteTime) {
  auto hive = SmallHive();
  Key* a = hive->Find(u"A");
  ASSERT_TRUE(a->SetLastWriteTime(1).ok());
  ASSERT_TRUE(a->SetValue(u"count", kRegDword, std::string("\x07\0\0\0", 4)).ok());
  EXPECT_GT(a->last_write_time(), 1u);
  EXPECT_EQ(a->values().size(), 3u);  // replaced, not added
  EXPECT_EQ(a->FindValue(u"Count")->data, std::string("\x07\0\0\0", 4));
  ASSERT_TRUE(a->DeleteValue(u"BLOB").ok());
  EXPECT_EQ(a->DeleteValue(u"Blob").code(), kErrorFileNotFound);
  ASSERT_TRUE(hive->root().DeleteSubkey(u"b").ok());
  EXPECT_EQ(hive->Find(u"B\\C"), nullptr);
  EXPECT_EQ(hive->root().DeleteSubkey(u"B").code(), kErrorFileNotFound);
  EXPECT_EQ(hive->root().CreateSubkey(u"x\\y").status().code(), kErrorInvalidParameter);
  EXPECT_EQ(hive->root().CreateSubkey(std::u16string(256, u'k')).status().code(),
            kErrorInvalidParameter);
  auto again = Reparse(*hive);
  ASSERT_NE(again, nullptr);
  ExpectSameTree(hive->root(), again->root());
}

TEST(HiveTest, CopiedValuesOwnTheirBytesAndOutliveTheirHive) {
  Value copy;
  {
    auto hive = Reparse(*SmallHive());  // unchanged values point into the hive's file image
    ASSERT_NE(hive, nullptr);
    copy = *hive->Find(u"A")->FindValue(u"Blob");
  }
  EXPECT_EQ(copy.data, std::string(300, 'x'));
}

TEST(HiveTest, ReadValuesStayIntactWhileTheirKeyChangesAroundThem) {
  auto hive = Reparse(*SmallHive());  // the values read are views into the hive's packed data
  ASSERT_NE(hive, nullptr);
  Key* a = hive->Find(u"A");
  ASSERT_NE(a, nullptr);
  // New values move the old ones to a larger vector; a deleted one moves those after it.
  for (char16_t c = u'a'; c <= u'z'; ++c) {
    ASSERT_TRUE(a->SetValue(std::u16string(1, c), kRegSz, std::string(40, 'y')).ok());
  }
  ASSERT_TRUE(a->DeleteValue(u"").ok());
  EXPECT_EQ(a->FindValue(u"Count")->data, std::string("\x2a\0\0\0", 4));  // stored inline
  EXPECT_EQ(a->FindValue(u"Blob")->data, std::string(300, 'x'));
  EXPECT_EQ(a->FindValue(u"q")->data, std::string(40, 'y'));
  ASSERT_TRUE(a->SetValue(u"Empty", kRegBinary, "").ok());
  EXPECT_TRUE(a->FindValue(u"Empty")->data.empty());
  EXPECT_NE(a->FindValue(u"Empty")->data.data(), nullptr);  // empty data still has an address
  // A class name set, cleared and set again.
  EXPECT_EQ(a->class_name(), "");
  ASSERT_TRUE(a->SetClassName(std::string("c\0l\0", 4)).ok());
  ASSERT_TRUE(hive->root().SetClassName("").ok());
  EXPECT_EQ(Reparse(*hive)->Find(u"A")->class_name(), std::string("c\0l\0", 4));
  EXPECT_EQ(hive->root().class_name(), "");
}

TEST(HiveTest, NewKeysShareTheirParentsSecurityCell) {
  auto hive = SmallHive();
  std::string own = *hive->root().security();
  own[2] ^= 0x01;  // a different, still well-formed descriptor
  ASSERT_TRUE(hive->Find(u"B")->SetSecurity(own).ok());
  Key* d = MustCreate(*hive->Find(u"B"), u"D");
  EXPECT_EQ(*d->security(), own);
  auto again = Reparse(*hive);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(*again->Find(u"B\\D")->security(), own);
  EXPECT_EQ(*again->Find(u"B\\C")->security(), *again->root().security());  // made before
  EXPECT_EQ(again->Find(u"B")->security(), again->Find(u"B\\D")->security());
}

TEST(HiveTest, ReadOnlyHiveRefusesEveryChange) {
  auto image = SmallHive()->Serialize();
  auto hive = Hive::Parse(image, {.read_only = true}, "ro");
  ASSERT_TRUE(hive.ok());
  Key& root = hive.value()->root();
  EXPECT_EQ(root.CreateSubkey(u"New").status().code(), kErrorAccessDenied);
  EXPECT_EQ(root.DeleteSubkey(u"A").code(), kErrorAccessDenied);
  EXPECT_EQ(root.SetValue(u"v", kRegSz, "").code(), kErrorAccessDenied);
  EXPECT_EQ(hive.value()->Find(u"A")->DeleteValue(u"Count").code(), kErrorAccessDenied);
  EXPECT_EQ(hive.value()->Save().code(), kErrorAccessDenied);
  EXPECT_NE(root.FindSubkey(u"A"), nullptr);  // a lookup still works
}

TEST(HiveTest, HiveNotCleanlyClosedOpensReadOnlyAndIsNeverWritten) {
  std::string image = SmallHive()->Serialize();
  Put32(image.data() + format::kBbSequence1, Get32(image.data() + format::kBbSequence2) + 1);
  Put32(image.data() + format::kBbChecksum, format::BaseBlockChecksum(image.data()));
  auto hive = Hive::Parse(image, {}, "dirty");
  ASSERT_TRUE(hive.ok()) << hive.status().ToString();
  EXPECT_TRUE(hive.value()->read_only());
  EXPECT_NE(hive.value()->read_only_reason().find("not cleanly closed"), std::string::npos);
  testing::TempDir dir;
  EXPECT_EQ(hive.value()->WriteTo(dir / "copy").code(), kErrorAccessDenied);
  EXPECT_FALSE(std::filesystem::exists(dir / "copy"));
}

TEST(HiveTest, SaveReplacesTheFileAndKeepsItsPermissions) {
  testing::TempDir dir;
  auto path = dir / "NTUSER.DAT";
  ASSERT_TRUE(SmallHive()->WriteTo(path).ok());
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  auto hive = Hive::Open(path);
  ASSERT_TRUE(hive.ok()) << hive.status().ToString();
  MustCreate(hive.value()->root(), u"Added");
  ASSERT_TRUE(hive.value()->Save().ok());
  EXPECT_FALSE(hive.value()->modified());
  auto again = Hive::Open(path);
  ASSERT_TRUE(again.ok());
  EXPECT_NE(again.value()->Find(u"added"), nullptr);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left behind
}

TEST(HiveTest, OpenReportsMissingFilesAndForeignFiles) {
  testing::TempDir dir;
  EXPECT_EQ(Hive::Open(dir / "absent").status().code(), kErrorFileNotFound);
  EXPECT_EQ(Hive::Open(dir.path()).status().code() != kErrorSuccess, true);
  EXPECT_EQ(Hive::Parse("MZ\x90", {}, "x").status().code(), kErrorNotRegistryFile);
  std::string log = SmallHive()->Serialize();
  Put32(log.data() + format::kBbFileType, 1);
  EXPECT_EQ(Hive::Parse(log, {}, "log").status().code(), kErrorNotRegistryFile);
}

// ---------------------------------------------------------------------------------------------
// Damaged input: every case must fail cleanly in strict mode (naming an offset) and open in
// salvage mode with the damage recorded and the intact keys present.

struct Layout {
  uint32_t root, root_list, a, a_values, b, b_list;
};

// Reads cell offsets of SmallHive's image. REQUIRES: an image written by the engine.
Layout Locate(const std::string& image) {
  auto cell = [&](uint32_t offset) { return image.data() + format::kBaseBlockSize + offset + 4; };
  Layout l{};
  l.root = Get32(image.data() + format::kBbRootCell);
  l.root_list = Get32(cell(l.root) + format::kNkSubkeyList);
  l.a = Get32(cell(l.root_list) + 4);
  l.b = Get32(cell(l.root_list) + 12);
  l.a_values = Get32(cell(l.a) + format::kNkValueList);
  l.b_list = Get32(cell(l.b) + format::kNkSubkeyList);
  return l;
}

void PutCellField(std::string* image, uint32_t cell, size_t field, uint32_t value) {
  Put32(image->data() + format::kBaseBlockSize + cell + 4 + field, value);
}

struct DamageCase {
  const char* name;
  void (*damage)(std::string* image, const Layout& l);
  const char* intact_key;  // still readable in salvage mode
};

const DamageCase kDamageCases[] = {
    {"truncated", [](std::string* i, const Layout&) { i->resize(i->size() - 4096 + 100); }, ""},
    {"bad bin signature", [](std::string* i, const Layout&) { (*i)[format::kBaseBlockSize] = 'X'; },
     ""},
    {"subkey list outside the file",
     [](std::string* i, const Layout& l) {
       PutCellField(i, l.b, format::kNkSubkeyList, 0x7FFFFFF8);
     },
     "A"},
    {"misaligned subkey list",
     [](std::string* i, const Layout& l) {
       PutCellField(i, l.b, format::kNkSubkeyList, l.b_list + 3);
     },
     "A"},
    {"loop back to the root",
     [](std::string* i, const Layout& l) {
       PutCellField(i, l.b, format::kNkSubkeyList, l.root_list);
     },
     "A"},
    {"value list shorter than announced",
     [](std::string* i, const Layout& l) { PutCellField(i, l.a, format::kNkValueCount, 5000); },
     "B\\C"},
    {"value pointing at a subkey list",
     [](std::string* i, const Layout& l) { PutCellField(i, l.a_values, 0, l.b_list); }, "B\\C"},
    {"key name longer than its cell",
     [](std::string* i, const Layout& l) {
       format::Put16(i->data() + format::kBaseBlockSize + l.b + 4 + format::kNkNameLength, 0xFFFF);
     },
     "A"},
    {"free cell referenced",
     [](std::string* i, const Layout& l) {
       uint32_t* size = reinterpret_cast<uint32_t*>(i->data() + format::kBaseBlockSize + l.b_list);
       Put32(reinterpret_cast<char*>(size), -Get32(reinterpret_cast<char*>(size)));
     },
     "A"},
};

TEST(HiveDamageTest, StrictOpenFailsWithOffsetAndSalvageKeepsIntactKeys) {
  const std::string clean = SmallHive()->Serialize();
  const Layout layout = Locate(clean);
  for (const DamageCase& c : kDamageCases) {
    SCOPED_TRACE(c.name);
    std::string image = clean;
    c.damage(&image, layout);
    auto strict = Hive::Parse(image, {}, "damaged");
    ASSERT_FALSE(strict.ok());
    EXPECT_EQ(strict.status().code(), kErrorBadDb);
    EXPECT_NE(strict.status().context().find("offset 0x"), std::string::npos)
        << strict.status().context();
    auto salvaged = Hive::Parse(image, {.salvage = true}, "damaged");
    if (*c.intact_key == '\0') continue;  // the bins holding the tree are gone
    ASSERT_TRUE(salvaged.ok()) << salvaged.status().ToString();
    EXPECT_FALSE(salvaged.value()->damage().empty());
    EXPECT_TRUE(salvaged.value()->read_only());
    EXPECT_NE(salvaged.value()->Find(FromUtf8(c.intact_key)), nullptr);
  }
}

TEST(HiveDamageTest, EveryTruncationFailsCleanly) {
  const std::string clean = SmallHive()->Serialize();
  for (size_t length = 0; length < clean.size(); length += 509) {
    auto strict = Hive::Parse(clean.substr(0, length), {}, "cut");
    EXPECT_FALSE(strict.ok()) << length;
    auto salvaged = Hive::Parse(clean.substr(0, length), {.salvage = true}, "cut");
    (void)salvaged;  // must merely not crash
  }
}

// Flaws that lose nothing: a strict open still succeeds; a structure check names each one.
struct AnomalyCase {
  const char* name;
  void (*flaw)(std::string* image, const Layout& l);
  const char* expected;  // part of the recorded reason
};

const AnomalyCase kAnomalyCases[] = {
    {"wrong hash", [](std::string* i, const Layout& l) { PutCellField(i, l.root_list, 8, 1234); },
     "wrong name hash"},
    {"wrong parent",
     [](std::string* i, const Layout& l) { PutCellField(i, l.b, format::kNkParent, l.a); },
     "wrong parent"},
    {"short maximum",
     [](std::string* i, const Layout& l) { PutCellField(i, l.a, format::kNkMaxValueData, 4); },
     "maximum lengths"},
    {"unused cell",
     [](std::string* i, const Layout& l) {
       PutCellField(i, l.a, format::kNkClass, format::kNilCell);
     },
     "used by nothing"},
};

TEST(HiveStructureCheckTest, FlawsAreNamedWithoutFailingTheOpen) {
  auto hive = SmallHive();
  ASSERT_TRUE(hive->Find(u"A")->SetClassName(std::string("k\0", 2)).ok());
  const std::string clean = hive->Serialize();
  const Layout layout = Locate(clean);
  auto checked = Hive::Parse(clean, {.check_structure = true}, "clean");
  ASSERT_TRUE(checked.ok());
  EXPECT_TRUE(checked.value()->anomalies().empty());
  for (const AnomalyCase& c : kAnomalyCases) {
    SCOPED_TRACE(c.name);
    std::string image = clean;
    c.flaw(&image, layout);
    auto opened = Hive::Parse(image, {.check_structure = true}, "flawed");
    ASSERT_TRUE(opened.ok()) << opened.status().ToString();
    EXPECT_FALSE(opened.value()->read_only());
    ASSERT_EQ(opened.value()->anomalies().size(), 1u);
    EXPECT_NE(opened.value()->anomalies()[0].reason.find(c.expected), std::string::npos)
        << opened.value()->anomalies()[0].reason;
  }
}

// ---------------------------------------------------------------------------------------------
// Real hives from Windows machines

class RealHiveTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RealHiveTest, RewriteKeepsEverythingAndIsNoLarger) {
  testing::TempDir dir;
  auto original_path = testing::UnpackSharedHive(GetParam(), dir.path());
  ASSERT_FALSE(original_path.empty());
  auto original = Hive::Open(original_path);
  ASSERT_TRUE(original.ok()) << original.status().ToString();
  EXPECT_TRUE(original.value()->damage().empty());
  auto rewritten_path = dir / "rewritten";
  ASSERT_TRUE(original.value()->WriteTo(rewritten_path).ok());
  auto rewritten = Hive::Open(rewritten_path);
  ASSERT_TRUE(rewritten.ok()) << rewritten.status().ToString();
  ExpectSameTree(original.value()->root(), rewritten.value()->root());
  EXPECT_LE(std::filesystem::file_size(rewritten_path), std::filesystem::file_size(original_path));
}

INSTANTIATE_TEST_SUITE_P(Clean, RealHiveTest, ::testing::Values("NTUSER.DAT", "SYSTEM"));

TEST(RealHiveTest, UncleanHivesOpenReadOnlyWithTheirWholeTree) {
  testing::TempDir dir;
  for (const char* name : {"UsrClass.dat", "SYSTEM_B"}) {
    auto hive = Hive::Open(testing::UnpackSharedHive(name, dir.path()));
    ASSERT_TRUE(hive.ok()) << name << ": " << hive.status().ToString();
    EXPECT_TRUE(hive.value()->read_only()) << name;
    EXPECT_GT(hive.value()->CountKeys(), 1000u) << name;
  }
}

TEST(RealHiveTest, DamagedHiveFailsClearlyAndSalvageReadsTheIntactKeys) {
  testing::TempDir dir;
  auto path = testing::UnpackSharedHive("corrupted_system_hive", dir.path());
  auto strict = Hive::Open(path);
  ASSERT_FALSE(strict.ok());
  EXPECT_EQ(strict.status().code(), kErrorBadDb);
  EXPECT_NE(strict.status().ToString().find("corrupted_system_hive: offset 0x"), std::string::npos);
  auto salvaged = Hive::Open(path, {.salvage = true});
  ASSERT_TRUE(salvaged.ok()) << salvaged.status().ToString();
  EXPECT_GT(salvaged.value()->CountKeys(), 1000u);
  EXPECT_NE(salvaged.value()->Find(u"Select"), nullptr);
  // What was salvaged can be written out and reads back clean.
  auto copy = dir / "salvaged";
  ASSERT_TRUE(salvaged.value()->WriteTo(copy).ok());
  auto reread = Hive::Open(copy);
  ASSERT_TRUE(reread.ok()) << reread.status().ToString();
  ExpectSameTree(salvaged.value()->root(), reread.value()->root());
}

}  // namespace
}  // namespace hm::hive
