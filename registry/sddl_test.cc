#include "registry/sddl.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/hive/hive.h"
#include "registry/security_descriptor.h"
#include "tests/support/testing.h"

namespace hm::reg {
namespace {

std::string MustBuild(std::string_view text) {
  Result<std::string> descriptor = SddlToSecurityDescriptor(text);
  EXPECT_TRUE(descriptor.ok()) << text << ": " << descriptor.status().ToString();
  return descriptor.ok() ? *descriptor : std::string();
}

constexpr uint32_t kAllButSacl =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

TEST(SidTextTest, BothAuthorityFormsRoundTrip) {
  struct Case {
    const char* text;
    std::array<uint8_t, 6> authority;
    std::vector<uint32_t> subs;
  };
  const Case cases[] = {
      {"S-1-5-21-1000-2000-3000-1001", {0, 0, 0, 0, 0, 5}, {21, 1000, 2000, 3000, 1001}},
      {"S-1-0", {0, 0, 0, 0, 0, 0}, {}},
      // The last four bytes make a big-endian number; no sign trouble at the top bit.
      {"S-1-4294967295-1", {0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, {1}},
      {"S-1-16-12288", {0, 0, 0, 0, 0, 16}, {12288}},
      // Hexadecimal once either of the first two bytes is not zero.
      {"S-1-0x010000000000-4294967295", {1, 0, 0, 0, 0, 0}, {4294967295u}},
      {"S-1-0x00AB12345678-7", {0, 0xAB, 0x12, 0x34, 0x56, 0x78}, {7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<Sid> sid = SidFromText(c.text);
    ASSERT_TRUE(sid);
    EXPECT_EQ(sid->authority, c.authority);
    EXPECT_EQ(sid->sub_authorities, c.subs);
    std::optional<Sid> binary = SidFromBytes(SidToBytes(*sid));
    ASSERT_TRUE(binary);
    EXPECT_EQ(SidToText(*binary), c.text);
  }
  // Decimal input for a large authority comes back in the form of the rule.
  EXPECT_EQ(SidToText(*SidFromText("s-1-0x000000000005-18")), "S-1-5-18");
}

TEST(SidTextTest, RejectsMalformedText) {
  for (const char* text : {"", "S-1-", "S-2-5-18", "S-1-5-", "S-1--5", "S-1-5-18-", "S-1-5-x",
                           "S-1-0x12345-1", "S-1-0x0000000000GG", "S-1-4294967296",
                           "S-1-5-4294967296", "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16",
                           "BA", "X-1-5"}) {
    EXPECT_FALSE(SidFromText(text)) << text;
  }
  // Fifteen sub-authorities is the most a SID holds.
  EXPECT_TRUE(SidFromText("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"));
}

TEST(SddlTest, TextRoundTripsThroughTheBinaryForm) {
  const char* texts[] = {
      "D:PAI(A;OICI;KA;;;BA)(A;CIIO;GA;;;CO)(A;OICI;KR;;;BU)(A;OICIID;KA;;;SY)",
      "O:BAG:SYD:(D;;SD;;;WD)(A;;KA;;;S-1-5-21-1000-2000-3000-1001)",
      // Rights without one name are their bits' names, else hexadecimal.
      "D:(A;;CCDCLCSWRPSDRC;;;AC)(A;;0x200;;;S-1-15-3-1024-1)(A;;KRWD;;;BA)(A;;0x20019;;;BA)",
      "D:ARAI(A;NPIO;GR;;;LS)",
      "D:NO_ACCESS_CONTROL",
      "D:P",
      "O:S-1-0x123456789ABC-1D:(OA;CI;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)",
      "D:(OD;;CR;;00299570-246d-11d0-a768-00aa006e0529;PS)",
  };
  const char* expected[] = {
      texts[0],
      texts[1],
      "D:(A;;CCDCLCSWRPSDRC;;;AC)(A;;0x200;;;S-1-15-3-1024-1)(A;;CCSWRPRCWD;;;BA)(A;;KR;;;BA)",
      texts[3],
      texts[4],
      texts[5],
      texts[6],
      texts[7],
  };
  for (size_t i = 0; i < std::size(texts); ++i) {
    SCOPED_TRACE(texts[i]);
    const std::string descriptor = MustBuild(texts[i]);
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
    Result<std::string> text = SecurityDescriptorToSddl(descriptor, kAllButSacl);
    ASSERT_TRUE(text.ok()) << text.status().ToString();
    EXPECT_EQ(*text, expected[i]);
  }
}

TEST(SddlTest, ReadsWhatTheTextSays) {
  Result<DescriptorParts> parts =
      ParseSecurityDescriptor(MustBuild("O:SYD:PAI(A;OICI;GA;;;BA)(D;CI;0x10;;;WD)"));
  ASSERT_TRUE(parts.ok());
  EXPECT_EQ(parts->owner, SidToBytes(*SidFromText("S-1-5-18")));
  EXPECT_FALSE(parts->group);
  EXPECT_EQ(parts->control & kDaclControlBits,
            SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED);
  Result<Acl> dacl = AclFromBytes(*parts->dacl);
  ASSERT_TRUE(dacl.ok());
  ASSERT_EQ(dacl->aces.size(), 2u);
  EXPECT_EQ(dacl->revision, ACL_REVISION);
  EXPECT_EQ(dacl->aces[0].type, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(dacl->aces[0].flags, 0x03);
  EXPECT_EQ(dacl->aces[0].mask, 0x10000000u);
  EXPECT_EQ(SidToText(dacl->aces[0].sid), "S-1-5-32-544");
  EXPECT_EQ(dacl->aces[1].type, ACCESS_DENIED_ACE_TYPE);
  EXPECT_EQ(dacl->aces[1].mask, 0x10u);
  EXPECT_EQ(SidToText(dacl->aces[1].sid), "S-1-1-0");
  // A text naming no DACL gives a descriptor without one, which is not the same as a null DACL.
  parts = ParseSecurityDescriptor(MustBuild("O:BA"));
  ASSERT_TRUE(parts.ok());
  EXPECT_EQ(parts->control & SE_DACL_PRESENT, 0);
  parts = ParseSecurityDescriptor(MustBuild("D:NO_ACCESS_CONTROL"));
  ASSERT_TRUE(parts.ok());
  EXPECT_NE(parts->control & SE_DACL_PRESENT, 0);
  EXPECT_FALSE(parts->dacl);
}

TEST(SddlTest, RejectsMalformedText) {
  struct Case {
    const char* text;
    uint32_t code;
  };
  const Case cases[] = {
      {"D:(A;;KA;;;XX)", kErrorInvalidSid},
      {"O:S-1-5-", kErrorInvalidSid},
      {"D:(Q;;KA;;;BA)", kErrorInvalidParameter},
      {"D:(A;;KA;;BA)", kErrorInvalidParameter},
      {"D:(A;;KA;;;BA", kErrorInvalidParameter},
      {"D:(A;QQ;KA;;;BA)", kErrorInvalidParameter},
      {"D:(A;;KQ;;;BA)", kErrorInvalidParameter},
      {"D:(A;;0x1g;;;BA)", kErrorInvalidParameter},
      {"D:(A;;KA;bf967aba-0de6-11d0-a285-00aa003049e2;;BA)", kErrorInvalidParameter},
      {"D:(OA;;KA;not-a-guid;;BA)", kErrorInvalidParameter},
      {"D:Z(A;;KA;;;BA)", kErrorInvalidParameter},
      {"D:NO_ACCESS_CONTROL(A;;KA;;;BA)", kErrorInvalidParameter},
      {"D:(A;;KA;;;BA)D:(A;;KA;;;BA)", kErrorInvalidParameter},
      {"X:BA", kErrorInvalidParameter},
      {"(A;;KA;;;BA)", kErrorInvalidParameter},
  };
  for (const Case& c : cases) {
    Result<std::string> descriptor = SddlToSecurityDescriptor(c.text);
    ASSERT_FALSE(descriptor.ok()) << c.text;
    EXPECT_EQ(descriptor.status().code(), c.code) << c.text;
  }
}

TEST(SecurityDescriptorTest, RejectsDamagedDescriptors) {
  const std::string good = MustBuild("O:BAG:SYD:(A;;KA;;;SY)");
  ASSERT_TRUE(IsValidSecurityDescriptor(good));
  auto with = [&](size_t at, uint8_t byte) {
    std::string copy = good;
    copy[at] = static_cast<char>(byte);
    return copy;
  };
  // Layout: header (20), DACL at 20 (8 + one ACE of 20), owner at 48, group at 64.
  EXPECT_FALSE(IsValidSecurityDescriptor(good.substr(0, 19)));
  EXPECT_FALSE(IsValidSecurityDescriptor(with(0, 2)));      // revision
  EXPECT_FALSE(IsValidSecurityDescriptor(with(3, 0x00)));   // not self-relative
  EXPECT_FALSE(IsValidSecurityDescriptor(with(4, 0xF0)));   // owner offset outside
  EXPECT_FALSE(IsValidSecurityDescriptor(with(16, 0x04)));  // DACL offset inside the header
  EXPECT_FALSE(IsValidSecurityDescriptor(with(20, 9)));     // ACL revision
  EXPECT_FALSE(IsValidSecurityDescriptor(with(22, 0xFF)));  // ACL size
  EXPECT_FALSE(IsValidSecurityDescriptor(with(24, 2)));     // ACE count past the ACL
  EXPECT_FALSE(IsValidSecurityDescriptor(with(30, 2)));     // ACE size below its SID
  EXPECT_FALSE(IsValidSecurityDescriptor(with(49, 16)));    // owner with 16 sub-authorities
  EXPECT_EQ(ParseSecurityDescriptor(with(0, 2)).status().code(), kErrorInvalidSecurityDescr);
}

TEST(SecurityDescriptorTest, DamagedBytesAreRefusedOrConvertedNeverOverread) {
  const std::string good = MustBuild(
      "O:BAG:SYD:PAI(A;OICI;KA;;;SY)(OA;CI;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)"
      "(D;;0x200;;;S-1-0x123456789ABC-1-2)");
  for (size_t at = 0; at < good.size(); ++at) {
    for (uint8_t byte : {0x00, 0x01, 0x7F, 0xFF}) {
      std::string damaged = good;
      damaged[at] = static_cast<char>(byte);
      Result<std::string> text = SecurityDescriptorToSddl(damaged, kAllButSacl);
      if (!text.ok()) continue;
      // Whatever still reads as a descriptor has a text that reads back.
      EXPECT_TRUE(SddlToSecurityDescriptor(*text).ok()) << at << ": " << *text;
    }
  }
  for (size_t size = 0; size < good.size(); ++size) {
    (void)SecurityDescriptorToSddl(good.substr(0, size), kAllButSacl);
  }
}

TEST(SecurityDescriptorTest, UnknownAceTypesHaveNoTextButSurviveAMerge) {
  // A callback ACE (type 9) with application data after its SID.
  Acl acl;
  Ace callback;
  callback.type = 9;
  callback.raw = std::string("\x09\x00\x18\x00\x3f\x00\x0f\x00\x01\x01\x00\x00\x00\x00\x00\x05"
                             "\x12\x00\x00\x00\x61\x72\x74\x78",
                             24);
  acl.aces.push_back(callback);
  DescriptorParts parts;
  parts.control = SE_DACL_PRESENT;
  parts.dacl = AclToBytes(acl);
  parts.owner = SidToBytes(*SidFromText("S-1-5-18"));
  const std::string descriptor = BuildSecurityDescriptor(parts);
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
  Result<std::string> text = SecurityDescriptorToSddl(descriptor, DACL_SECURITY_INFORMATION);
  ASSERT_FALSE(text.ok());
  EXPECT_EQ(text.status().code(), kErrorInvalidAcl);
  // Changing only the owner keeps the DACL byte for byte.
  Result<std::string> merged =
      MergeSecurityDescriptor(descriptor, OWNER_SECURITY_INFORMATION, MustBuild("O:BA"));
  ASSERT_TRUE(merged.ok());
  Result<DescriptorParts> after = ParseSecurityDescriptor(*merged);
  ASSERT_TRUE(after.ok());
  EXPECT_EQ(after->dacl, parts.dacl);
  EXPECT_EQ(SidToText(*SidFromBytes(*after->owner)), "S-1-5-32-544");
}

TEST(SecurityDescriptorTest, MergeTakesOnlyTheNamedParts) {
  const std::string current = MustBuild("O:SYG:SYD:PAI(A;;KA;;;SY)");
  const std::string given = MustBuild("O:BAG:BAD:(A;;KR;;;BU)");
  struct Case {
    uint32_t parts;
    const char* expected;
  };
  const Case cases[] = {
      {OWNER_SECURITY_INFORMATION, "O:BAG:SYD:PAI(A;;KA;;;SY)"},
      {GROUP_SECURITY_INFORMATION, "O:SYG:BAD:PAI(A;;KA;;;SY)"},
      // The DACL comes with its flags: "PAI" goes with the old list.
      {DACL_SECURITY_INFORMATION, "O:SYG:SYD:(A;;KR;;;BU)"},
      {OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, "O:BAG:SYD:(A;;KR;;;BU)"},
  };
  for (const Case& c : cases) {
    Result<std::string> merged = MergeSecurityDescriptor(current, c.parts, given);
    ASSERT_TRUE(merged.ok()) << merged.status().ToString();
    EXPECT_EQ(*SecurityDescriptorToSddl(*merged, kAllButSacl), c.expected);
  }
  EXPECT_EQ(MergeSecurityDescriptor(current, 0, given).status().code(), kErrorInvalidParameter);
  EXPECT_EQ(MergeSecurityDescriptor(current, OWNER_SECURITY_INFORMATION, MustBuild("D:"))
                .status()
                .code(),
            kErrorInvalidParameter);
  EXPECT_EQ(MergeSecurityDescriptor(current, DACL_SECURITY_INFORMATION, "junk").status().code(),
            kErrorInvalidSecurityDescr);
}

// Every distinct descriptor of the real hives survives descriptor -> text -> descriptor with
// the same owner, group, DACL flags and ACEs. The ACL header may differ: Windows writes some
// DACLs with revision 4 and unused bytes at the end, which the text does not carry (Windows'
// own converter also builds revision 2 and exact sizes).
class RealHiveSddlTest : public ::testing::TestWithParam<const char*> {};

void CollectSecurity(const hive::Key& key, std::set<std::string>* out) {
  if (key.security()) out->insert(*key.security());
  for (const auto& subkey : key.subkeys()) CollectSecurity(*subkey, out);
}

TEST_P(RealHiveSddlTest, EveryDescriptorRoundTrips) {
  hm::testing::TempDir dir;
  const std::filesystem::path file = hm::testing::UnpackSharedHive(GetParam(), dir.path());
  ASSERT_FALSE(file.empty());
  hive::OpenOptions options;
  options.read_only = true;
  auto hive = hive::Hive::Open(file, options);
  ASSERT_TRUE(hive.ok()) << hive.status().ToString();
  std::set<std::string> descriptors;
  CollectSecurity((*hive)->root(), &descriptors);
  ASSERT_FALSE(descriptors.empty());
  for (const std::string& descriptor : descriptors) {
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
    Result<std::string> text = SecurityDescriptorToSddl(descriptor, kAllButSacl);
    ASSERT_TRUE(text.ok()) << text.status().ToString();
    Result<std::string> back = SddlToSecurityDescriptor(*text);
    ASSERT_TRUE(back.ok()) << *text << ": " << back.status().ToString();
    Result<DescriptorParts> before = ParseSecurityDescriptor(descriptor);
    Result<DescriptorParts> after = ParseSecurityDescriptor(*back);
    ASSERT_TRUE(before.ok() && after.ok());
    SCOPED_TRACE(*text);
    EXPECT_EQ(after->owner, before->owner);
    EXPECT_EQ(after->group, before->group);
    EXPECT_EQ(after->control & kDaclControlBits, before->control & kDaclControlBits);
    ASSERT_EQ(after->dacl.has_value(), before->dacl.has_value());
    if (before->dacl) {
      EXPECT_EQ(AclFromBytes(*after->dacl)->aces, AclFromBytes(*before->dacl)->aces);
    }
    EXPECT_EQ(SecurityDescriptorToSddl(*back, kAllButSacl).value(), *text);
  }
}

INSTANTIATE_TEST_SUITE_P(SharedHives, RealHiveSddlTest,
                         ::testing::Values("NTUSER.DAT", "UsrClass.dat", "SYSTEM", "SYSTEM_B"));

}  // namespace
}  // namespace hm::reg
