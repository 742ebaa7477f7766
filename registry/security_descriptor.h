// Security identifiers and self-relative security descriptors in their binary form, as the hives
// store them in security cells and as RegGetKeySecurity / RegSetKeySecurity pass them.
//
// A self-relative descriptor is a 20-byte header (revision 1, a padding byte, the control word,
// then the offsets of owner, group, SACL and DACL, 0 for a part that is absent) followed by the
// parts. A SID is a revision byte (1), the number of sub-authorities (at most 15), the six-byte
// big-endian identifier authority and the sub-authorities as little-endian 32-bit numbers. An ACL
// is an 8-byte header (revision, padding, total size, ACE count, padding) followed by its ACEs,
// each a 4-byte header (type, flags, size) and a body that depends on the type.
//
// Failures use the Windows codes of the security functions (below), whose messages
// SecurityErrorMessage() supplies.
//
// Stateless: thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hm::reg {

inline constexpr uint32_t kErrorNotAllAssigned = 1300;
inline constexpr uint32_t kErrorNoSuchPrivilege = 1313;
inline constexpr uint32_t kErrorInvalidAcl = 1336;
inline constexpr uint32_t kErrorInvalidSid = 1337;
inline constexpr uint32_t kErrorInvalidSecurityDescr = 1338;

// The English system message of `code`, for the codes above as well as every code
// WinErrorMessage() knows.
std::string SecurityErrorMessage(uint32_t code);

// SECURITY_INFORMATION bits: which parts of a descriptor a call reads or changes.
inline constexpr uint32_t OWNER_SECURITY_INFORMATION = 0x1;
inline constexpr uint32_t GROUP_SECURITY_INFORMATION = 0x2;
inline constexpr uint32_t DACL_SECURITY_INFORMATION = 0x4;
inline constexpr uint32_t SACL_SECURITY_INFORMATION = 0x8;

// Control bits of a descriptor.
inline constexpr uint16_t SE_OWNER_DEFAULTED = 0x0001;
inline constexpr uint16_t SE_GROUP_DEFAULTED = 0x0002;
inline constexpr uint16_t SE_DACL_PRESENT = 0x0004;
inline constexpr uint16_t SE_DACL_DEFAULTED = 0x0008;
inline constexpr uint16_t SE_SACL_PRESENT = 0x0010;
inline constexpr uint16_t SE_SACL_DEFAULTED = 0x0020;
inline constexpr uint16_t SE_DACL_AUTO_INHERIT_REQ = 0x0100;
inline constexpr uint16_t SE_SACL_AUTO_INHERIT_REQ = 0x0200;
inline constexpr uint16_t SE_DACL_AUTO_INHERITED = 0x0400;
inline constexpr uint16_t SE_SACL_AUTO_INHERITED = 0x0800;
inline constexpr uint16_t SE_DACL_PROTECTED = 0x1000;
inline constexpr uint16_t SE_SACL_PROTECTED = 0x2000;
inline constexpr uint16_t SE_SELF_RELATIVE = 0x8000;
// The control bits that belong to the DACL, to the SACL.
inline constexpr uint16_t kDaclControlBits = SE_DACL_PRESENT | SE_DACL_DEFAULTED |
                                             SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED |
                                             SE_DACL_PROTECTED;
inline constexpr uint16_t kSaclControlBits = SE_SACL_PRESENT | SE_SACL_DEFAULTED |
                                             SE_SACL_AUTO_INHERIT_REQ | SE_SACL_AUTO_INHERITED |
                                             SE_SACL_PROTECTED;

// ACE types this program reads in full; any other type is kept as raw bytes.
inline constexpr uint8_t ACCESS_ALLOWED_ACE_TYPE = 0;
inline constexpr uint8_t ACCESS_DENIED_ACE_TYPE = 1;
inline constexpr uint8_t SYSTEM_AUDIT_ACE_TYPE = 2;
inline constexpr uint8_t ACCESS_ALLOWED_OBJECT_ACE_TYPE = 5;
inline constexpr uint8_t ACCESS_DENIED_OBJECT_ACE_TYPE = 6;
inline constexpr uint8_t SYSTEM_MANDATORY_LABEL_ACE_TYPE = 0x11;

// ACL revisions: 2 for ACLs of plain ACEs, 4 when object ACEs are present.
inline constexpr uint8_t ACL_REVISION = 2;
inline constexpr uint8_t ACL_REVISION_DS = 4;

struct Sid {
  uint8_t revision = 1;
  std::array<uint8_t, 6> authority{};
  std::vector<uint32_t> sub_authorities;

  friend bool operator==(const Sid&, const Sid&) = default;
};

// The binary form of `sid` (8 + 4 * sub-authorities bytes).
std::string SidToBytes(const Sid& sid);
// Reads a SID at the start of `bytes`; nullopt when it is cut short or malformed (revision other
// than 1, more than 15 sub-authorities). *size (when given) is set to the bytes it takes.
std::optional<Sid> SidFromBytes(std::string_view bytes, size_t* size = nullptr);

// The text form: "S-1-", the identifier authority, then "-" and each sub-authority in decimal.
// The authority is the decimal number of its last four bytes when the first two are zero, else
// "0x" and all six bytes as upper-case hexadecimal digits.
std::string SidToText(const Sid& sid);
// Reads the text form ("S-1-5-32-544"; the authority in decimal or as "0x" and 12 hexadecimal
// digits; "s-" is accepted as Windows does). nullopt for anything else, including numbers out
// of range and more than 15 sub-authorities.
std::optional<Sid> SidFromText(std::string_view text);

struct Guid {
  std::array<uint8_t, 16> bytes{};  // as stored: Data1..Data3 little-endian, then Data4
  friend bool operator==(const Guid&, const Guid&) = default;
};

// One ACE. Types 0, 1, 2, 0x11 (plain) and 5, 6 (object ACEs) are read into the fields; for
// every other type only `type`, `flags` and `raw` (the whole ACE) are meaningful.
struct Ace {
  uint8_t type = ACCESS_ALLOWED_ACE_TYPE;
  uint8_t flags = 0;
  uint32_t mask = 0;
  std::optional<Guid> object_type;            // object ACEs only
  std::optional<Guid> inherited_object_type;  // object ACEs only
  Sid sid;
  // The ACE's own bytes when they are more than its fields say: trailing data after the SID, or
  // a type read only as raw. Empty otherwise.
  std::string raw;

  friend bool operator==(const Ace&, const Ace&) = default;
};

struct Acl {
  uint8_t revision = ACL_REVISION;
  std::vector<Ace> aces;

  friend bool operator==(const Acl&, const Acl&) = default;
};

std::string AclToBytes(const Acl& acl);
// Reads an ACL that takes the whole of `bytes` or starts it (its size field says how much).
// ERROR_INVALID_ACL when it is malformed.
Result<Acl> AclFromBytes(std::string_view bytes);

// A descriptor taken apart. Absent parts are nullopt; a DACL that is present but null (which
// grants everyone everything) is SE_DACL_PRESENT in `control` with `dacl` nullopt. The parts are
// kept as bytes so that what a change does not touch is written back exactly.
struct DescriptorParts {
  uint16_t control = 0;  // without SE_SELF_RELATIVE
  std::optional<std::string> owner;
  std::optional<std::string> group;
  std::optional<std::string> sacl;
  std::optional<std::string> dacl;
};

// Takes a self-relative descriptor apart. ERROR_INVALID_SECURITY_DESCR when it is not a valid
// one (see IsValidSecurityDescriptor()).
Result<DescriptorParts> ParseSecurityDescriptor(std::string_view descriptor);
// Lays the parts out as a self-relative descriptor: header, SACL, DACL, owner, group (the order
// Windows' MakeSelfRelativeSD uses). The PRESENT bits follow the parts, except that a present
// null DACL keeps SE_DACL_PRESENT.
std::string BuildSecurityDescriptor(const DescriptorParts& parts);

// Whether `descriptor` is a well-formed self-relative descriptor: revision 1, the self-relative
// bit, every offset and size inside it, valid SIDs and ACLs (revision 2 to 4, ACE sizes that add
// up, the SIDs of the ACEs this program reads).
bool IsValidSecurityDescriptor(std::string_view descriptor);

// `current` with the parts that `security_information` names taken from `given` (both
// self-relative), as RegSetKeySecurity changes a key's descriptor: the owner, the group, the
// DACL with its control bits, the SACL with its control bits. ERROR_INVALID_SECURITY_DESCR when
// either is not valid; ERROR_INVALID_PARAMETER when `security_information` names no part, or an
// owner or group that `given` does not have.
Result<std::string> MergeSecurityDescriptor(std::string_view current,
                                            uint32_t security_information,
                                            std::string_view given);

}  // namespace hm::reg
