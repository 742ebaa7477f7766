#include "registry/sddl.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

namespace hm::reg {
namespace {

struct Alias {
  const char* name;
  const char* sid;
};

// Well-known SIDs with an SDDL alias. The aliases that stand for a domain's or a machine's own
// accounts (DA, DU, LA, ...) are left out: they depend on a domain SID this program does not know.
constexpr Alias kSidAliases[] = {
    {"AN", "S-1-5-7"},          {"AO", "S-1-5-32-548"},     {"AU", "S-1-5-11"},
    {"BA", "S-1-5-32-544"},     {"BG", "S-1-5-32-546"},     {"BO", "S-1-5-32-551"},
    {"BU", "S-1-5-32-545"},     {"CG", "S-1-3-1"},          {"CO", "S-1-3-0"},
    {"ED", "S-1-5-9"},          {"IU", "S-1-5-4"},          {"LS", "S-1-5-19"},
    {"NO", "S-1-5-32-556"},     {"NS", "S-1-5-20"},         {"NU", "S-1-5-2"},
    {"PO", "S-1-5-32-550"},     {"PS", "S-1-5-10"},         {"PU", "S-1-5-32-547"},
    {"RC", "S-1-5-12"},         {"RD", "S-1-5-32-555"},     {"RE", "S-1-5-32-552"},
    {"RU", "S-1-5-32-554"},     {"SO", "S-1-5-32-549"},     {"SU", "S-1-5-6"},
    {"SY", "S-1-5-18"},         {"WD", "S-1-1-0"},          {"AC", "S-1-15-2-1"},
    {"OW", "S-1-3-4"},          {"WR", "S-1-5-33"},         {"LW", "S-1-16-4096"},
    {"ME", "S-1-16-8192"},      {"HI", "S-1-16-12288"},     {"SI", "S-1-16-16384"},
    {"MU", "S-1-5-32-558"},     {"LU", "S-1-5-32-559"},     {"IS", "S-1-5-32-568"},
    {"CY", "S-1-5-32-569"},     {"ER", "S-1-5-32-573"},     {"CD", "S-1-5-32-574"},
    {"RA", "S-1-5-32-575"},     {"ES", "S-1-5-32-576"},     {"MS", "S-1-5-32-577"},
    {"HA", "S-1-5-32-578"},     {"AA", "S-1-5-32-579"},     {"RM", "S-1-5-32-580"},
};

struct Name {
  const char* name;
  uint32_t value;
};

// Names that stand for a whole mask. KR and KX are the same mask; KR is written.
constexpr Name kMaskNames[] = {
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
    {"FA", 0x001F01FF}, {"FR", 0x00120089}, {"FW", 0x00120116}, {"FX", 0x001200A0},
    {"KA", 0x000F003F}, {"KR", 0x00020019}, {"KW", 0x00020006}, {"KX", 0x00020019},
};

// Names of single rights, in the order of their bits.
constexpr Name kBitNames[] = {
    {"CC", 0x00000001}, {"DC", 0x00000002}, {"LC", 0x00000004}, {"SW", 0x00000008},
    {"RP", 0x00000010}, {"WP", 0x00000020}, {"DT", 0x00000040}, {"LO", 0x00000080},
    {"CR", 0x00000100}, {"SD", 0x00010000}, {"RC", 0x00020000}, {"WD", 0x00040000},
    {"WO", 0x00080000}, {"GA", 0x10000000}, {"GX", 0x20000000}, {"GW", 0x40000000},
    {"GR", 0x80000000},
};

// The policy bits of a mandatory label ACE.
constexpr Name kLabelBitNames[] = {{"NW", 0x1}, {"NR", 0x2}, {"NX", 0x4}};

constexpr Name kAceTypes[] = {
    {"A", ACCESS_ALLOWED_ACE_TYPE},         {"D", ACCESS_DENIED_ACE_TYPE},
    {"OA", ACCESS_ALLOWED_OBJECT_ACE_TYPE}, {"OD", ACCESS_DENIED_OBJECT_ACE_TYPE},
    {"AU", SYSTEM_AUDIT_ACE_TYPE},          {"ML", SYSTEM_MANDATORY_LABEL_ACE_TYPE},
};

constexpr Name kAceFlags[] = {{"OI", 0x01}, {"CI", 0x02}, {"NP", 0x04}, {"IO", 0x08},
                              {"ID", 0x10}, {"SA", 0x40}, {"FA", 0x80}};

// ACL flags with the DACL's control bits; a SACL's are these shifted left by one.
constexpr Name kAclFlags[] = {
    {"P", SE_DACL_PROTECTED}, {"AR", SE_DACL_AUTO_INHERIT_REQ}, {"AI", SE_DACL_AUTO_INHERITED}};
constexpr std::string_view kNullAcl = "NO_ACCESS_CONTROL";

Status BadText(std::string_view what, std::string_view where) {
  return Status::Error(kErrorInvalidParameter,
                       "SDDL: " + std::string(what) + " at \"" + std::string(where.substr(0, 40)) +
                           "\"");
}

// --- Writing ---

std::string RightsText(uint32_t mask, uint8_t ace_type) {
  if (mask == 0) return {};
  const bool label = ace_type == SYSTEM_MANDATORY_LABEL_ACE_TYPE;
  if (!label) {
    for (const Name& name : kMaskNames) {
      if (name.value == mask) return name.name;
    }
  }
  std::string text;
  uint32_t left = mask;
  auto take = [&](const Name& name) {
    if ((left & name.value) != 0) {
      text += name.name;
      left &= ~name.value;
    }
  };
  if (label) {
    for (const Name& name : kLabelBitNames) take(name);
  } else {
    for (const Name& name : kBitNames) take(name);
  }
  if (left == 0) return text;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", mask);
  return hex;
}

std::string GuidText(const std::optional<Guid>& guid) {
  if (!guid) return {};
  const auto& b = guid->bytes;
  char text[40];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[3], b[2],
                b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

Result<std::string> AceText(const Ace& ace) {
  const char* type = nullptr;
  for (const Name& name : kAceTypes) {
    if (name.value == ace.type) type = name.name;
  }
  if (type == nullptr) {
    return Status::Error(kErrorInvalidAcl,
                         "SDDL: ACE type " + std::to_string(ace.type) + " has no text form");
  }
  std::string text = "(";
  text += type;
  text += ';';
  for (const Name& flag : kAceFlags) {
    if (ace.flags & flag.value) text += flag.name;
  }
  text += ';' + RightsText(ace.mask, ace.type) + ';' + GuidText(ace.object_type) + ';' +
          GuidText(ace.inherited_object_type) + ';' + SddlSidText(ace.sid) + ')';
  return text;
}

// An ACL part after its "D:" or "S:": flags, then the ACEs. `shift` moves the DACL's control bits
// to the SACL's.
Result<std::string> AclText(uint16_t control, const std::optional<std::string>& acl_bytes,
                            int shift) {
  std::string text;
  for (const Name& flag : kAclFlags) {
    if (control & (flag.value << shift)) text += flag.name;
  }
  if (!acl_bytes) return text + std::string(kNullAcl);
  Result<Acl> acl = AclFromBytes(*acl_bytes);
  if (!acl.ok()) return acl.status();
  for (const Ace& ace : acl->aces) {
    Result<std::string> ace_text = AceText(ace);
    if (!ace_text.ok()) return ace_text.status();
    text += *ace_text;
  }
  return text;
}

// --- Reading ---

// Reads consecutive two-letter names of `table` from `text`; false when a piece is no name.
template <size_t N>
bool ReadNames(std::string_view text, const Name (&table)[N], uint32_t* value) {
  *value = 0;
  while (!text.empty()) {
    if (text.size() < 2) return false;
    bool found = false;
    for (const Name& name : table) {
      if (text.substr(0, 2) == name.name) {
        *value |= name.value;
        found = true;
        break;
      }
    }
    if (!found) return false;
    text.remove_prefix(2);
  }
  return true;
}

bool ReadRights(std::string_view text, uint8_t ace_type, uint32_t* mask) {
  if (text.empty()) {
    *mask = 0;
    return true;
  }
  if (text[0] >= '0' && text[0] <= '9') {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      text.remove_prefix(2);
      base = 16;
    }
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *mask, base);
    return ec == std::errc() && p == text.data() + text.size();
  }
  if (ace_type == SYSTEM_MANDATORY_LABEL_ACE_TYPE) return ReadNames(text, kLabelBitNames, mask);
  // Whole-mask names and bit names mix freely ("KRWD").
  *mask = 0;
  while (!text.empty()) {
    uint32_t part = 0;
    if (!ReadNames(text.substr(0, 2), kMaskNames, &part) &&
        !ReadNames(text.substr(0, 2), kBitNames, &part)) {
      return false;
    }
    *mask |= part;
    text.remove_prefix(2);
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadGuid(std::string_view text, std::optional<Guid>* guid) {
  if (text.empty()) {
    guid->reset();
    return true;
  }
  if (text.size() != 36) return false;
  // Byte positions in the stored form of the digit pairs as written, dashes skipped.
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  Guid value;
  size_t at = 0;
  for (int i = 0; i < 16; ++i) {
    if (at == 8 || at == 13 || at == 18 || at == 23) {
      if (text[at] != '-') return false;
      ++at;
    }
    const int high = HexDigit(text[at]);
    const int low = HexDigit(text[at + 1]);
    if (high < 0 || low < 0) return false;
    value.bytes[kOrder[i]] = static_cast<uint8_t>(high << 4 | low);
    at += 2;
  }
  *guid = value;
  return true;
}

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ';') {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return fields;
}

// Reads one ACE written without its parentheses.
Result<Ace> ReadAce(std::string_view text) {
  std::vector<std::string_view> fields = SplitFields(text);
  if (fields.size() != 6) return BadText("an ACE needs six fields", text);
  Ace ace;
  bool type_found = false;
  for (const Name& name : kAceTypes) {
    if (fields[0] == name.name) {
      ace.type = static_cast<uint8_t>(name.value);
      type_found = true;
    }
  }
  if (!type_found) return BadText("unknown ACE type", text);
  uint32_t flags = 0;
  if (!ReadNames(fields[1], kAceFlags, &flags)) return BadText("unknown ACE flags", text);
  ace.flags = static_cast<uint8_t>(flags);
  if (!ReadRights(fields[2], ace.type, &ace.mask)) return BadText("unknown rights", text);
  const bool object = ace.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                      ace.type == ACCESS_DENIED_OBJECT_ACE_TYPE;
  if (!ReadGuid(fields[3], &ace.object_type) ||
      !ReadGuid(fields[4], &ace.inherited_object_type)) {
    return BadText("bad GUID", text);
  }
  if (!object && (ace.object_type || ace.inherited_object_type)) {
    return BadText("GUIDs belong to object ACEs only", text);
  }
  std::optional<Sid> sid = SddlSid(fields[5]);
  if (!sid) return Status::Error(kErrorInvalidSid, "SDDL: SID \"" + std::string(fields[5]) + "\"");
  ace.sid = std::move(*sid);
  return ace;
}

// Reads an ACL part (after "D:" or "S:") into `parts`; `dacl` tells which one.
Status ReadAclPart(std::string_view text, bool dacl, DescriptorParts* parts) {
  const int shift = dacl ? 0 : 1;
  uint16_t control = dacl ? SE_DACL_PRESENT : SE_SACL_PRESENT;
  bool null_acl = false;
  while (!text.empty() && text[0] != '(') {
    if (text.substr(0, kNullAcl.size()) == kNullAcl) {
      null_acl = true;
      text.remove_prefix(kNullAcl.size());
      continue;
    }
    bool found = false;
    for (const Name& flag : kAclFlags) {
      const std::string_view name = flag.name;
      if (text.substr(0, name.size()) == name) {
        control |= static_cast<uint16_t>(flag.value << shift);
        text.remove_prefix(name.size());
        found = true;
        break;
      }
    }
    if (!found) return BadText("unknown ACL flag", text);
  }
  Acl acl;
  while (!text.empty()) {
    if (text[0] != '(') return BadText("expected '('", text);
    const size_t close = text.find(')');
    if (close == std::string_view::npos) return BadText("ACE without ')'", text);
    Result<Ace> ace = ReadAce(text.substr(1, close - 1));
    if (!ace.ok()) return ace.status();
    if (ace->object_type || ace->inherited_object_type ||
        ace->type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || ace->type == ACCESS_DENIED_OBJECT_ACE_TYPE) {
      acl.revision = ACL_REVISION_DS;
    }
    acl.aces.push_back(std::move(*ace));
    text.remove_prefix(close + 1);
  }
  if (null_acl && !acl.aces.empty()) {
    return Status::Error(kErrorInvalidParameter, "SDDL: a null ACL cannot hold ACEs");
  }
  parts->control |= control;
  std::optional<std::string> bytes;
  if (!null_acl) bytes = AclToBytes(acl);
  (dacl ? parts->dacl : parts->sacl) = std::move(bytes);
  return Status::Ok();
}

// The start of the next part ("O:", "G:", "D:", "S:") at or after `from`, outside parentheses.
size_t NextPart(std::string_view text, size_t from) {
  int depth = 0;
  for (size_t i = from; i + 1 < text.size(); ++i) {
    if (text[i] == '(') ++depth;
    if (text[i] == ')') --depth;
    if (depth == 0 && text[i + 1] == ':' &&
        (text[i] == 'O' || text[i] == 'G' || text[i] == 'D' || text[i] == 'S')) {
      return i;
    }
  }
  return text.size();
}

}  // namespace

std::optional<Sid> SddlSid(std::string_view text) {
  if (text.size() == 2) {
    for (const Alias& alias : kSidAliases) {
      if (text == alias.name) return SidFromText(alias.sid);
    }
    return std::nullopt;
  }
  return SidFromText(text);
}

std::string SddlSidText(const Sid& sid) {
  const std::string text = SidToText(sid);
  for (const Alias& alias : kSidAliases) {
    if (text == alias.sid) return alias.name;
  }
  return text;
}

Result<std::string> SecurityDescriptorToSddl(std::string_view descriptor,
                                             uint32_t security_information) {
  Result<DescriptorParts> parts = ParseSecurityDescriptor(descriptor);
  if (!parts.ok()) return parts.status();
  std::string text;
  auto sid_part = [&](const char* prefix, const std::optional<std::string>& bytes) {
    if (!bytes) return;
    text += prefix + SddlSidText(*SidFromBytes(*bytes));
  };
  if (security_information & OWNER_SECURITY_INFORMATION) sid_part("O:", parts->owner);
  if (security_information & GROUP_SECURITY_INFORMATION) sid_part("G:", parts->group);
  if (security_information & DACL_SECURITY_INFORMATION) {
    Result<std::string> acl = AclText(parts->control, parts->dacl, 0);
    if (!acl.ok()) return acl.status();
    text += "D:" + *acl;
  }
  if ((security_information & SACL_SECURITY_INFORMATION) && (parts->control & SE_SACL_PRESENT)) {
    Result<std::string> acl = AclText(parts->control, parts->sacl, 1);
    if (!acl.ok()) return acl.status();
    text += "S:" + *acl;
  }
  return text;
}

Result<std::string> SddlToSecurityDescriptor(std::string_view text) {
  DescriptorParts parts;
  size_t at = NextPart(text, 0);
  if (at != 0 && !text.empty()) return BadText("expected O:, G:, D: or S:", text);
  bool seen[4] = {};
  while (at < text.size()) {
    const char kind = text[at];
    const size_t next = NextPart(text, at + 2);
    const std::string_view body = text.substr(at + 2, next - at - 2);
    const int index = kind == 'O' ? 0 : kind == 'G' ? 1 : kind == 'D' ? 2 : 3;
    if (seen[index]) return BadText("part given twice", text.substr(at));
    seen[index] = true;
    if (kind == 'O' || kind == 'G') {
      std::optional<Sid> sid = SddlSid(body);
      if (!sid) return Status::Error(kErrorInvalidSid, "SDDL: SID \"" + std::string(body) + "\"");
      (kind == 'O' ? parts.owner : parts.group) = SidToBytes(*sid);
    } else {
      HM_RETURN_IF_ERROR(ReadAclPart(body, kind == 'D', &parts));
    }
    at = next;
  }
  return BuildSecurityDescriptor(parts);
}

}  // namespace hm::reg
