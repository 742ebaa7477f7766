#include "platform/install/builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "platform/files/shell_link_writer.h"
#include "platform/install/installation.h"
#include "platform/install/reg_data.h"
#include "tests/support/testing.h"

namespace hm::install {
namespace {

namespace fs = std::filesystem;
using hm::testing::TempDir;
using hm::testing::WriteFileBytes;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";
constexpr const char* kSid = "S-1-5-21-1111111111-2222222222-3333333333-1001";

// Sources with one user profile (C:\Users\ann), plus whatever a test adds.
class BuilderTest : public ::testing::Test {
 protected:
  BuilderTest() {
    fs::create_directories(sources() / "registry");
    AddReg(
        "05-profile.reg",
        std::string(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") +
            kSid + "]\n\"ProfileImagePath\"=\"C:\\\\Users\\\\ann\"\n");
  }

  fs::path sources() const { return dir_ / "sources"; }
  fs::path root() const { return dir_ / "root"; }
  void AddReg(const std::string& name, const std::string& body) {
    WriteFileBytes(sources() / "registry" / name, kHeader + body);
  }
  Status Build() { return BuildInstallation(sources(), root()); }

  std::unique_ptr<hive::Hive> OpenHive(const std::string& below_root) {
    Result<std::unique_ptr<hive::Hive>> hive = hive::Hive::Open(root() / below_root);
    EXPECT_TRUE(hive.ok()) << below_root << ": " << hive.status().ToString();
    return hive.ok() ? std::move(hive).value() : nullptr;
  }

  TempDir dir_;
};

TEST_F(BuilderTest, MistakesInTheSourcesNameFileAndLine) {
  const struct {
    std::string reg;
    std::string files_txt;
    std::string message;
  } kCases[] = {
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"v\"=dword:1\n\"w\"=dword:nonsense\n", "",
       "20-case.reg: line 5: "},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION]\n", "",
       "20-case.reg: line 5: 'HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION' is in no hive file"},
      {"[HKEY_USERS\\S-1-5-21-9-9-9-1001\\Software]\n", "",
       "20-case.reg: line 3: no ProfileList entry gives a profile folder for S-1-5-21-9-9-9-1001"},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\\\B]\n", "", "20-case.reg: line 3: empty key name"},
      {"", "Windows\\\n# size\nWindows\\a.exe size=12k\n", "files.txt: line 3: bad size '12k'"},
      {"", "Windows\\ size=3\n", "files.txt: line 1: a folder has no size"},
      {"", "..\\outside.txt\n", "files.txt: line 1: "},
      {"", "shortcut Users\\ann\\Desktop\\a.lnk C:\\a.exe\n",
       "files.txt: line 1: shortcut without ' -> '"},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    fs::create_directories(dir / "sources/registry");
    WriteFileBytes(dir / "sources/registry/05-profile.reg",
                   std::string(kHeader) +
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\"
                       "CurrentVersion\\ProfileList\\" +
                       kSid + "]\n\"ProfileImagePath\"=\"C:\\\\Users\\\\ann\"\n");
    WriteFileBytes(dir / "sources/registry/20-case.reg", kHeader + c.reg);
    if (!c.files_txt.empty()) WriteFileBytes(dir / "sources/files.txt", c.files_txt);
    Status built = BuildInstallation(dir / "sources", dir / "root");
    ASSERT_FALSE(built.ok()) << c.message;
    EXPECT_EQ(built.code(), kErrorInvalidData) << built.ToString();
    EXPECT_NE(built.context().find(c.message), std::string::npos) << built.ToString();
  }
}

TEST_F(BuilderTest, KeysLandInTheHiveWindowsKeepsThemIn) {
  AddReg("10-keys.reg", std::string(R"(
[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000002
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control]
[HKEY_CLASSES_ROOT\.abc]
[HKEY_USERS\.DEFAULT\Environment]
[HKEY_CURRENT_USER\Environment]
[HKEY_CURRENT_USER\Software\Classes\.user]
[HKEY_USERS\)") + kSid + R"(\Software\Classes\.sid]
[HKEY_USERS\)" + kSid + R"(_Classes\.direct]
[HKEY_LOCAL_MACHINE\SAM\SAM]
[HKEY_LOCAL_MACHINE\SECURITY\Policy]
)");
  ASSERT_TRUE(Build().ok()) << Build().ToString();
  const std::string classes = "Users/ann/AppData/Local/Microsoft/Windows/UsrClass.dat";
  const struct {
    std::string file;
    std::u16string key;
  } kExpected[] = {
      {"Windows/System32/config/SYSTEM", u"ControlSet002\\Control"},
      {"Windows/System32/config/SOFTWARE", u"Classes\\.abc"},
      {"Windows/System32/config/DEFAULT", u"Environment"},
      {"Windows/System32/config/SAM", u"SAM"},
      {"Windows/System32/config/SECURITY", u"Policy"},
      {"Users/ann/NTUSER.DAT", u"Environment"},
      {classes, u".user"},
      {classes, u".sid"},
      {classes, u".direct"},
  };
  for (const auto& e : kExpected) {
    std::unique_ptr<hive::Hive> hive = OpenHive(e.file);
    ASSERT_NE(hive, nullptr);
    EXPECT_NE(hive->Find(e.key), nullptr) << e.file << ": " << hive::ToUtf8(e.key);
  }
  EXPECT_EQ(OpenHive("Users/ann/NTUSER.DAT")->Find(u"Software\\Classes"), nullptr);
  EXPECT_EQ(OpenHive(classes)->root().name_utf8(), std::string(kSid) + "_Classes");
}

TEST_F(BuilderTest, LaterFilesChangeAndDeleteWhatEarlierOnesMade) {
  AddReg("10-first.reg", R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Gone\Deep]
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor]
"kept"="one"
"dropped"=dword:00000001
"changed"="old"
)");
  AddReg("20-second.reg", R"(
[-HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Gone]
[-HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\NeverWasThere]
[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor]
"dropped"=-
"changed"="new"
"missing"=-
)");
  ASSERT_TRUE(Build().ok()) << Build().ToString();
  std::unique_ptr<hive::Hive> software = OpenHive("Windows/System32/config/SOFTWARE");
  const hive::Key* vendor = software->Find(u"vendor");
  ASSERT_NE(vendor, nullptr);
  EXPECT_EQ(vendor->FindSubkey(u"Gone"), nullptr);
  EXPECT_EQ(vendor->FindValue(u"dropped"), nullptr);
  EXPECT_EQ(RegStringToUtf8(vendor->FindValue(u"changed")->data), "new");
  EXPECT_EQ(RegStringToUtf8(vendor->FindValue(u"kept")->data), "one");
}

TEST_F(BuilderTest, FileListMakesFoldersAndSizedFilesMatchingExistingNames) {
  WriteFileBytes(sources() / "files.txt",
                 "# comment\n\nWindows\\System32\\\nwindows\\system32\\notepad.exe size=4096\r\n"
                 "WINDOWS\\Temp\\log.txt\nUsers\\ann\\Documents\\a b.txt size=3\n");
  ASSERT_TRUE(Build().ok()) << Build().ToString();
  EXPECT_TRUE(fs::is_directory(root() / "Windows/Temp"));
  EXPECT_FALSE(fs::exists(root() / "windows"));
  EXPECT_EQ(fs::file_size(root() / "Windows/System32/notepad.exe"), 4096u);
  EXPECT_EQ(hm::testing::ReadFileBytes(root() / "Windows/System32/notepad.exe").substr(0, 2), "MZ");
  EXPECT_EQ(fs::file_size(root() / "Windows/Temp/log.txt"), 0u);
  EXPECT_EQ(fs::file_size(root() / "Users/ann/Documents/a b.txt"), 3u);
  EXPECT_TRUE(Installation::Open(root()).ok());
}

TEST_F(BuilderTest, ShortcutLinesMakeShortcutsOfTheirTargetForm) {
  WriteFileBytes(sources() / "files.txt",
                 "shortcut Users\\ann\\Desktop\\App.lnk -> C:\\Program Files\\App\\app.exe\n"
                 "shortcut Users\\ann\\Desktop\\Plan.lnk -> \\\\srv\\docs\\plan.txt\n"
                 "shortcut Users\\ann\\Desktop\\Env.lnk -> %windir%\\notepad.exe\n");
  ASSERT_TRUE(Build().ok()) << Build().ToString();
  files::ShellLinkSpec local, network, environment;
  local.local_path = "C:\\Program Files\\App\\app.exe";
  network.network_share = "\\\\srv\\docs";
  network.path_suffix = "plan.txt";
  environment.environment_target = "%windir%\\notepad.exe";
  for (const auto& [name, spec] : {std::pair{"App.lnk", local}, std::pair{"Plan.lnk", network},
                                   std::pair{"Env.lnk", environment}}) {
    EXPECT_EQ(hm::testing::ReadFileBytes(root() / "Users/ann/Desktop" / name),
              files::MakeShellLink(spec).value())
        << name;
  }
}

// Every key of a hive as "path" and its values as "path|name|type|size", in tree order.
std::vector<std::string> Describe(const hive::Key& key) {
  std::vector<std::string> lines{hive::ToUtf8(key.path())};
  for (const hive::Value& v : key.values()) {
    lines.push_back(lines[0] + "|" + hive::ToUtf8(v.name) + "|" + std::to_string(v.type) + "|" +
                    std::to_string(v.data.size()));
  }
  for (const auto& sub : key.subkeys()) {
    std::vector<std::string> more = Describe(*sub);
    lines.insert(lines.end(), more.begin(), more.end());
  }
  return lines;
}

TEST(SyntheticKeysTest, ExactCountSameSeedSameKeysAndARoundTrip) {
  std::unique_ptr<hive::Hive> a = MakeSyntheticHive(5000, 7);
  std::unique_ptr<hive::Hive> b = MakeSyntheticHive(5000, 7);
  std::unique_ptr<hive::Hive> c = MakeSyntheticHive(5000, 8);
  EXPECT_EQ(a->CountKeys(), 5001u);  // the root and the generated keys
  EXPECT_EQ(Describe(a->root()), Describe(b->root()));
  EXPECT_NE(Describe(a->root()), Describe(c->root()));

  Result<std::unique_ptr<hive::Hive>> reread = hive::Hive::Parse(a->Serialize(), {}, "synthetic");
  ASSERT_TRUE(reread.ok()) << reread.status().ToString();
  EXPECT_EQ(Describe(reread.value()->root()), Describe(a->root()));
}

TEST_F(BuilderTest, SyntheticKeysAreSpreadOverSoftwareAndTheUser) {
  AddReg("10-user.reg", "[HKEY_CURRENT_USER\\Environment]\n");
  ASSERT_TRUE(Build().ok());
  std::unique_ptr<hive::Hive> software = OpenHive("Windows/System32/config/SOFTWARE");
  std::unique_ptr<hive::Hive> user = OpenHive("Users/ann/NTUSER.DAT");
  ASSERT_TRUE(software && user);
  uint64_t before = software->CountKeys() + user->CountKeys();

  TempDir big;
  ASSERT_TRUE(BuildInstallation(sources(), big.path(), {.synthetic_keys = 3000, .seed = 3}).ok());
  Result<std::unique_ptr<hive::Hive>> big_software =
      hive::Hive::Open(big / "Windows/System32/config/SOFTWARE");
  Result<std::unique_ptr<hive::Hive>> big_user = hive::Hive::Open(big / "Users/ann/NTUSER.DAT");
  ASSERT_TRUE(big_software.ok() && big_user.ok());
  EXPECT_EQ(big_software.value()->CountKeys() + big_user.value()->CountKeys(), before + 3000);
  EXPECT_GT(big_user.value()->CountKeys(), user->CountKeys());
}

}  // namespace
}  // namespace hm::install
