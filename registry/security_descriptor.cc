#include "registry/security_descriptor.h"

#include <charconv>
#include <cstring>

namespace hm::reg {
namespace {

constexpr size_t kHeaderSize = 20;
constexpr size_t kAclHeaderSize = 8;
constexpr size_t kAceHeaderSize = 4;
constexpr size_t kMaxSubAuthorities = 15;
constexpr uint32_t kObjectTypePresent = 0x1;
constexpr uint32_t kInheritedObjectTypePresent = 0x2;

uint16_t Read16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               static_cast<uint8_t>(bytes[at + 1]) << 8);
}

uint32_t Read32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(Read16(bytes, at)) |
         static_cast<uint32_t>(Read16(bytes, at + 2)) << 16;
}

void Put16(std::string* out, uint16_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>(value >> 8));
}

void Put32(std::string* out, uint32_t value) {
  Put16(out, static_cast<uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<uint16_t>(value >> 16));
}

void Set16(std::string* out, size_t at, uint16_t value) {
  (*out)[at] = static_cast<char>(value & 0xFF);
  (*out)[at + 1] = static_cast<char>(value >> 8);
}

void Set32(std::string* out, size_t at, uint32_t value) {
  Set16(out, at, static_cast<uint16_t>(value & 0xFFFF));
  Set16(out, at + 2, static_cast<uint16_t>(value >> 16));
}

bool IsPlainAceType(uint8_t type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE ||
         type == SYSTEM_AUDIT_ACE_TYPE || type == SYSTEM_MANDATORY_LABEL_ACE_TYPE;
}

bool IsObjectAceType(uint8_t type) {
  return type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE;
}

Status InvalidAcl(std::string context) {
  return Status::Error(kErrorInvalidAcl, std::move(context));
}

// Reads the body of an ACE of a type read in full; false when it does not fit in `ace_bytes`.
bool ReadAceBody(std::string_view ace_bytes, Ace* ace) {
  size_t at = kAceHeaderSize;
  if (ace_bytes.size() < at + 4) return false;
  ace->mask = Read32(ace_bytes, at);
  at += 4;
  if (IsObjectAceType(ace->type)) {
    if (ace_bytes.size() < at + 4) return false;
    const uint32_t present = Read32(ace_bytes, at);
    at += 4;
    for (auto [bit, guid] : {std::pair{kObjectTypePresent, &ace->object_type},
                             std::pair{kInheritedObjectTypePresent, &ace->inherited_object_type}}) {
      if ((present & bit) == 0) continue;
      if (ace_bytes.size() < at + 16) return false;
      Guid value;
      std::memcpy(value.bytes.data(), ace_bytes.data() + at, 16);
      *guid = value;
      at += 16;
    }
  }
  size_t sid_size = 0;
  std::optional<Sid> sid = SidFromBytes(ace_bytes.substr(at), &sid_size);
  if (!sid) return false;
  ace->sid = std::move(*sid);
  if (at + sid_size != ace_bytes.size()) ace->raw = std::string(ace_bytes);
  return true;
}

std::string AceToBytes(const Ace& ace) {
  if (!ace.raw.empty()) return ace.raw;
  std::string out;
  out.push_back(static_cast<char>(ace.type));
  out.push_back(static_cast<char>(ace.flags));
  Put16(&out, 0);  // size, set below
  Put32(&out, ace.mask);
  if (IsObjectAceType(ace.type)) {
    uint32_t present = 0;
    if (ace.object_type) present |= kObjectTypePresent;
    if (ace.inherited_object_type) present |= kInheritedObjectTypePresent;
    Put32(&out, present);
    for (const auto* guid : {&ace.object_type, &ace.inherited_object_type}) {
      if (*guid) out.append(reinterpret_cast<const char*>((*guid)->bytes.data()), 16);
    }
  }
  out += SidToBytes(ace.sid);
  Set16(&out, 2, static_cast<uint16_t>(out.size()));
  return out;
}

// The bytes of a SID at `offset` of a descriptor; nullopt when it is not a valid SID there.
std::optional<std::string> SidPart(std::string_view descriptor, uint32_t offset) {
  if (offset < kHeaderSize || offset >= descriptor.size()) return std::nullopt;
  size_t size = 0;
  if (!SidFromBytes(descriptor.substr(offset), &size)) return std::nullopt;
  return std::string(descriptor.substr(offset, size));
}

// The bytes of an ACL at `offset` of a descriptor; nullopt when it is not a valid ACL there.
std::optional<std::string> AclPart(std::string_view descriptor, uint32_t offset) {
  if (offset < kHeaderSize || offset + kAclHeaderSize > descriptor.size()) return std::nullopt;
  const uint16_t size = Read16(descriptor, offset + 2);
  if (size < kAclHeaderSize || offset + size > descriptor.size()) return std::nullopt;
  std::string_view bytes = descriptor.substr(offset, size);
  if (!AclFromBytes(bytes).ok()) return std::nullopt;
  return std::string(bytes);
}

}  // namespace

std::string SecurityErrorMessage(uint32_t code) {
  switch (code) {
    case kErrorNotAllAssigned:
      return "Not all privileges or groups referenced are assigned to the caller.";
    case kErrorNoSuchPrivilege:
      return "A specified privilege does not exist.";
    case kErrorInvalidAcl:
      return "The access control list (ACL) structure is invalid.";
    case kErrorInvalidSid:
      return "The security ID structure is invalid.";
    case kErrorInvalidSecurityDescr:
      return "The security descriptor structure is invalid.";
    default:
      return WinErrorMessage(code);
  }
}

// --- SIDs ---

std::string SidToBytes(const Sid& sid) {
  std::string out;
  out.push_back(static_cast<char>(sid.revision));
  out.push_back(static_cast<char>(sid.sub_authorities.size()));
  out.append(reinterpret_cast<const char*>(sid.authority.data()), sid.authority.size());
  for (uint32_t sub : sid.sub_authorities) Put32(&out, sub);
  return out;
}

std::optional<Sid> SidFromBytes(std::string_view bytes, size_t* size) {
  if (bytes.size() < 8) return std::nullopt;
  Sid sid;
  sid.revision = static_cast<uint8_t>(bytes[0]);
  const size_t count = static_cast<uint8_t>(bytes[1]);
  if (sid.revision != 1 || count > kMaxSubAuthorities || bytes.size() < 8 + 4 * count) {
    return std::nullopt;
  }
  std::memcpy(sid.authority.data(), bytes.data() + 2, 6);
  for (size_t i = 0; i < count; ++i) sid.sub_authorities.push_back(Read32(bytes, 8 + 4 * i));
  if (size != nullptr) *size = 8 + 4 * count;
  return sid;
}

std::string SidToText(const Sid& sid) {
  std::string text = "S-" + std::to_string(sid.revision) + "-";
  const auto& a = sid.authority;
  if (a[0] == 0 && a[1] == 0) {
    const uint32_t value = static_cast<uint32_t>(a[2]) << 24 | static_cast<uint32_t>(a[3]) << 16 |
                           static_cast<uint32_t>(a[4]) << 8 | a[5];
    text += std::to_string(value);
  } else {
    static constexpr char kHex[] = "0123456789ABCDEF";
    text += "0x";
    for (uint8_t byte : a) {
      text += kHex[byte >> 4];
      text += kHex[byte & 15];
    }
  }
  for (uint32_t sub : sid.sub_authorities) text += "-" + std::to_string(sub);
  return text;
}

std::optional<Sid> SidFromText(std::string_view text) {
  if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text.substr(1, 3) != "-1-") {
    return std::nullopt;
  }
  text.remove_prefix(4);
  Sid sid;
  // The authority: 0x and 12 hexadecimal digits, or a decimal number below 2^32.
  const size_t end = std::min(text.find('-'), text.size());
  std::string_view authority = text.substr(0, end);
  if (authority.size() > 2 && authority[0] == '0' && (authority[1] == 'x' || authority[1] == 'X')) {
    authority.remove_prefix(2);
    uint64_t value = 0;
    auto [p, ec] = std::from_chars(authority.data(), authority.data() + authority.size(), value, 16);
    if (authority.size() != 12 || ec != std::errc() || p != authority.data() + authority.size()) {
      return std::nullopt;
    }
    for (int i = 5; i >= 0; --i, value >>= 8) sid.authority[i] = static_cast<uint8_t>(value);
  } else {
    uint32_t value = 0;
    auto [p, ec] = std::from_chars(authority.data(), authority.data() + authority.size(), value);
    if (authority.empty() || ec != std::errc() || p != authority.data() + authority.size()) {
      return std::nullopt;
    }
    for (int i = 5; i >= 2; --i, value >>= 8) sid.authority[i] = static_cast<uint8_t>(value);
  }
  text.remove_prefix(end);
  while (!text.empty()) {
    text.remove_prefix(1);  // the '-'
    uint32_t sub = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), sub);
    if (ec != std::errc() || p == text.data() || sid.sub_authorities.size() == kMaxSubAuthorities) {
      return std::nullopt;
    }
    sid.sub_authorities.push_back(sub);
    text.remove_prefix(static_cast<size_t>(p - text.data()));
    if (!text.empty() && text[0] != '-') return std::nullopt;
  }
  return sid;
}

// --- ACLs ---

std::string AclToBytes(const Acl& acl) {
  std::string out;
  out.push_back(static_cast<char>(acl.revision));
  out.push_back(0);
  Put16(&out, 0);  // size, set below
  Put16(&out, static_cast<uint16_t>(acl.aces.size()));
  Put16(&out, 0);
  for (const Ace& ace : acl.aces) out += AceToBytes(ace);
  Set16(&out, 2, static_cast<uint16_t>(out.size()));
  return out;
}

Result<Acl> AclFromBytes(std::string_view bytes) {
  if (bytes.size() < kAclHeaderSize) return InvalidAcl("ACL shorter than its header");
  Acl acl;
  acl.revision = static_cast<uint8_t>(bytes[0]);
  const uint16_t size = Read16(bytes, 2);
  const uint16_t count = Read16(bytes, 4);
  if (acl.revision < ACL_REVISION || acl.revision > ACL_REVISION_DS) {
    return InvalidAcl("ACL revision " + std::to_string(acl.revision));
  }
  if (size < kAclHeaderSize || size > bytes.size()) return InvalidAcl("ACL size out of range");
  size_t at = kAclHeaderSize;
  for (uint16_t i = 0; i < count; ++i) {
    if (at + kAceHeaderSize > size) return InvalidAcl("ACE " + std::to_string(i) + " past the end");
    const uint16_t ace_size = Read16(bytes, at + 2);
    if (ace_size < kAceHeaderSize || at + ace_size > size) {
      return InvalidAcl("ACE " + std::to_string(i) + " has a bad size");
    }
    std::string_view ace_bytes = bytes.substr(at, ace_size);
    Ace ace;
    ace.type = static_cast<uint8_t>(ace_bytes[0]);
    ace.flags = static_cast<uint8_t>(ace_bytes[1]);
    if (IsPlainAceType(ace.type) || IsObjectAceType(ace.type)) {
      if (!ReadAceBody(ace_bytes, &ace)) {
        return InvalidAcl("ACE " + std::to_string(i) + " is malformed");
      }
    } else {
      ace.raw = std::string(ace_bytes);
    }
    acl.aces.push_back(std::move(ace));
    at += ace_size;
  }
  return acl;
}

// --- Descriptors ---

Result<DescriptorParts> ParseSecurityDescriptor(std::string_view descriptor) {
  auto invalid = [](const char* why) {
    return Status::Error(kErrorInvalidSecurityDescr, std::string("security descriptor: ") + why);
  };
  if (descriptor.size() < kHeaderSize) return invalid("shorter than its header");
  const uint16_t control = Read16(descriptor, 2);
  if (descriptor[0] != 1) return invalid("revision is not 1");
  if ((control & SE_SELF_RELATIVE) == 0) return invalid("not self-relative");
  DescriptorParts parts;
  parts.control = control & static_cast<uint16_t>(~SE_SELF_RELATIVE);
  const uint32_t owner = Read32(descriptor, 4);
  const uint32_t group = Read32(descriptor, 8);
  const uint32_t sacl = Read32(descriptor, 12);
  const uint32_t dacl = Read32(descriptor, 16);
  if (owner != 0 && !(parts.owner = SidPart(descriptor, owner))) return invalid("bad owner");
  if (group != 0 && !(parts.group = SidPart(descriptor, group))) return invalid("bad group");
  if ((control & SE_SACL_PRESENT) && sacl != 0 && !(parts.sacl = AclPart(descriptor, sacl))) {
    return invalid("bad SACL");
  }
  if ((control & SE_DACL_PRESENT) && dacl != 0 && !(parts.dacl = AclPart(descriptor, dacl))) {
    return invalid("bad DACL");
  }
  return parts;
}

std::string BuildSecurityDescriptor(const DescriptorParts& parts) {
  uint16_t control = parts.control | SE_SELF_RELATIVE;
  if (parts.sacl) control |= SE_SACL_PRESENT;
  if (parts.dacl) control |= SE_DACL_PRESENT;
  std::string out(kHeaderSize, '\0');
  out[0] = 1;
  Set16(&out, 2, control);
  // Header offsets of owner, group, SACL, DACL; parts are laid out SACL, DACL, owner, group.
  const std::pair<const std::optional<std::string>*, size_t> layout[] = {
      {&parts.sacl, 12}, {&parts.dacl, 16}, {&parts.owner, 4}, {&parts.group, 8}};
  for (const auto& [part, header_offset] : layout) {
    if (!*part) continue;
    Set32(&out, header_offset, static_cast<uint32_t>(out.size()));
    out += **part;
  }
  return out;
}

bool IsValidSecurityDescriptor(std::string_view descriptor) {
  return ParseSecurityDescriptor(descriptor).ok();
}

Result<std::string> MergeSecurityDescriptor(std::string_view current,
                                            uint32_t security_information,
                                            std::string_view given) {
  constexpr uint32_t kAllParts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                 DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
  if ((security_information & kAllParts) == 0) {
    return Status::Error(kErrorInvalidParameter, "no part of the security descriptor named");
  }
  Result<DescriptorParts> parts = ParseSecurityDescriptor(current);
  if (!parts.ok()) return parts.status();
  Result<DescriptorParts> from = ParseSecurityDescriptor(given);
  if (!from.ok()) return from.status();
  if (security_information & OWNER_SECURITY_INFORMATION) {
    if (!from->owner) return Status::Error(kErrorInvalidParameter, "the descriptor has no owner");
    parts->owner = from->owner;
    parts->control = (parts->control & ~SE_OWNER_DEFAULTED) | (from->control & SE_OWNER_DEFAULTED);
  }
  if (security_information & GROUP_SECURITY_INFORMATION) {
    if (!from->group) return Status::Error(kErrorInvalidParameter, "the descriptor has no group");
    parts->group = from->group;
    parts->control = (parts->control & ~SE_GROUP_DEFAULTED) | (from->control & SE_GROUP_DEFAULTED);
  }
  if (security_information & DACL_SECURITY_INFORMATION) {
    parts->dacl = from->dacl;
    parts->control = (parts->control & ~kDaclControlBits) | (from->control & kDaclControlBits);
  }
  if (security_information & SACL_SECURITY_INFORMATION) {
    parts->sacl = from->sacl;
    parts->control = (parts->control & ~kSaclControlBits) | (from->control & kSaclControlBits);
  }
  return BuildSecurityDescriptor(*parts);
}

}  // namespace hm::reg
