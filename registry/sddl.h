// Security descriptors in their text form (SDDL, revision 1), both ways:
//
//   "O:" owner  "G:" group  "D:" DACL flags and ACEs  "S:" SACL flags and ACEs
//
// A SID is written as its alias where it has one ("BA" for S-1-5-32-544, "SY" for S-1-5-18,
// "CO", "WD", ...), else in its text form (S-1-5-21-...). An ACL is its flags ("P" protected,
// "AR" auto-inherit requested, "AI" auto-inherited; "NO_ACCESS_CONTROL" for a null ACL) followed
// by one "(type;flags;rights;object GUID;inherited object GUID;SID)" per ACE. Types: "A" allowed,
// "D" denied, "OA"/"OD" their object forms, "AU" audit, "ML" mandatory label. ACE flags: "OI",
// "CI", "NP", "IO", "ID", "SA", "FA". Rights are one name for a whole mask where one fits
// ("GA", "KA", "KR", "FA", ...), else the names of its bits ("CC", "DC", "LC", "SW", "RP", "WP",
// "DT", "LO", "CR", "SD", "RC", "WD", "WO", "GA", "GX", "GW", "GR"), else "0x" and hexadecimal
// digits; reading also takes decimal numbers.
//
// ACEs of other types (callback, compound, resource attribute ACEs) have no text form here:
// converting a descriptor that holds one fails with ERROR_INVALID_ACL rather than dropping it.
//
// Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "registry/security_descriptor.h"

namespace hm::reg {

// The parts of a self-relative `descriptor` named by `security_information` (OWNER, GROUP, DACL,
// SACL bits), in the order O, G, D, S. A part the descriptor lacks is left out, except the DACL:
// no DACL and a null DACL both grant everyone everything and read "D:NO_ACCESS_CONTROL".
// ERROR_INVALID_SECURITY_DESCR for a descriptor that is not valid, ERROR_INVALID_ACL for an ACE
// with no text form.
Result<std::string> SecurityDescriptorToSddl(std::string_view descriptor,
                                             uint32_t security_information);

// The self-relative descriptor that `text` describes; its parts are those the text names.
// ERROR_INVALID_PARAMETER (with the place of the fault in the context) for text that is not
// SDDL as described above, ERROR_INVALID_SID for a SID that is neither an alias nor valid text.
Result<std::string> SddlToSecurityDescriptor(std::string_view text);

// The SID of an alias ("BA") or of a SID text; nullopt for anything else.
std::optional<Sid> SddlSid(std::string_view text);
// The alias of `sid` where it has one, else its text form.
std::string SddlSidText(const Sid& sid);

}  // namespace hm::reg
