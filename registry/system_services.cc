#include "registry/system_services.h"

#include <strings.h>

#include <mutex>
#include <set>

#include "platform/utf.h"
#include "registry/registry_access.h"
#include "registry/sddl.h"
#include "registry/win_registry.h"

namespace hm::reg {
namespace {

// The privilege names Windows knows (LookupPrivilegeValue succeeds for each).
constexpr const char* kKnownPrivileges[] = {
    "SeCreateTokenPrivilege",        "SeAssignPrimaryTokenPrivilege",
    "SeLockMemoryPrivilege",         "SeIncreaseQuotaPrivilege",
    "SeMachineAccountPrivilege",     "SeTcbPrivilege",
    "SeSecurityPrivilege",           "SeTakeOwnershipPrivilege",
    "SeLoadDriverPrivilege",         "SeSystemProfilePrivilege",
    "SeSystemtimePrivilege",         "SeProfileSingleProcessPrivilege",
    "SeIncreaseBasePriorityPrivilege", "SeCreatePagefilePrivilege",
    "SeCreatePermanentPrivilege",    "SeBackupPrivilege",
    "SeRestorePrivilege",            "SeShutdownPrivilege",
    "SeDebugPrivilege",              "SeAuditPrivilege",
    "SeSystemEnvironmentPrivilege",  "SeChangeNotifyPrivilege",
    "SeRemoteShutdownPrivilege",     "SeUndockPrivilege",
    "SeSyncAgentPrivilege",          "SeEnableDelegationPrivilege",
    "SeManageVolumePrivilege",       "SeImpersonatePrivilege",
    "SeCreateGlobalPrivilege",       "SeTrustedCredManAccessPrivilege",
    "SeRelabelPrivilege",            "SeIncreaseWorkingSetPrivilege",
    "SeTimeZonePrivilege",           "SeCreateSymbolicLinkPrivilege",
    "SeDelegateSessionUserImpersonatePrivilege",
};

// Held while the installation's registry may be written.
constexpr const char* kRegistryPrivileges[] = {
    "SeBackupPrivilege", "SeRestorePrivilege", "SeTakeOwnershipPrivilege"};

// The known name `name` stands for (the table's spelling); nullptr when it is none.
const char* KnownPrivilege(std::string_view name) {
  for (const char* known : kKnownPrivileges) {
    if (name.size() == std::char_traits<char>::length(known) &&
        ::strncasecmp(name.data(), known, name.size()) == 0) {
      return known;
    }
  }
  return nullptr;
}

bool Holds(const char* known) {
  const HostRegistry* registry = ProcessRegistry();
  if (registry == nullptr || registry->read_only()) return false;
  for (const char* held : kRegistryPrivileges) {
    if (held == std::string_view(known)) return true;
  }
  return false;
}

std::mutex g_privileges_mutex;
std::set<std::string_view> g_enabled;  // GUARDED_BY(g_privileges_mutex); table spellings

std::string SystemMessageOf(std::string_view step, uint32_t code) {
  return std::string(step) + ": " + SecurityErrorMessage(code);
}

// Step 1 of GrantKeyAccess: the current user becomes the key's owner where the key allows it.
void TakeOwnership(HKEY root, const std::string& path, REGSAM view) {
  const bool enabled = EnablePrivilege("SeTakeOwnershipPrivilege", true);
  HKEY key = 0;
  if (RegOpenKeyExA(root, path.c_str(), 0, WRITE_OWNER | view, &key) == kErrorSuccess) {
    if (std::optional<Sid> user = GetCurrentUserSid()) {
      DescriptorParts owner;
      owner.owner = SidToBytes(*user);
      (void)RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION, BuildSecurityDescriptor(owner));
    }
    RegCloseKey(key);
  }
  if (enabled) EnablePrivilege("SeTakeOwnershipPrivilege", false);
}

// Reads the parts of an open key's descriptor, sized as Windows' callers size it: a first call
// for the size, a second for the data.
LSTATUS ReadKeySecurity(HKEY key, uint32_t parts, std::string* descriptor) {
  uint32_t size = 0;
  LSTATUS error = RegGetKeySecurity(key, parts, nullptr, &size);
  if (error != kErrorInsufficientBuffer) return error == kErrorSuccess ? kErrorGenFailure : error;
  descriptor->assign(size, '\0');
  error = RegGetKeySecurity(key, parts, reinterpret_cast<uint8_t*>(descriptor->data()), &size);
  if (error == kErrorSuccess) descriptor->resize(size);
  return error;
}

// The key's owner as an SDDL part ("O:BA") before it is taken over; empty when it cannot be read.
std::string OwnerText(HKEY root, const std::string& path, REGSAM view) {
  HKEY key = 0;
  if (RegOpenKeyExA(root, path.c_str(), 0, READ_CONTROL | view, &key) != kErrorSuccess) return {};
  std::string descriptor;
  std::string text;
  if (ReadKeySecurity(key, OWNER_SECURITY_INFORMATION, &descriptor) == kErrorSuccess) {
    Result<std::string> owner = SecurityDescriptorToSddl(descriptor, OWNER_SECURITY_INFORMATION);
    if (owner.ok()) text = std::move(owner).value();
  }
  RegCloseKey(key);
  return text;
}

// Steps 2 to 4 of GrantKeyAccess on the key opened with WRITE_DAC | READ_CONTROL; `old_owner`
// is the owner part of the text handed back.
bool ChangeAccess(std::string* error_text, HKEY key, const std::string& old_owner,
                  std::string* sddl) {
  std::string old_descriptor;
  if (LSTATUS error = ReadKeySecurity(key, DACL_SECURITY_INFORMATION, &old_descriptor)) {
    *error_text = SecurityErrorMessage(error);
    return false;
  }
  Result<std::string> old_dacl =
      SecurityDescriptorToSddl(old_descriptor, DACL_SECURITY_INFORMATION);
  if (!old_dacl.ok()) {
    *error_text = SystemMessageOf("ConvertSecurityDescriptorToStringSecurityDescriptor",
                                  old_dacl.status().code());
    return false;
  }
  std::string new_text = *sddl;
  if (new_text.empty()) {
    new_text = *old_dacl;
    // A null DACL grants everyone everything; an added entry would take that from all others.
    if (new_text.find("NO_ACCESS_CONTROL") == std::string::npos) {
      new_text += "(A;OICI;GA;;;" + GetUserSidString("BA") + ")";
    }
  }
  Result<std::string> new_descriptor = SddlToSecurityDescriptor(new_text);
  if (!new_descriptor.ok()) {
    *error_text = SystemMessageOf("ConvertStringSecurityDescriptorToSecurityDescriptor",
                                  new_descriptor.status().code());
    return false;
  }
  Result<DescriptorParts> parts = ParseSecurityDescriptor(*new_descriptor);
  if (!parts.ok() || !IsValidSecurityDescriptor(*new_descriptor)) {
    *error_text = SystemMessageOf("IsValidSecurityDescriptor", kErrorInvalidSecurityDescr);
    return false;
  }
  uint32_t apply = DACL_SECURITY_INFORMATION;
  if (parts->owner) apply |= OWNER_SECURITY_INFORMATION;
  if (LSTATUS error = RegSetKeySecurity(key, apply, *new_descriptor)) {
    *error_text = SystemMessageOf("RegSetKeySecurity", error);
    return false;
  }
  *sddl = old_owner + *old_dacl;
  return true;
}

}  // namespace

// --- Privileges ---

uint32_t AdjustPrivilege(std::string_view name, bool enable) {
  const char* known = KnownPrivilege(name);
  if (known == nullptr) return kErrorNoSuchPrivilege;
  std::lock_guard<std::mutex> lock(g_privileges_mutex);
  if (!Holds(known)) return kErrorNotAllAssigned;
  if (enable) {
    g_enabled.insert(known);
  } else {
    g_enabled.erase(known);
  }
  return kErrorSuccess;
}

bool EnablePrivilege(std::string_view name, bool enable) {
  return AdjustPrivilege(name, enable) == kErrorSuccess;
}

bool PrivilegeHeld(std::string_view name) {
  const char* known = KnownPrivilege(name);
  return known != nullptr && Holds(known);
}

bool PrivilegeEnabled(std::string_view name) {
  const char* known = KnownPrivilege(name);
  if (known == nullptr || !Holds(known)) return false;
  std::lock_guard<std::mutex> lock(g_privileges_mutex);
  return g_enabled.count(known) != 0;
}

// --- Restart ---

bool RestartWindows() {
  if (!EnablePrivilege("SeShutdownPrivilege", true)) return false;
  // Not reached while the privilege is never held: there is no running Windows to restart.
  EnablePrivilege("SeShutdownPrivilege", false);
  return false;
}

std::string RestartAdvice() {
  return "This Windows installation is not running, so it cannot be restarted from here. "
         "Changes that wait for a restart (replaced hives) are carried out the next time "
         "Hivemend opens the installation; start Windows from it only after that.";
}

// --- The user ---

std::optional<Sid> GetCurrentUserSid() {
  const HostRegistry* registry = ProcessRegistry();
  if (registry == nullptr || registry->user() == nullptr) return std::nullopt;
  return SidFromText(registry->user()->sid);
}

std::string GetUserSidString(const std::string& default_text) {
  std::string text;
  return GetCurrentUserSidText(&text) ? text : default_text;
}

bool GetCurrentUserSidText(std::string* text) {
  std::optional<Sid> sid = GetCurrentUserSid();
  if (!sid) return false;
  // Built from the binary form, as the token hands the SID over.
  std::optional<Sid> binary = SidFromBytes(SidToBytes(*sid));
  if (!binary) return false;
  *text = SidToText(*binary);
  return true;
}

bool GetCurrentUserName(std::string* name) {
  constexpr size_t kBufferSize = 255;  // characters, the terminator included
  const HostRegistry* registry = ProcessRegistry();
  if (registry == nullptr || registry->user() == nullptr || registry->user()->name.empty()) {
    return false;
  }
  std::string ansi = Utf16ToAnsi(FromUtf8(registry->user()->name));
  if (ansi.size() + 1 > kBufferSize) return false;
  *name = std::move(ansi);
  return true;
}

// --- Key ownership and access ---

bool GrantKeyAccess(std::string* error_text, HKEY root, const std::string& path,
                    std::string* sddl) {
  const REGSAM view = ViewAccessFlags(Is64BitWindows());
  const std::string old_owner = OwnerText(root, path, view);
  TakeOwnership(root, path, view);
  // A text handed back by an earlier call also gives the owner back, which needs WRITE_OWNER.
  REGSAM rights = WRITE_DAC | READ_CONTROL | view;
  if (sddl->find("O:") != std::string::npos) rights |= WRITE_OWNER;
  HKEY key = 0;
  if (LSTATUS error = RegOpenKeyExA(root, path.c_str(), 0, rights, &key)) {
    *error_text = SecurityErrorMessage(error);
    return false;
  }
  const bool done = ChangeAccess(error_text, key, old_owner, sddl);
  RegCloseKey(key);
  return done;
}

}  // namespace hm::reg
