#include "registry/system_services.h"

#include <gtest/gtest.h>

#include "platform/hive/hive.h"
#include "registry/files_test_support.h"
#include "registry/sddl.h"

namespace hm::reg {
namespace {

constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr uint32_t kOwnerGroupDacl =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

constexpr char kKeys[] = R"reg(
[HKEY_LOCAL_MACHINE\SOFTWARE\Protected\Sub]
"V"="x"

[HKEY_LOCAL_MACHINE\SOFTWARE\Open]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-4294967295-21-7-01001]
"ProfileImagePath"="C:\\Users\\hexa"
)reg";

// A registry opened anew over the same installation, installed as the process registry for as
// long as it lives; the fixture's registry comes back afterwards.
class OtherRegistry {
 public:
  OtherRegistry(testing::FilesInstallation& fixture, HostRegistry::Options options)
      : fixture_(fixture) {
    auto installation = install::Installation::Open(fixture.root());
    EXPECT_TRUE(installation.ok());
    auto registry = HostRegistry::Open(std::move(installation).value(), options);
    EXPECT_TRUE(registry.ok()) << registry.status().ToString();
    if (registry.ok()) registry_ = std::move(registry).value();
    SetProcessRegistry(registry_.get());
  }
  ~OtherRegistry() { SetProcessRegistry(&fixture_.registry()); }

 private:
  testing::FilesInstallation& fixture_;
  std::unique_ptr<HostRegistry> registry_;
};

class SystemServicesTest : public ::testing::Test {
 protected:
  SystemServicesTest() : installation_({}, kKeys) {}

  // The key's owner, group and DACL as text, read through the "A" functions.
  std::string KeySddl(const std::string& path) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key),
              0u);
    std::string descriptor(512, '\0');
    uint32_t size = static_cast<uint32_t>(descriptor.size());
    EXPECT_EQ(RegGetKeySecurity(key, kOwnerGroupDacl, reinterpret_cast<uint8_t*>(descriptor.data()),
                                &size),
              0u);
    RegCloseKey(key);
    descriptor.resize(size);
    Result<std::string> text = SecurityDescriptorToSddl(descriptor, kOwnerGroupDacl);
    EXPECT_TRUE(text.ok()) << text.status().ToString();
    return text.ok() ? *text : std::string();
  }

  void SetKeySddl(const std::string& path, const std::string& text) {
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key),
              0u);
    Result<std::string> descriptor = SddlToSecurityDescriptor(text);
    ASSERT_TRUE(descriptor.ok());
    EXPECT_EQ(RegSetKeySecurity(key, kOwnerGroupDacl, *descriptor), 0u);
    RegCloseKey(key);
  }

  testing::FilesInstallation installation_;
};

// --- Privileges and restart ---

TEST_F(SystemServicesTest, PrivilegesFollowWhetherTheRegistryMayBeWritten) {
  struct Case {
    const char* name;
    uint32_t writable;   // AdjustPrivilege's answer on a writable registry
    uint32_t read_only;  // ... on a read-only one
  };
  const Case cases[] = {
      {"SeBackupPrivilege", 0, kErrorNotAllAssigned},
      {"SeRestorePrivilege", 0, kErrorNotAllAssigned},
      {"setakeownershipprivilege", 0, kErrorNotAllAssigned},
      {"SeShutdownPrivilege", kErrorNotAllAssigned, kErrorNotAllAssigned},
      {"SeDebugPrivilege", kErrorNotAllAssigned, kErrorNotAllAssigned},
      {"SeNoSuchPrivilege", kErrorNoSuchPrivilege, kErrorNoSuchPrivilege},
      {"", kErrorNoSuchPrivilege, kErrorNoSuchPrivilege},
      {"SeBackupPrivilege ", kErrorNoSuchPrivilege, kErrorNoSuchPrivilege},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AdjustPrivilege(c.name, true), c.writable);
    EXPECT_EQ(PrivilegeEnabled(c.name), c.writable == 0);
    EXPECT_EQ(EnablePrivilege(c.name, false), c.writable == 0);
    EXPECT_FALSE(PrivilegeEnabled(c.name));
  }
  OtherRegistry read_only(installation_, {.read_only = true});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AdjustPrivilege(c.name, true), c.read_only);
    EXPECT_FALSE(PrivilegeHeld(c.name));
    EXPECT_FALSE(PrivilegeEnabled(c.name));
  }
}

TEST_F(SystemServicesTest, EnabledStateIsKeptPerProcess) {
  ASSERT_TRUE(EnablePrivilege("SeRestorePrivilege", true));
  EXPECT_TRUE(PrivilegeEnabled("SeRestorePrivilege"));
  EXPECT_FALSE(PrivilegeEnabled("SeBackupPrivilege"));
  {
    // Held no longer: not enabled either, and it cannot be disabled.
    OtherRegistry read_only(installation_, {.read_only = true});
    EXPECT_FALSE(PrivilegeEnabled("SeRestorePrivilege"));
    EXPECT_FALSE(EnablePrivilege("SeRestorePrivilege", false));
  }
  EXPECT_TRUE(PrivilegeEnabled("SeRestorePrivilege"));
  EXPECT_TRUE(EnablePrivilege("SeRestorePrivilege", false));
  EXPECT_FALSE(PrivilegeEnabled("SeRestorePrivilege"));
}

TEST_F(SystemServicesTest, RestartIsNeverDoneHere) {
  EXPECT_FALSE(RestartWindows());
  EXPECT_FALSE(PrivilegeEnabled("SeShutdownPrivilege"));
  EXPECT_NE(RestartAdvice().find("next time Hivemend opens the installation"), std::string::npos);
}

// --- The user ---

TEST_F(SystemServicesTest, UserSidAndName) {
  std::string text = "unchanged";
  ASSERT_TRUE(GetCurrentUserSidText(&text));
  EXPECT_EQ(text, testing::kUserSid);
  EXPECT_EQ(GetUserSidString("BA"), testing::kUserSid);
  std::string name;
  ASSERT_TRUE(GetCurrentUserName(&name));
  EXPECT_EQ(name, "ann");
  {
    // The text is built from the binary SID, not copied from ProfileList's key name: the
    // authority's four low bytes make an unsigned number, and numbers lose leading zeros.
    // (ProfileList holds only SIDs of decimal authorities; the hexadecimal form is tested with
    // SidToText.)
    OtherRegistry other(installation_, {.user = "hexa"});
    ASSERT_TRUE(GetCurrentUserSidText(&text));
    EXPECT_EQ(text, "S-1-4294967295-21-7-1001");
    ASSERT_TRUE(GetCurrentUserName(&name));
    EXPECT_EQ(name, "hexa");
  }
  SetProcessRegistry(nullptr);
  text = "unchanged";
  EXPECT_FALSE(GetCurrentUserSidText(&text));
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(GetUserSidString("BA"), "BA");
  EXPECT_FALSE(GetCurrentUserName(&name));
  SetProcessRegistry(&installation_.registry());
}

// --- Key security ---

TEST_F(SystemServicesTest, KeySecurityNeedsItsRights) {
  const std::string descriptor = SddlToSecurityDescriptor("O:BAD:(A;;KA;;;BA)").value();
  struct Case {
    REGSAM access;
    uint32_t parts;
    uint32_t expected;
  };
  const Case cases[] = {
      {KEY_READ, DACL_SECURITY_INFORMATION, kErrorAccessDenied},
      {KEY_READ | WRITE_DAC, OWNER_SECURITY_INFORMATION, kErrorAccessDenied},
      {KEY_READ | WRITE_DAC, DACL_SECURITY_INFORMATION, 0},
      {WRITE_OWNER, OWNER_SECURITY_INFORMATION, 0},
      {KEY_ALL_ACCESS, SACL_SECURITY_INFORMATION, kErrorPrivilegeNotHeld},
      {KEY_ALL_ACCESS, 0, kErrorInvalidParameter},
  };
  for (const Case& c : cases) {
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Open", 0, c.access | KEY_WOW64_64KEY,
                            &key),
              0u);
    EXPECT_EQ(RegSetKeySecurity(key, c.parts, descriptor), c.expected)
        << std::hex << c.access << " " << c.parts;
    RegCloseKey(key);
  }
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Open", 0,
                          KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key),
            0u);
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, "not a descriptor"),
            kErrorInvalidSecurityDescr);
  RegCloseKey(key);
  // Keys that only a running Windows has refuse, whatever the handle may do.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key), 0u);
  EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), kErrorAccessDenied);
  RegCloseKey(key);
}

TEST_F(SystemServicesTest, GetKeySecuritySizesAndPicksParts) {
  SetKeySddl("SOFTWARE\\Open", "O:BAG:SYD:P(A;;KA;;;SY)");
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Open", 0, KEY_READ | KEY_WOW64_64KEY,
                          &key),
            0u);
  uint32_t size = 0;
  EXPECT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size),
            kErrorInsufficientBuffer);
  std::string buffer(size - 1, '\0');
  uint32_t small = size - 1;
  EXPECT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION,
                              reinterpret_cast<uint8_t*>(buffer.data()), &small),
            kErrorInsufficientBuffer);
  EXPECT_EQ(small, size);
  buffer.assign(size, '\0');
  ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION,
                              reinterpret_cast<uint8_t*>(buffer.data()), &size),
            0u);
  EXPECT_EQ(SecurityDescriptorToSddl(buffer, kOwnerGroupDacl).value(), "D:P(A;;KA;;;SY)");
  EXPECT_EQ(RegGetKeySecurity(key, SACL_SECURITY_INFORMATION, nullptr, &size),
            kErrorPrivilegeNotHeld);
  RegCloseKey(key);
}

// --- GrantKeyAccess ---

TEST_F(SystemServicesTest, GrantThenRestoreOwnerAndAccessList) {
  const std::string protected_sddl =
      std::string("O:") + kTrustedInstaller + "G:SYD:PAI(A;CI;KR;;;BU)(A;CI;KA;;;SY)";
  SetKeySddl("SOFTWARE\\Protected", protected_sddl);
  ASSERT_TRUE(SfcIsKeyProtected(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Protected", KEY_WOW64_64KEY));

  std::string error;
  std::string sddl;
  ASSERT_TRUE(GrantKeyAccess(&error, HKEY_LOCAL_MACHINE, "SOFTWARE\\Protected", &sddl)) << error;
  EXPECT_EQ(sddl, std::string("O:") + kTrustedInstaller + "D:PAI(A;CI;KR;;;BU)(A;CI;KA;;;SY)");
  const std::string granted = std::string("O:") + testing::kUserSid +
                              "G:SYD:PAI(A;CI;KR;;;BU)(A;CI;KA;;;SY)(A;OICI;GA;;;" +
                              testing::kUserSid + ")";
  EXPECT_EQ(KeySddl("SOFTWARE\\Protected"), granted);
  EXPECT_FALSE(SfcIsKeyProtected(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Protected", KEY_WOW64_64KEY));
  // The privilege was enabled around the change only.
  EXPECT_FALSE(PrivilegeEnabled("SeTakeOwnershipPrivilege"));
  // The subkey keeps its own descriptor: nothing is pushed down.
  EXPECT_EQ(KeySddl("SOFTWARE\\Protected\\Sub").find(testing::kUserSid), std::string::npos);

  std::string restore = sddl;
  ASSERT_TRUE(GrantKeyAccess(&error, HKEY_LOCAL_MACHINE, "SOFTWARE\\Protected", &restore)) << error;
  EXPECT_EQ(KeySddl("SOFTWARE\\Protected"), protected_sddl);
  EXPECT_TRUE(SfcIsKeyProtected(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Protected", KEY_WOW64_64KEY));
  // What comes back the second time is the granted state (the owner being the user then).
  EXPECT_EQ(restore, std::string("O:") + testing::kUserSid +
                         "D:PAI(A;CI;KR;;;BU)(A;CI;KA;;;SY)(A;OICI;GA;;;" + testing::kUserSid +
                         ")");
}

TEST_F(SystemServicesTest, GrantedAccessIsWrittenToTheHive) {
  std::string error;
  std::string sddl;
  ASSERT_TRUE(GrantKeyAccess(&error, HKEY_LOCAL_MACHINE, "SOFTWARE\\Open", &sddl)) << error;
  const std::string granted = KeySddl("SOFTWARE\\Open");
  ASSERT_TRUE(installation_.registry().Commit().ok());

  const std::filesystem::path file = installation_.root() / "Windows/System32/config/SOFTWARE";
  auto hive = hive::Hive::Open(file, {.read_only = true, .check_structure = true});
  ASSERT_TRUE(hive.ok()) << hive.status().ToString();
  EXPECT_TRUE((*hive)->anomalies().empty()) << (*hive)->anomalies()[0].reason;
  const hive::Key* key = (*hive)->Find(u"Open");
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->security());
  EXPECT_EQ(SecurityDescriptorToSddl(*key->security(), kOwnerGroupDacl).value(), granted);

  // An independent reader sees the new owner and the added entry.
  if (!hm::testing::HaveProgram("reglookup")) GTEST_SKIP() << "reglookup is not installed";
  std::string output;
  ASSERT_EQ(hm::testing::RunCommand("reglookup -s -H -t KEY -p /Open '" + file.string() + "'",
                                    &output),
            0);
  const std::string line = output.substr(0, output.find('\n'));
  EXPECT_NE(line.find(std::string(",") + testing::kUserSid + ","), std::string::npos) << line;
  EXPECT_NE(line.find(std::string(testing::kUserSid) + ":ALLOW:"), std::string::npos) << line;
}

TEST_F(SystemServicesTest, GrantFailsWithTheSystemMessage) {
  struct Case {
    const char* path;
    bool read_only;
    const char* error;
  };
  const Case cases[] = {
      {"SOFTWARE\\Nowhere", false, "The system cannot find the file specified."},
      {"SOFTWARE\\Open", true, "Access is denied."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    OtherRegistry registry(installation_, {.read_only = c.read_only});
    std::string error;
    std::string sddl = "kept";
    EXPECT_FALSE(GrantKeyAccess(&error, HKEY_LOCAL_MACHINE, c.path, &sddl));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(sddl, "kept");
  }
}

TEST_F(SystemServicesTest, GrantKeepsANullAccessList) {
  // No access list at all lets everyone in; one more entry would lock everyone else out.
  SetKeySddl("SOFTWARE\\Open", "O:BAG:SYD:NO_ACCESS_CONTROL");
  std::string error;
  std::string sddl;
  ASSERT_TRUE(GrantKeyAccess(&error, HKEY_LOCAL_MACHINE, "SOFTWARE\\Open", &sddl)) << error;
  EXPECT_EQ(sddl, "O:BAD:NO_ACCESS_CONTROL");
  EXPECT_EQ(KeySddl("SOFTWARE\\Open"),
            std::string("O:") + testing::kUserSid + "G:SYD:NO_ACCESS_CONTROL");
}

TEST_F(SystemServicesTest, GrantRefusesABadText) {
  std::string error;
  std::string sddl = "D:(A;;KA;;;nobody)";
  const std::string before = KeySddl("SOFTWARE\\Open");
  EXPECT_FALSE(GrantKeyAccess(&error, HKEY_LOCAL_MACHINE, "SOFTWARE\\Open", &sddl));
  EXPECT_EQ(error.rfind("ConvertStringSecurityDescriptorToSecurityDescriptor: ", 0), 0u) << error;
  EXPECT_EQ(sddl, "D:(A;;KA;;;nobody)");
  // Only the owner changed (taking ownership comes first, as it does on Windows).
  EXPECT_EQ(KeySddl("SOFTWARE\\Open").substr(KeySddl("SOFTWARE\\Open").find("G:")),
            before.substr(before.find("G:")));
}

}  // namespace
}  // namespace hm::reg
