// The registry access layer: how keys are named in text, how the two registry views of 64-bit
// Windows are chosen, the key helpers (open, test, delete a subtree), and TRegistryAccess, the
// registry object the scanner, the repair engine, the cleaner and the tweaks work with.
//
// Everything goes through the "A" registry functions of registry/win_registry.h, so names,
// paths and string data are text in the installation's ANSI code page. A key path is a chain of
// subkey names separated by single backslashes, without leading or trailing backslash; the empty
// path is the root itself. Every operation takes a view: true selects the 64-bit view, false the
// 32-bit view.
//
// InitRegistryAccess() sets the process-wide facts once at start, after SetProcessRegistry() and
// before any thread starts; afterwards they are only read.
//
// The free helpers keep the argument order of the program they come from (an output handle or
// error text first), so that calls read the same as its code.
//
// Thread safety: the free functions are safe from any thread once InitRegistryAccess() has run.
// A TRegistry / TRegistryAccess object belongs to one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "registry/host_registry.h"
#include "registry/reg_types.h"

namespace hm::reg {

// --- Root keys and key texts ---

// "HKEY_LOCAL_MACHINE" for HKEY_LOCAL_MACHINE, ...; empty for any other handle.
std::string RootKeyToName(HKEY root);
// "HKLM", "HKCU", ...; HKEY_PERFORMANCE_DATA has no abbreviation and gives its full name. Empty
// for any other handle.
std::string RootKeyToShortName(HKEY root);
// The root named by `text` (a full name or an abbreviation, in any letter case); 0 when nothing
// matches. Spaces around the name are not removed, so " HKLM" names no root.
HKEY NameToRootKey(std::string_view text);
// The path up to and including its last backslash ("A\B\C" -> "A\B\"); "" without backslash.
std::string ExtractKeyParent(std::string_view path);
// The last `n` + 1 components of `path` ("A\B\C": n = 0 -> "C", n = 1 -> "B\C"); the whole path
// when it has fewer components.
std::string ExtractKeyTail(std::string_view path, int n);

// --- Process-wide facts ---

// Derives the facts from the installation behind `registry`:
//   Is64BitWindows       the installation has the two registry views (this program then runs as
//                        a 32-bit process under WOW64);
//   NoViewFlags          its Windows version (major * 100 + minor) is 500 or lower, or unknown:
//                        Windows 2000 and older know no view bits;
//   ReflectionSupported  RegQueryReflectionKey answers, which it does where there are two views;
//   MultiByteLocale      its ANSI code page is a double-byte one (932, 936, 949, 950, 1361), where
//                        a name in the code page may take two bytes per character.
// Until this runs, every fact is false except NoViewFlags (an unknown version).
void InitRegistryAccess(const HostRegistry& registry);

bool Is64BitWindows();
bool NoViewFlags();
bool ReflectionSupported();
bool MultiByteLocale();

// Whether the process runs under WOW64; the same fact as Is64BitWindows().
bool IsWow64();

// The access-mask bits that select a view: KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 when
// NoViewFlags() is set.
REGSAM ViewAccessFlags(bool view64);

// WOW64 file-system redirection (System32 seen as SysWOW64 by a 32-bit process) is a state of
// the calling thread. These functions keep that state; the file layer asks FsRedirectionDisabled()
// when it turns a Windows path into a host path. A caller disables redirection around one probe
// or one process start and reverts it with the token on every path out.
struct FsRedirectionToken {
  bool was_disabled = false;
};
FsRedirectionToken DisableFsRedirection();
void RevertFsRedirection(FsRedirectionToken token);
bool FsRedirectionDisabled();

// --- Key helpers on raw handles ---

// Opens `path` below `root` for reading (KEY_READ) in the chosen view.
bool KeyOpenRead(HKEY* handle, HKEY root, bool view64, const std::string& path);
// Opens `path` below `root` with KEY_ALL_ACCESS in the chosen view; the Windows error code.
LSTATUS KeyOpenWrite(HKEY* handle, HKEY root, bool view64, const std::string& path);
bool KeyOpenWriteOk(HKEY* handle, HKEY root, bool view64, const std::string& path);
// KeyOpenWrite; on failure *error_text becomes the system message of the error (no prefix).
bool KeyOpenWriteMsg(std::string* error_text, HKEY* handle, HKEY root, bool view64,
                     const std::string& path);
bool KeyExists(HKEY root, bool view64, const std::string& path);
// False only when the value is reported missing: a value that cannot be examined (access
// denied, a bad handle) counts as existing, so that nothing is taken for absent unseen.
bool RegValueExists(HKEY handle, const std::string& name);

// Deletes the key `path` and everything below it. On failure *error_text is replaced by the
// failing step and the system message ("RegKeyOpenEx: ", "RegQueryInfoKey: ",
// "RegDeleteKeyEx: ") and false is returned; the keys deleted before the failure stay deleted.
// The empty path (the root itself) is refused before anything is touched.
bool DeleteRegKeyTree(std::string* error_text, HKEY root, bool view64, const std::string& path);
bool DeleteRegKey(HKEY root, bool view64, const std::string& path);

// False only when the key's two views are known to be separate keys: RegQueryReflectionKey is
// available, the key opens and the query reports reflection disabled.
bool KeyReflectionEnabled(HKEY root, bool view64, const std::string& path);

// --- Value types ---

// The program's own value type code. The order is a contract: codes 2, 3 and 4 are the text
// types, and the export writer dispatches on these numbers.
enum TRegValueType : uint8_t {
  rvUnknown = 0,
  rvNone = 1,
  rvString = 2,
  rvExpandString = 3,
  rvMultiString = 4,
  rvDWord = 5,
  rvBinary = 6,
};
TRegValueType RegTypeToValueType(uint32_t reg_type);

// --- TRegistry: the part of the VCL registry class this program uses ---

// What GetKeyInfo reports. Name lengths are in characters without the terminator; on a
// multi-byte locale they are doubled, so that a buffer of that size holds any name in the code
// page. max_value_len is the longest value name, max_data_len the largest value data in bytes.
struct TRegKeyInfo {
  uint32_t num_sub_keys = 0;
  uint32_t max_sub_key_len = 0;
  uint32_t num_values = 0;
  uint32_t max_value_len = 0;
  uint32_t max_data_len = 0;
};

// The data type as TRegistry reports it: only the types it reads and writes itself are told apart.
enum TRegDataType : uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// A registry object with one open key at a time. Paths given to OpenKey and OpenKeyReadOnly are
// absolute (from RootKey) when they begin with a backslash, else relative to the open key (or to
// RootKey when none is open). Opening a key replaces the open one; a failed open leaves it open.
class TRegistry {
 public:
  // RootKey HKEY_CURRENT_USER, Access KEY_ALL_ACCESS.
  TRegistry();
  explicit TRegistry(REGSAM access);
  virtual ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  HKEY RootKey() const { return root_key_; }
  // Changing the root closes the open key.
  void SetRootKey(HKEY root);
  REGSAM Access() const { return access_; }
  void SetAccess(REGSAM access) { access_ = access; }
  // The handle of the open key; 0 when none is open.
  HKEY CurrentKey() const { return current_key_; }
  // The path of the open key from RootKey, without leading or trailing backslash.
  const std::string& CurrentPath() const { return current_path_; }

  // Opens `key` with Access; with `can_create` missing keys on the way are created.
  bool OpenKey(const std::string& key, bool can_create);
  // Opens `key` for reading. On success Access becomes KEY_READ with the view bits it had, so
  // that the object stays read-only afterwards (as the VCL class does).
  bool OpenKeyReadOnly(const std::string& key);
  void CloseKey();

  bool GetKeyInfo(TRegKeyInfo* info) const;
  // The names of the open key's values; names that cannot be read are left out.
  std::vector<std::string> GetValueNames() const;
  // True when the value can be queried.
  bool ValueExists(const std::string& name) const;
  // rdUnknown for a missing value and for the types not listed in TRegDataType.
  TRegDataType GetDataType(const std::string& name) const;
  // The text of a REG_SZ or REG_EXPAND_SZ value, up to its first NUL; "" for a missing or empty
  // value. ERROR_INVALID_DATA for a value of another type.
  Result<std::string> ReadString(const std::string& name) const;
  // Writes `value` as REG_SZ with its terminator.
  Status WriteString(const std::string& name, const std::string& value);

 protected:
  // An open key below which the object opens absolute paths that name one of its subkeys, with
  // the same root and view: a subkey walk sets it to the handle of the parent of the keys it
  // hands out, so that opening a key by its whole path looks up only its last name. `path` and
  // `length` give the key's path (a prefix of a string that outlives its use).
  struct OpenBase {
    HKEY key = 0;
    HKEY root = 0;
    REGSAM view = 0;
    const std::string* path = nullptr;
    size_t length = 0;
  };
  void SetOpenBase(const OpenBase& base) { open_base_ = base; }
  // The open key, its path and the access it was opened with; TakeCurrentKey() gives up the
  // key without closing it (the caller closes it).
  REGSAM CurrentAccess() const { return current_access_; }
  HKEY TakeCurrentKey();

 private:
  bool OpenWith(const std::string& key, REGSAM access, bool can_create);

  HKEY root_key_ = HKEY_CURRENT_USER;
  REGSAM access_ = KEY_ALL_ACCESS;
  HKEY current_key_ = 0;
  REGSAM current_access_ = 0;
  std::string current_path_;
  OpenBase open_base_;
};

// --- TRegistryAccess ---

class TRegistryAccess;

// Called for each subkey by EnumSubKeys with the opaque `thread` of the caller, the second access
// object of the enumeration (its Depth() is the nesting level, 1 for direct subkeys) and the
// subkey's path from the root. Returns 0 to continue and descend into the subkey, 1 to continue
// without descending, 2 or more to stop the whole enumeration.
using TEnumKeyProc =
    std::function<uint8_t(void* thread, TRegistryAccess& access, const std::string& sub_key_path)>;
// Called for each value by EnumValues. `data` holds `data_size` bytes and is valid only during
// the call. Returns false to stop.
using TEnumValueProc = std::function<bool(
    void* thread, TRegistryAccess& access, const std::string& key_path, uint32_t data_size,
    const uint8_t* data, TRegValueType value_type, const std::string& value_name)>;

// A TRegistry whose Access always carries the view bits, with subtree deletion and the subkey and
// value walks.
class TRegistryAccess : public TRegistry {
 public:
  // Access KEY_ALL_ACCESS (or `access`), in the 64-bit view on 64-bit Windows and the 32-bit
  // view elsewhere.
  TRegistryAccess();
  explicit TRegistryAccess(REGSAM access);

  // The nesting level of the running subkey enumeration (0 when none runs) and its depth limit
  // (0: none).
  int32_t Depth() const { return depth_; }
  int32_t MaxDepth() const { return max_depth_; }

  void SetView64(bool view64);
  bool Is64BitView() const;

  // Deletes `path` (from RootKey) and its subtree in this object's view.
  bool DeleteTree(const std::string& path);

  // Walks the subkeys below CurrentPath, into their subtrees when `recursive`, down to
  // `max_depth` levels (0 or negative: no limit).
  void EnumSubKeys(bool recursive, int32_t max_depth, const TEnumKeyProc& callback, void* thread);
  // Walks the values of the open key. Values of more than 65536 bytes are skipped.
  void EnumValues(const TEnumValueProc& callback, void* thread);

 private:
  class SubKeyWalk;

  int32_t depth_ = 0;
  int32_t max_depth_ = 0;
};

// Whether the open key of `registry` is shared between the two views (see KeyReflectionEnabled).
bool CurrentKeyReflectionEnabled(const TRegistry& registry);
// The open key has no subkeys and no values; false when its information cannot be read.
bool KeyIsEmpty(const TRegistry& registry);
// The open key has a subkey or a value other than its default value; false when its information
// cannot be read.
bool KeyHasContent(const TRegistry& registry);

}  // namespace hm::reg
