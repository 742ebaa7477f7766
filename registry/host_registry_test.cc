#include "registry/host_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/install/builder.h"
#include "registry/registry_access.h"
#include "registry/win_registry.h"
#include "tests/support/testing.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;
using hm::testing::TempDir;

constexpr char kSid[] = "S-1-5-21-1000-2000-3000-1001";

// A small 64-bit installation with one user: the same names in both views with different data,
// a shared key, classes in the machine's and the user's hive, a control set and a profile.
constexpr char kSources[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000002

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control]
"Set"="one"

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002\Control]
"Set"="two"

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002\Control\Nls\CodePage]
"ACP"="1251"

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002\Control\IDConfigDB]
"CurrentConfig"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002\Hardware Profiles\0001\Software\Fonts]
"LogPixels"=dword:00000060

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"CurrentMajorVersionNumber"=dword:0000000a
"CurrentMinorVersionNumber"=dword:00000000
"CurrentVersion"="6.3"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-21-1000-2000-3000-1001]
"ProfileImagePath"="C:\\Users\\ann"

[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\App]
"Bits"="64"

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Vendor\App]
"Bits"="32"

[HKEY_LOCAL_MACHINE\SOFTWARE\Clients\Mail]
"Bits"="shared"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.log]
@="logfile"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.txt]
@="txtfile"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{11111111-0000-0000-0000-000000000000}]
@="64-bit server"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\CLSID\{11111111-0000-0000-0000-000000000000}]
@="32-bit server"

[HKEY_CURRENT_USER\Software\Demo]
"Name"="ann"

[HKEY_CURRENT_USER\Software\Classes\.txt]
@="usertxtfile"

[HKEY_CURRENT_USER\Software\Classes\.zzz]
@="userzzz"
)";

class HostRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(sources_.path() / "registry");
    hm::testing::WriteFileBytes(sources_.path() / "registry" / "10.reg", kSources);
    hm::testing::WriteFileBytes(sources_.path() / "files.txt", "Users\\ann\\\n");
    root_ = dir_.path() / "c";
    ASSERT_TRUE(install::BuildInstallation(sources_.path(), root_).ok());
  }
  void TearDown() override { SetProcessRegistry(nullptr); }

  std::unique_ptr<HostRegistry> Open(HostRegistry::Options options = {}) {
    auto installation = install::Installation::Open(root_);
    EXPECT_TRUE(installation.ok()) << installation.status().ToString();
    auto registry = HostRegistry::Open(std::move(*installation), options);
    EXPECT_TRUE(registry.ok()) << registry.status().ToString();
    return std::move(*registry);
  }

  fs::path Software() const { return root_ / "Windows/System32/config/SOFTWARE"; }

  TempDir sources_;
  TempDir dir_;
  fs::path root_;
};

std::string Utf8Text(const std::string& utf16) {
  std::u16string text(utf16.size() / 2, u'\0');
  std::memcpy(text.data(), utf16.data(), text.size() * 2);
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return ToUtf8(text);
}

std::string Utf16Bytes(std::u16string_view text) {
  std::u16string terminated(text);
  terminated.push_back(u'\0');
  return std::string(reinterpret_cast<const char*>(terminated.data()), terminated.size() * 2);
}

// Reads a string value of (root, path) in a view; "error N" when that fails.
std::string Read(HostRegistry& registry, HKEY root, std::u16string_view path,
                 std::u16string_view name, REGSAM view) {
  HKEY key = 0;
  if (LSTATUS error = registry.OpenKey(root, path, KEY_READ | view, &key)) {
    return "error " + std::to_string(error);
  }
  HostRegistry::ValueEntry value;
  LSTATUS error = registry.QueryValue(key, name, &value);
  registry.CloseKey(key);
  if (error != kErrorSuccess) return "error " + std::to_string(error);
  return value.type == REG_DWORD ? std::to_string(static_cast<uint8_t>(value.data[0]))
                                 : Utf8Text(value.data);
}

TEST_F(HostRegistryTest, PresentsTheKeysOfARunningWindows) {
  auto registry = Open();
  const std::u16string sid = FromUtf8(kSid);
  const struct {
    HKEY root;
    std::u16string path;
    std::u16string name;
    REGSAM view;
    std::string expected;
  } kCases[] = {
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\App", u"Bits", KEY_WOW64_64KEY, "64"},
      {HKEY_LOCAL_MACHINE, u"software\\VENDOR\\app", u"bits", KEY_WOW64_32KEY, "32"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\WOW6432Node\\Vendor\\App", u"Bits", KEY_WOW64_32KEY, "32"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Clients\\Mail", u"Bits", KEY_WOW64_32KEY, "shared"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\App", u"Bits", 0, "32"},  // a 32-bit program
      {HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control", u"Set", KEY_WOW64_64KEY, "two"},
      {HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\hivelist",
       u"\\REGISTRY\\MACHINE\\SOFTWARE", KEY_WOW64_64KEY,
       "\\Device\\HarddiskVolume2\\Windows\\System32\\config\\SOFTWARE"},
      {HKEY_CURRENT_CONFIG, u"Software\\Fonts", u"LogPixels", KEY_WOW64_64KEY, "96"},
      {HKEY_CURRENT_USER, u"Software\\Demo", u"Name", KEY_WOW64_32KEY, "ann"},
      {HKEY_USERS, sid + u"\\Software\\Classes\\.txt", u"", KEY_WOW64_64KEY, "usertxtfile"},
      {HKEY_USERS, sid + u"_Classes\\.zzz", u"", KEY_WOW64_64KEY, "userzzz"},
      {HKEY_CLASSES_ROOT, u".txt", u"", KEY_WOW64_64KEY, "usertxtfile"},
      {HKEY_CLASSES_ROOT, u".log", u"", KEY_WOW64_64KEY, "logfile"},
      {HKEY_CLASSES_ROOT, u"CLSID\\{11111111-0000-0000-0000-000000000000}", u"", KEY_WOW64_64KEY,
       "64-bit server"},
      {HKEY_CLASSES_ROOT, u"CLSID\\{11111111-0000-0000-0000-000000000000}", u"", KEY_WOW64_32KEY,
       "32-bit server"},
      {HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\WOW6432Node\\Classes\\CLSID\\{11111111-0000-0000-0000-000000000000}", u"",
       KEY_WOW64_64KEY, "32-bit server"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nope", u"", KEY_WOW64_64KEY, "error 2"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\\\Vendor", u"", KEY_WOW64_64KEY, "error 161"},
      {HKEY_LOCAL_MACHINE, u"HARDWARE", u"", KEY_WOW64_64KEY, "error 2"},
      {HKEY_PERFORMANCE_DATA, u"", u"", KEY_WOW64_64KEY, "error 6"},
      {HKEY_DYN_DATA, u"Config", u"", KEY_WOW64_64KEY, "error 6"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Read(*registry, c.root, c.path, c.name, c.view), c.expected)
        << ToUtf8(c.path) << " view bits " << c.view;
  }
  EXPECT_EQ(registry->ansi_code_page(), 1251u);
  EXPECT_EQ(registry->current_control_set(), u"ControlSet002");
}

TEST_F(HostRegistryTest, EnumeratesTheMergedClassesAndTheRoots) {
  auto registry = Open();
  auto names = [&](HKEY root, std::u16string_view path) {
    HKEY key = 0;
    std::vector<std::string> found;
    EXPECT_EQ(registry->OpenKey(root, path, KEY_READ | KEY_WOW64_64KEY, &key), 0u);
    KeyInfo info;
    EXPECT_EQ(registry->QueryInfoKey(key, &info), 0u);
    std::u16string name;
    uint32_t index = 0;
    while (registry->EnumKey(key, index, &name) == kErrorSuccess) {
      found.push_back(ToUtf8(name));
      ++index;
    }
    EXPECT_EQ(registry->EnumKey(key, index, &name), kErrorNoMoreItems);
    EXPECT_EQ(info.subkeys, found.size());
    registry->CloseKey(key);
    return found;
  };
  // The union in Windows' order, .txt once although both hives have it.
  EXPECT_EQ(names(HKEY_CLASSES_ROOT, u""),
            (std::vector<std::string>{".log", ".txt", ".zzz", "CLSID", "Wow6432Node"}));
  EXPECT_EQ(names(HKEY_LOCAL_MACHINE, u""), (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
  // A running Windows lists CurrentControlSet beside the control sets.
  EXPECT_EQ(names(HKEY_LOCAL_MACHINE, u"SYSTEM"),
            (std::vector<std::string>{"ControlSet001", "ControlSet002", "CurrentControlSet",
                                      "Select"}));
  EXPECT_EQ(names(HKEY_USERS, u""),
            (std::vector<std::string>{kSid, std::string(kSid) + "_Classes"}));
}

// Runs reglookup over a hive file and returns its lines.
std::string RegLookup(const fs::path& hive) {
  std::string output;
  EXPECT_EQ(hm::testing::RunCommand("reglookup -H " + hive.string(), &output), 0);
  return output;
}

TEST_F(HostRegistryTest, WritesLandWhereWindowsSendsThem) {
  if (!hm::testing::HaveProgram("reglookup") && std::getenv("CI") == nullptr) {
    GTEST_SKIP() << "reglookup is not installed";
  }
  auto registry = Open();
  auto set = [&](HKEY root, std::u16string_view path, REGSAM view, std::u16string_view data) {
    HKEY key = 0;
    ASSERT_EQ(registry->CreateKey(root, path, KEY_ALL_ACCESS | view, &key), 0u);
    ASSERT_EQ(registry->SetValue(key, u"Where", REG_SZ, Utf16Bytes(data)), 0u);
    registry->CloseKey(key);
  };
  set(HKEY_LOCAL_MACHINE, u"SOFTWARE\\NewVendor", KEY_WOW64_32KEY, u"redirected");
  set(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Clients\\Mail", KEY_WOW64_32KEY, u"shared");
  set(HKEY_CLASSES_ROOT, u".txt", KEY_WOW64_64KEY, u"user");          // the user has .txt
  set(HKEY_CLASSES_ROOT, u".log", KEY_WOW64_64KEY, u"machine");       // only the machine has .log
  set(HKEY_CLASSES_ROOT, u".new\\Sub", KEY_WOW64_64KEY, u"new");      // new keys go to the machine
  set(HKEY_CLASSES_ROOT, u".zzz\\Sub", KEY_WOW64_64KEY, u"usernew");  // below a user key
  set(HKEY_CLASSES_ROOT, u"CLSID\\{2}", KEY_WOW64_32KEY, u"classes32");

  // Nothing reaches the files before the commit point.
  EXPECT_EQ(RegLookup(Software()).find("NewVendor"), std::string::npos);
  ASSERT_TRUE(registry->Commit().ok());

  const std::string software = RegLookup(Software());
  const std::string classes =
      RegLookup(root_ / "Users/ann/AppData/Local/Microsoft/Windows/UsrClass.dat");
  EXPECT_NE(software.find("/WOW6432Node/NewVendor/Where,SZ,redirected"), std::string::npos);
  EXPECT_EQ(software.find("\n/NewVendor"), std::string::npos);
  EXPECT_NE(software.find("/Clients/Mail/Where,SZ,shared"), std::string::npos);
  EXPECT_NE(software.find("/Classes/.log/Where,SZ,machine"), std::string::npos);
  EXPECT_NE(software.find("/Classes/.new/Sub/Where,SZ,new"), std::string::npos);
  EXPECT_NE(software.find("/Classes/Wow6432Node/CLSID/{2}/Where,SZ,classes32"), std::string::npos);
  EXPECT_NE(classes.find("/.txt/Where,SZ,user"), std::string::npos);
  EXPECT_NE(classes.find("/.zzz/Sub/Where,SZ,usernew"), std::string::npos);
  EXPECT_EQ(software.find("/Classes/.txt/Where"), std::string::npos);
}

TEST_F(HostRegistryTest, HandlesCarryTheirRights) {
  auto registry = Open();
  HKEY read = 0, write = 0;
  ASSERT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software\\Demo", KEY_READ, &read), 0u);
  EXPECT_EQ(registry->SetValue(read, u"X", REG_SZ, Utf16Bytes(u"x")), kErrorAccessDenied);
  EXPECT_EQ(registry->DeleteValue(read, u"Name"), kErrorAccessDenied);
  ASSERT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software", KEY_ALL_ACCESS, &write), 0u);
  // A key with subkeys is not deleted whole; an open handle to a deleted key says so.
  EXPECT_EQ(registry->DeleteKey(HKEY_CURRENT_USER, u"Software", 0), kErrorAccessDenied);
  EXPECT_EQ(registry->DeleteKey(write, u"Demo", 0), kErrorSuccess);
  HostRegistry::ValueEntry value;
  EXPECT_EQ(registry->QueryValue(read, u"Name", &value), kErrorKeyDeleted);
  EXPECT_EQ(registry->DeleteKey(write, u"Demo", 0), kErrorFileNotFound);
  // A closed handle stays invalid, even after its slot is used again.
  ASSERT_EQ(registry->CloseKey(read), 0u);
  HKEY again = 0;
  ASSERT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software", KEY_READ, &again), 0u);
  KeyInfo info;
  EXPECT_EQ(registry->QueryInfoKey(read, &info), kErrorInvalidHandle);
  EXPECT_EQ(registry->CloseKey(read), kErrorInvalidHandle);
  EXPECT_EQ(registry->QueryInfoKey(again, &info), kErrorSuccess);
  // An empty path opens the key itself, a root included.
  HKEY user_root = 0;
  EXPECT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"", KEY_ALL_ACCESS, &user_root), 0u);
  // The keys of a running Windows cannot be changed.
  EXPECT_EQ(registry->OpenKey(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\hivelist",
                              KEY_ALL_ACCESS, &write),
            kErrorAccessDenied);
  HKEY machine = 0;
  EXPECT_EQ(registry->CreateKey(HKEY_LOCAL_MACHINE, u"NEWHIVE", KEY_ALL_ACCESS, &machine),
            kErrorAccessDenied);
}

TEST_F(HostRegistryTest, AReadOnlyInstallationRefusesWrites) {
  HostRegistry::Options options;
  options.read_only = true;
  auto registry = Open(options);
  HKEY key = 0;
  EXPECT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software\\Demo", KEY_ALL_ACCESS, &key),
            kErrorAccessDenied);
  EXPECT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software\\Demo", KEY_READ, &key), 0u);
  EXPECT_EQ(registry->CreateKey(HKEY_CURRENT_USER, u"Software\\New", KEY_ALL_ACCESS, &key),
            kErrorAccessDenied);
  for (const auto& hive : registry->Hives()) {
    EXPECT_FALSE(hive.writable) << hive.mount;
    EXPECT_NE(hive.reason.find("read-only"), std::string::npos) << hive.reason;
  }
}

TEST_F(HostRegistryTest, AnUncleanHiveIsReadButNeverWritten) {
  const fs::path usrclass = root_ / "Users/ann/AppData/Local/Microsoft/Windows/UsrClass.dat";
  fs::remove(usrclass);
  hm::testing::UnpackSharedHive("UsrClass.dat", usrclass.parent_path());
  const std::string before = hm::testing::ReadFileBytes(usrclass);
  {
    auto registry = Open();
    HKEY key = 0;
    EXPECT_EQ(registry->OpenKey(HKEY_CLASSES_ROOT, u"", KEY_READ, &key), 0u);
    // HKCR writes that would go to the user's classes are refused; machine keys still work.
    EXPECT_EQ(registry->OpenKey(HKEY_USERS, FromUtf8(std::string(kSid) + "_Classes"),
                                KEY_ALL_ACCESS, &key),
              kErrorAccessDenied);
    EXPECT_EQ(registry->OpenKey(HKEY_CLASSES_ROOT, u".log", KEY_ALL_ACCESS, &key), 0u);
    auto hives = registry->Hives();
    auto classes = std::find_if(hives.begin(), hives.end(),
                                [](const auto& h) { return h.mount.ends_with("_Classes"); });
    ASSERT_NE(classes, hives.end());
    EXPECT_FALSE(classes->writable);
    EXPECT_NE(classes->reason.find("not cleanly closed"), std::string::npos) << classes->reason;
  }
  EXPECT_EQ(hm::testing::ReadFileBytes(usrclass), before);
  // Opening the whole installation read-only does not hide the hive's own reason.
  HostRegistry::Options read_only;
  read_only.read_only = true;
  for (const auto& hive : Open(read_only)->Hives()) {
    const char* expected = hive.mount.ends_with("_Classes") ? "not cleanly closed" : "read-only";
    EXPECT_NE(hive.reason.find(expected), std::string::npos) << hive.mount << ": " << hive.reason;
  }
}

TEST_F(HostRegistryTest, AnsiFunctionsUseTheCodePageAndCallerBuffers) {
  auto registry = Open();
  SetProcessRegistry(registry.get());  // code page 1251
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\\xcf\xf0\xe8\xe2\xe5\xf2", KEY_ALL_ACCESS,
                            &key),
            0u);
  const char text[] = "\xc4\xe0";  // "Да"
  ASSERT_EQ(RegSetValueExA(key, "T", REG_SZ, reinterpret_cast<const uint8_t*>(text), 3), 0u);
  // Stored as UTF-16, read back in the code page; a small buffer gets ERROR_MORE_DATA.
  HostRegistry::ValueEntry stored;
  ASSERT_EQ(registry->QueryValue(key, u"T", &stored), 0u);
  EXPECT_EQ(Utf8Text(stored.data), "Да");
  uint8_t buffer[8] = {};
  uint32_t size = 2, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "T", &type, buffer, &size), kErrorMoreData);
  EXPECT_EQ(size, 3u);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "T", &type, buffer, &size), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string(text, 3));
  EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr), kErrorFileNotFound);
  RegCloseKey(key);

  HKEY software = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software), 0u);
  char name[3];
  uint32_t name_size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(software, 0, name, &name_size), kErrorMoreData);  // "Demo"
  // A name the code page cannot hold reads as '?', as on Windows.
  HKEY greek = 0;
  ASSERT_EQ(registry->CreateKey(HKEY_CURRENT_USER, u"Software\\\u03a9", KEY_ALL_ACCESS, &greek),
            0u);
  char wide_name[16];
  name_size = sizeof wide_name;
  EXPECT_EQ(RegEnumKeyExA(software, 1, wide_name, &name_size), 0u);  // after "Demo"
  EXPECT_EQ(std::string(wide_name), "?");
  RegCloseKey(software);
}

TEST_F(HostRegistryTest, WatchersHearOfChangesHereAndFromOutside) {
  auto registry = Open();
  HKEY software = 0, demo = 0;
  ASSERT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software", KEY_ALL_ACCESS, &software), 0u);
  ASSERT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software\\Demo", KEY_ALL_ACCESS, &demo), 0u);
  int tree = 0, only_key = 0;
  HostRegistry::WatchId tree_id = 0, key_id = 0;
  ASSERT_EQ(registry->Watch(
                software, true, [&] { ++tree; }, &tree_id),
            0u);
  ASSERT_EQ(registry->Watch(
                software, false, [&] { ++only_key; }, &key_id),
            0u);

  ASSERT_EQ(registry->SetValue(demo, u"V", REG_DWORD, std::string(4, '\1')), 0u);
  EXPECT_EQ(tree, 1);
  EXPECT_EQ(only_key, 0);  // a value of a subkey is not this key's change
  HKEY created = 0;
  ASSERT_EQ(registry->CreateKey(software, u"Fresh", KEY_ALL_ACCESS, &created), 0u);
  EXPECT_EQ(tree, 2);
  EXPECT_EQ(only_key, 1);  // its list of subkeys changed
  registry->Unwatch(key_id);
  ASSERT_EQ(registry->DeleteKey(software, u"Fresh", 0), 0u);
  EXPECT_EQ(tree, 3);
  EXPECT_EQ(only_key, 1);

  // Another program replaces NTUSER.DAT: the registry reloads it and tells the watcher.
  ASSERT_TRUE(registry->Commit().ok());
  const fs::path ntuser = root_ / "Users/ann/NTUSER.DAT";
  auto hive = hive::Hive::Open(ntuser);
  ASSERT_TRUE(hive.ok());
  ASSERT_TRUE((*hive)->Find(u"Software\\Demo")->SetValue(u"Name", REG_SZ, Utf16Bytes(u"bob")).ok());
  ASSERT_TRUE((*hive)->Save().ok());
  registry->CheckForExternalChanges();
  EXPECT_EQ(tree, 4);
  EXPECT_EQ(Read(*registry, HKEY_CURRENT_USER, u"Software\\Demo", u"Name", 0), "bob");
  // The handle opened before the reload reaches the new tree.
  HostRegistry::ValueEntry value;
  EXPECT_EQ(registry->QueryValue(demo, u"Name", &value), 0u);
  EXPECT_EQ(Utf8Text(value.data), "bob");
}

TEST_F(HostRegistryTest, AnOutsideChangeIsNeverOverwritten) {
  auto registry = Open();
  HKEY demo = 0;
  ASSERT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software\\Demo", KEY_ALL_ACCESS, &demo), 0u);
  ASSERT_EQ(registry->SetValue(demo, u"Mine", REG_SZ, Utf16Bytes(u"x")), 0u);
  const fs::path ntuser = root_ / "Users/ann/NTUSER.DAT";
  auto hive = hive::Hive::Open(ntuser);
  ASSERT_TRUE((*hive)->Find(u"Software\\Demo")->SetValue(u"Theirs", REG_SZ, Utf16Bytes(u"y")).ok());
  ASSERT_TRUE((*hive)->Save().ok());
  Status status = registry->Commit();
  EXPECT_EQ(status.code(), kErrorAccessDenied);
  EXPECT_NE(status.ToString().find("changed by another program"), std::string::npos);
  auto reread = hive::Hive::Open(ntuser);
  EXPECT_NE((*reread)->Find(u"Software\\Demo")->FindValue(u"Theirs"), nullptr);
}

TEST_F(HostRegistryTest, SavesAndReplacesHives) {
  const fs::path saved = dir_.path() / "saved";
  const fs::path subtree = dir_.path() / "subtree";
  {
    auto registry = Open();
    HKEY software = 0, vendor = 0;
    ASSERT_EQ(
        registry->OpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE", KEY_READ | KEY_WOW64_64KEY, &software),
        0u);
    ASSERT_EQ(registry->SaveKey(software, saved), 0u);
    ASSERT_EQ(registry->OpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", KEY_READ | KEY_WOW64_64KEY,
                                &vendor),
              0u);
    ASSERT_EQ(registry->SaveKey(vendor, subtree), 0u);
    auto copy = hive::Hive::Open(subtree);
    ASSERT_TRUE(copy.ok());
    EXPECT_NE((*copy)->Find(u"App"), nullptr);

    // Change the copy so that the replacement can be seen, then schedule it.
    auto edited = hive::Hive::Open(saved);
    ASSERT_TRUE(
        (*edited)->Find(u"Vendor\\App")->SetValue(u"Bits", REG_SZ, Utf16Bytes(u"new")).ok());
    ASSERT_TRUE((*edited)->Save().ok());
    EXPECT_EQ(
        registry->ReplaceKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", saved, dir_.path() / "old"),
        kErrorInvalidParameter);  // not a hive root
    EXPECT_EQ(registry->ReplaceKey(HKEY_LOCAL_MACHINE, u"SOFTWARE", subtree.string() + ".none",
                                   dir_.path() / "old"),
              kErrorFileNotFound);
    ASSERT_EQ(registry->ReplaceKey(HKEY_LOCAL_MACHINE, u"SOFTWARE", saved, dir_.path() / "old"),
              0u);
    // Until the next open, the hive in use stays.
    EXPECT_EQ(
        Read(*registry, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\App", u"Bits", KEY_WOW64_64KEY),
        "64");
  }
  auto registry = Open();
  EXPECT_EQ(Read(*registry, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor\\App", u"Bits", KEY_WOW64_64KEY),
            "new");
  ASSERT_EQ(registry->pending_notes().size(), 1u);
  EXPECT_NE(registry->pending_notes()[0].find("HKLM\\SOFTWARE was replaced"), std::string::npos);
  EXPECT_FALSE(fs::exists(saved));
  auto old = hive::Hive::Open(dir_.path() / "old");
  ASSERT_TRUE(old.ok());
  EXPECT_NE((*old)->Find(u"Vendor\\App"), nullptr);
  // Done once: the next open has nothing left to do.
  registry.reset();
  EXPECT_TRUE(Open()->pending_notes().empty());
}

TEST_F(HostRegistryTest, ReflectionTellsRedirectedFromSharedKeys) {
  auto registry = Open();
  const struct {
    HKEY root;
    std::u16string path;
    bool disabled;
  } kCases[] = {
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Vendor", true},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Clients\\Mail", false},
      {HKEY_CLASSES_ROOT, u"CLSID", true},
      {HKEY_CLASSES_ROOT, u".txt", false},
      {HKEY_CURRENT_USER, u"Software\\Demo", false},
      {HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet", false},
  };
  for (const auto& c : kCases) {
    HKEY key = 0;
    ASSERT_EQ(registry->OpenKey(c.root, c.path, KEY_READ, &key), 0u) << ToUtf8(c.path);
    bool disabled = !c.disabled;
    EXPECT_EQ(registry->QueryReflectionKey(key, &disabled), 0u);
    EXPECT_EQ(disabled, c.disabled) << ToUtf8(c.path);
    registry->CloseKey(key);
  }
}

// Two readers walk while a writer changes and deletes keys; run under ThreadSanitizer.
TEST_F(HostRegistryTest, ReadersAndAWriterOnThreads) {
  auto registry = Open();
  std::atomic<bool> done{false};
  auto reader = [&] {
    while (!done.load()) {
      HKEY key = 0;
      if (registry->OpenKey(HKEY_CURRENT_USER, u"Software", KEY_READ, &key) != 0) continue;
      std::u16string name;
      for (uint32_t i = 0; registry->EnumKey(key, i, &name) == 0; ++i) {
        HKEY sub = 0;
        if (registry->OpenKey(key, name, KEY_READ, &sub) == 0) {
          HostRegistry::ValueEntry value;
          for (uint32_t v = 0; registry->EnumValue(sub, v, &value) == 0; ++v) {
          }
          registry->CloseKey(sub);
        }
      }
      registry->CloseKey(key);
    }
  };
  std::thread first(reader), second(reader);
  HKEY software = 0;
  EXPECT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software", KEY_ALL_ACCESS, &software), 0u);
  for (int i = 0; i < 200; ++i) {
    HKEY key = 0;
    std::u16string name = u"K" + FromUtf8(std::to_string(i % 7));
    EXPECT_EQ(registry->CreateKey(software, name, KEY_ALL_ACCESS, &key), 0u);
    EXPECT_EQ(registry->SetValue(key, u"i", REG_DWORD, std::string(4, static_cast<char>(i))), 0u);
    registry->CloseKey(key);
    if (i % 3 == 0) {
      EXPECT_EQ(registry->DeleteKey(software, name, 0), 0u);
    }
  }
  done = true;
  first.join();
  second.join();
}

// Keys at every depth where the registry's rules apply (mounts, the 32-bit view, shared keys,
// redirected and merged classes) and below them, for walks through the access layer.
constexpr char kWalkSources[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Walk\A\B\C\D]
"v"="64 deep"

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Walk\A32\B32]
"v"="32 deep"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System\Deep]
"v"="shared"

[HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Run\Deeper]
"v"="32 run"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{22222222-0000-0000-0000-000000000000}\InprocServer32]
@="64.dll"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Wow6432Node\CLSID\{22222222-0000-0000-0000-000000000000}\InprocServer32]
@="32.dll"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\.txt\OpenWithList\machine.exe]
@="m"

[HKEY_CURRENT_USER\Software\Classes\.txt\ShellNew\Deep]
"v"="user"

[HKEY_CURRENT_USER\Software\Classes\CLSID\{33333333-0000-0000-0000-000000000000}\InprocServer32]
@="user.dll"

[HKEY_CURRENT_USER\Software\Caf]
"Caf"="text"
)";

// The keys below (root, path) and their values as a walk sees them: every key is opened by its
// whole path on the second object the walk hands out, as the scanner does.
std::vector<std::string> AccessWalk(HKEY root, bool view64) {
  std::vector<std::string> seen;
  TRegistryAccess access(KEY_READ);
  access.SetRootKey(root);
  access.SetView64(view64);
  if (!access.OpenKeyReadOnly("")) return {"cannot open the root"};
  access.EnumSubKeys(
      true, 0,
      [&](void*, TRegistryAccess& second, const std::string& path) -> uint8_t {
        seen.push_back(path);
        if (!second.OpenKeyReadOnly(path)) {
          seen.push_back("  cannot open");
          return 0;
        }
        second.EnumValues(
            [&](void*, TRegistryAccess&, const std::string&, uint32_t size, const uint8_t* data,
                TRegValueType type, const std::string& name) {
              seen.push_back("  " + name + "=" + std::to_string(type) + ":" +
                             std::string(reinterpret_cast<const char*>(data), size));
              return true;
            },
            nullptr);
        return 0;
      },
      nullptr);
  return seen;
}

// The same, found by opening each key afresh from the root with its whole path.
void ReferenceWalk(HKEY root, bool view64, const std::string& path,
                   std::vector<std::string>* seen) {
  HKEY key = 0;
  if (!KeyOpenRead(&key, root, view64, path)) return;
  KeyInfo info;
  std::vector<std::string> children;
  if (RegQueryInfoKeyA(key, &info) == 0) {
    for (uint32_t i = 0; i < info.subkeys; ++i) {
      char name[256];
      uint32_t size = sizeof name;
      if (RegEnumKeyExA(key, i, name, &size) == 0) children.emplace_back(name, size);
    }
  }
  RegCloseKey(key);
  for (const std::string& child : children) {
    const std::string sub = path.empty() ? child : path + "\\" + child;
    seen->push_back(sub);
    HKEY opened = 0;
    if (!KeyOpenRead(&opened, root, view64, sub)) {
      seen->push_back("  cannot open");
    } else {
      static char name[32768];
      static uint8_t data[65536];
      for (uint32_t i = 0;; ++i) {
        uint32_t name_size = sizeof name, data_size = sizeof data, type = 0;
        const LSTATUS error = RegEnumValueA(opened, i, name, &name_size, &type, data, &data_size);
        if (error == kErrorNoMoreItems) break;
        if (error != 0) continue;
        seen->push_back("  " + std::string(name, name_size) + "=" +
                        std::to_string(RegTypeToValueType(type)) + ":" +
                        std::string(reinterpret_cast<const char*>(data), data_size));
      }
      RegCloseKey(opened);
    }
    ReferenceWalk(root, view64, sub, seen);
  }
}

TEST_F(HostRegistryTest, AWalkSeesWhatOpeningEachKeyByItsPathSees) {
  hm::testing::WriteFileBytes(sources_.path() / "registry" / "20-walk.reg",
                              std::string(kWalkSources) + "\n[HKEY_CURRENT_USER\\Software\\Caf\xe9]\n"
                                                          "\"Caf\xe9\"=\"caf\xe9\"\n");
  root_ = dir_.path() / "walk";
  ASSERT_TRUE(install::BuildInstallation(sources_.path(), root_).ok());
  auto registry = Open();
  SetProcessRegistry(registry.get());
  InitRegistryAccess(*registry);
  const struct {
    HKEY root;
    bool view64;
  } kCases[] = {
      {HKEY_LOCAL_MACHINE, true}, {HKEY_LOCAL_MACHINE, false}, {HKEY_CLASSES_ROOT, true},
      {HKEY_CLASSES_ROOT, false}, {HKEY_CURRENT_USER, true},   {HKEY_CURRENT_USER, false},
      {HKEY_USERS, true},         {HKEY_CURRENT_CONFIG, true},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> expected;
    ReferenceWalk(c.root, c.view64, "", &expected);
    EXPECT_GT(expected.size(), 2u);
    EXPECT_EQ(AccessWalk(c.root, c.view64), expected)
        << RootKeyToShortName(c.root) << (c.view64 ? " 64-bit" : " 32-bit");
  }
  // The walks went where the rules send them.
  const std::vector<std::string> machine64 = AccessWalk(HKEY_LOCAL_MACHINE, true);
  const std::vector<std::string> machine32 = AccessWalk(HKEY_LOCAL_MACHINE, false);
  // Text data is read with its terminator.
  auto has = [](const std::vector<std::string>& seen, const std::string& line) {
    return std::find(seen.begin(), seen.end(), line) != seen.end() ||
           std::find(seen.begin(), seen.end(), line + '\0') != seen.end();
  };
  EXPECT_TRUE(has(machine64, "  v=2:64 deep"));
  EXPECT_TRUE(has(machine32, "  v=2:32 deep"));
  EXPECT_FALSE(has(machine32, "  v=2:64 deep"));
  EXPECT_TRUE(has(machine64, "  v=2:shared"));
  EXPECT_TRUE(has(machine32, "  v=2:32 run"));
  const std::vector<std::string> classes64 = AccessWalk(HKEY_CLASSES_ROOT, true);
  const std::vector<std::string> classes32 = AccessWalk(HKEY_CLASSES_ROOT, false);
  EXPECT_TRUE(has(classes64, "  =2:64.dll"));
  EXPECT_TRUE(has(classes64, "  =2:user.dll"));
  EXPECT_TRUE(has(classes32, "  =2:32.dll"));
  EXPECT_FALSE(has(classes32, "  =2:64.dll"));
  EXPECT_TRUE(has(classes32, ".txt\\ShellNew\\Deep"));
  EXPECT_TRUE(has(classes32, ".txt\\OpenWithList\\machine.exe"));
}

// A walk opens each key below its parent's handle and finds the subkey it just enumerated
// without a lookup; a key deleted and created again in between is a new key, and a closed
// handle's state, reused by the next open, answers for the new handle only.
TEST_F(HostRegistryTest, OpensBelowAHandleFollowDeletionsAndReuse) {
  auto registry = Open();
  HKEY parent = 0;
  ASSERT_EQ(registry->CreateKey(HKEY_CURRENT_USER, u"Software\\Deep\\Tree", KEY_ALL_ACCESS, &parent),
            0u);
  HKEY child = 0;
  ASSERT_EQ(registry->CreateKey(parent, u"Leaf", KEY_ALL_ACCESS, &child), 0u);
  ASSERT_EQ(registry->SetValue(child, u"v", REG_SZ, Utf16Bytes(u"old")), 0u);
  ASSERT_EQ(registry->CloseKey(child), 0u);

  std::u16string name;
  ASSERT_EQ(registry->EnumKey(parent, 0, &name), 0u);
  ASSERT_EQ(name, u"Leaf");
  ASSERT_EQ(registry->DeleteKey(parent, u"Leaf", 0), 0u);
  EXPECT_EQ(registry->OpenKey(parent, u"Leaf", KEY_READ, &child), kErrorFileNotFound);
  ASSERT_EQ(registry->CreateKey(parent, u"LEAF", KEY_ALL_ACCESS, &child), 0u);
  ASSERT_EQ(registry->SetValue(child, u"v", REG_SZ, Utf16Bytes(u"new")), 0u);
  ASSERT_EQ(registry->CloseKey(child), 0u);
  ASSERT_EQ(registry->EnumKey(parent, 0, &name), 0u);
  EXPECT_EQ(Read(*registry, HKEY_CURRENT_USER, u"Software\\Deep\\Tree\\Leaf", u"v", 0), "new");
  HKEY below = 0;
  ASSERT_EQ(registry->OpenKey(parent, u"leaf", KEY_READ, &below), 0u);
  HostRegistry::ValueEntry value;
  ASSERT_EQ(registry->QueryValue(below, u"v", &value), 0u);
  EXPECT_EQ(Utf8Text(value.data), "new");

  // The parent itself deleted: opens below its handle fail as opens by path do.
  ASSERT_EQ(registry->DeleteKey(parent, u"LEAF", 0), 0u);
  ASSERT_EQ(registry->DeleteKey(HKEY_CURRENT_USER, u"Software\\Deep\\Tree", 0), 0u);
  EXPECT_EQ(registry->OpenKey(parent, u"Leaf", KEY_READ, &child), kErrorFileNotFound);
  EXPECT_EQ(registry->QueryValue(below, u"v", &value), kErrorKeyDeleted);

  // Closed handles stay closed while their states serve the next opens.
  ASSERT_EQ(registry->CloseKey(below), 0u);
  ASSERT_EQ(registry->CloseKey(parent), 0u);
  HKEY demo = 0;
  ASSERT_EQ(registry->OpenKey(HKEY_CURRENT_USER, u"Software\\Demo", KEY_READ, &demo), 0u);
  KeyInfo info;
  EXPECT_EQ(registry->QueryInfoKey(below, &info), kErrorInvalidHandle);
  EXPECT_EQ(registry->QueryInfoKey(parent, &info), kErrorInvalidHandle);
  ASSERT_EQ(registry->QueryValue(demo, u"Name", &value), 0u);
  EXPECT_EQ(Utf8Text(value.data), "ann");
  registry->CloseKey(demo);
}

// Readers walk a deep tree key by key, each open below its parent's handle, while a writer
// creates and deletes keys in it (run under ThreadSanitizer by the tsan preset).
TEST_F(HostRegistryTest, WalksBelowHandlesWhileAWriterChangesTheTree) {
  auto registry = Open();
  HKEY tree = 0;
  ASSERT_EQ(registry->CreateKey(HKEY_CURRENT_USER, u"Software\\Deep\\Tree", KEY_ALL_ACCESS, &tree),
            0u);
  std::atomic<bool> done{false};
  std::function<void(HKEY, int)> walk = [&](HKEY key, int depth) {
    std::u16string name;
    for (uint32_t i = 0; depth < 4 && registry->EnumKey(key, i, &name) == 0; ++i) {
      HKEY sub = 0;
      if (registry->OpenKey(key, name, KEY_READ, &sub) != 0) continue;
      HostRegistry::ValueEntry value;
      for (uint32_t v = 0; registry->EnumValue(sub, v, &value) == 0; ++v) {
      }
      walk(sub, depth + 1);
      registry->CloseKey(sub);
    }
  };
  auto reader = [&] {
    while (!done.load()) {
      HKEY key = 0;
      if (registry->OpenKey(HKEY_CURRENT_USER, u"Software\\Deep", KEY_READ, &key) != 0) continue;
      walk(key, 0);
      registry->CloseKey(key);
    }
  };
  std::thread first(reader), second(reader);
  for (int i = 0; i < 200; ++i) {
    HKEY key = 0;
    const std::u16string name = u"K" + FromUtf8(std::to_string(i % 5)) + u"\\L\\M";
    EXPECT_EQ(registry->CreateKey(tree, name, KEY_ALL_ACCESS, &key), 0u);
    EXPECT_EQ(registry->SetValue(key, u"i", REG_DWORD, std::string(4, static_cast<char>(i))), 0u);
    registry->CloseKey(key);
    if (i % 3 == 0) {
      EXPECT_EQ(registry->DeleteKey(tree, name, 0), 0u);
    }
  }
  done = true;
  first.join();
  second.join();
  registry->CloseKey(tree);
}

}  // namespace
}  // namespace hm::reg
