// The services of the system around the registry that registry work needs: token privileges,
// the current user's SID and name, taking over a key and granting the user access to it, and
// restarting Windows.
//
// The program works on a Windows installation on disk, so there is no logon session and no
// token. What each service means here:
//
// - Privileges. The process is taken to hold "SeBackupPrivilege", "SeRestorePrivilege" and
//   "SeTakeOwnershipPrivilege" while the process registry (registry/win_registry.h) was opened
//   read-write: they stand for "may replace hives and take keys over", which is exactly what a
//   writable installation allows. It never holds "SeShutdownPrivilege": there is no running
//   Windows to shut down. Every other privilege name Windows knows is valid but not held; a name
//   Windows does not know fails with ERROR_NO_SUCH_PRIVILEGE, as LookupPrivilegeValue would.
//   Enabling or disabling a privilege that is not held fails with ERROR_NOT_ALL_ASSIGNED, as
//   AdjustTokenPrivileges reports it. Which privileges are enabled is kept per process.
// - The user is the installation's chosen user (HostRegistry::user(): the --user option, else the
//   first profile with its hives): the SID from ProfileList, the name of the profile folder.
// - Restart. RestartWindows() enables "SeShutdownPrivilege" first, which never succeeds, so it
//   answers false and its callers show "Can not restart Windows. Please do it manually.". Work
//   that Windows would do at its next start (hive replacements recorded by RegReplaceKeyA) is
//   carried out the next time this program opens the installation for writing;
//   RestartAdvice() is the text that tells the user so.
// - Key ownership and access work on the keys' security descriptors in the hives
//   (RegGetKeySecurity / RegSetKeySecurity); the change is written at the registry's next commit
//   point like any other change.
//
// The free functions keep the argument order of the program they come from: an error text
// first, output parameters as pointers.
//
// Thread safety: all functions may be called from any thread; the privilege table has its own
// lock. They use the process registry, which must be installed (SetProcessRegistry).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "registry/reg_types.h"
#include "registry/security_descriptor.h"

namespace hm::reg {

// Sets or clears the enabled state of one privilege of the process; the Windows error code
// (0, ERROR_NO_SUCH_PRIVILEGE, ERROR_NOT_ALL_ASSIGNED). Privilege names compare without regard
// to letter case, as LookupPrivilegeValue compares them.
uint32_t AdjustPrivilege(std::string_view name, bool enable);
// AdjustPrivilege() == 0.
bool EnablePrivilege(std::string_view name, bool enable);
// Whether the process holds the privilege now (see above), and whether it is held and enabled.
bool PrivilegeHeld(std::string_view name);
bool PrivilegeEnabled(std::string_view name);

// Always false here (see above): the caller tells the user to restart Windows by hand.
bool RestartWindows();
// What the user needs to know about work that waits for a restart of Windows.
std::string RestartAdvice();

// The current user's SID in its text form; `default_text` when there is no user or the SID
// cannot be read.
std::string GetUserSidString(const std::string& default_text);
// The user's SID as GetUserSidString() gives it, built from the binary SID: "S-1-", the
// authority (decimal when its first two bytes are zero, else "0x" and twelve upper-case
// hexadecimal digits), then each sub-authority in decimal. False (and *text unchanged) when
// there is no user or the SID cannot be read.
bool GetCurrentUserSidText(std::string* text);
// The current user's SID in binary form; nullopt when there is none.
std::optional<Sid> GetCurrentUserSid();
// The user's logon name in the installation's code page (at most 254 characters, as
// GetUserNameA's buffer of 255 takes it). False when there is no user.
bool GetCurrentUserName(std::string* name);

// Takes over the key `path` below `root` (64-bit view on 64-bit Windows) and changes its access
// list:
//   1. with "SeTakeOwnershipPrivilege" enabled around it, the key's owner becomes the current
//      user (when the key opens with WRITE_OWNER; the result is not examined);
//   2. the key is opened with WRITE_DAC | READ_CONTROL and its owner and DACL are read; failing
//      that, *error_text is the system message of the failure and false is returned;
//   3. with an empty *sddl, the new DACL is the old one plus "(A;OICI;GA;;;<user SID>)", full
//      access for the user (the built-in administrators when there is no user), inherited by
//      subkeys; a null DACL already grants everyone everything and is kept. With a non-empty
//      *sddl, that text is applied: its DACL, and its owner when it names one;
//   4. on success *sddl receives the key's earlier owner and DACL as text ("O:...D:...") and true
//      is returned; else *error_text names the failing step and false is returned.
// So a caller passes an empty text, keeps what comes back, and later passes it back to restore
// the earlier access list and owner.
bool GrantKeyAccess(std::string* error_text, HKEY root, const std::string& path,
                    std::string* sddl);

}  // namespace hm::reg
