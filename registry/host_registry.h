// HostRegistry: the registry of a Windows installation on disk, as a running Windows would
// present it to a 32-bit program.
//
// The installation's hive files are mounted where Windows mounts them (HKLM\SOFTWARE, HKLM\SYSTEM,
// HKU\<SID>, ...) and loaded on first use. On top of them this class provides what only a running
// Windows has: HKEY_CURRENT_USER (the chosen user), HKEY_CLASSES_ROOT (the user's classes merged
// over the machine's), HKEY_CURRENT_CONFIG, CurrentControlSet, the hive list key, and the 32-bit
// view of the WOW64 registry redirector. The rules are written down in docs/architecture.md
// ("The host registry").
//
// The interface follows the registry functions of Windows: handles with access masks, error codes,
// names and data in UTF-16 (the lossless form; registry/win_registry.h adds the "A" functions).
// Changes are made in memory and written to the hive files, each atomically, at commit points:
// Commit() (the end of a unit of work), FlushKey(), and destruction.
//
// Thread safety: all members are safe to call from any thread. Any number of threads read at once;
// a change waits for the readers and excludes everyone while it runs. Watch callbacks run on the
// thread that made the change, after it released the registry, and must not block.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/function_ref.h"
#include "platform/hive/hive.h"
#include "platform/install/installation.h"
#include "platform/status.h"
#include "registry/redirector.h"
#include "registry/reg_types.h"

namespace hm::reg {

class HostRegistry {
 public:
  // The device name the hive list gives the installation's drive C:.
  static constexpr std::string_view kSystemVolumeDevice = "\\Device\\HarddiskVolume2";

  struct Options {
    // The user whose hives are HKEY_CURRENT_USER: a SID or a profile name. Empty: the first
    // profile that has its hives (Installation::DefaultUser()).
    std::string user;
    // Refuse every change, whatever the files allow.
    bool read_only = false;
  };

  // The state of one mounted hive, for summaries.
  struct HiveState {
    std::string mount;  // "HKLM\SOFTWARE", "HKU\S-1-5-21-...", ...
    std::filesystem::path file;
    bool loaded = false;
    bool writable = false;
    std::string reason;  // why it is not writable, or why it failed to load
  };

  // A value as read: the name, the type and a copy of the data.
  struct ValueEntry {
    std::u16string name;
    uint32_t type = REG_NONE;
    std::string data;
  };

  using WatchId = uint64_t;

  // Opens the registry of `installation`. Hive replacements recorded by ReplaceKey() in an
  // earlier run are carried out first (see pending_notes()). Fails only when the chosen user
  // does not exist.
  static Result<std::unique_ptr<HostRegistry>> Open(
      std::shared_ptr<const install::Installation> installation, const Options& options);
  // Commits every changed hive (errors are reported on standard error; call Commit() first to
  // see them).
  ~HostRegistry();
  HostRegistry(const HostRegistry&) = delete;
  HostRegistry& operator=(const HostRegistry&) = delete;

  const install::Installation& installation() const { return *installation_; }
  // The user of HKEY_CURRENT_USER; nullptr when the installation has none.
  const install::UserProfile* user() const { return user_; }
  // True when the installation has the two views of 64-bit Windows.
  bool is_64bit() const { return installation_->is_64bit(); }
  // The control set that CurrentControlSet stands for ("ControlSet001").
  const std::u16string& current_control_set() const { return control_set_; }
  // The ANSI code page of the installation (Nls\CodePage\ACP), used by the "A" functions.
  uint32_t ansi_code_page() const { return ansi_code_page_; }
  // True when the registry was opened to refuse every change (Options::read_only).
  bool read_only() const { return options_.read_only; }
  // Notes about hive replacements carried out (or abandoned) when the registry was opened.
  const std::vector<std::string>& pending_notes() const { return pending_notes_; }
  std::vector<HiveState> Hives();

  // --- The registry functions. Every one returns a Windows error code. ---

  // Opens `subkey` below `parent` (a root or an open handle); an empty subkey opens a new handle
  // to the parent itself. The view bits of `access` choose the view; without any, the 32-bit
  // view (this is a 32-bit program). ERROR_ACCESS_DENIED when `access` asks for a change right
  // on a key of a read-only hive.
  LSTATUS OpenKey(HKEY parent, std::u16string_view subkey, REGSAM access, HKEY* result);
  // Opens or creates `subkey` and every missing key on its way.
  LSTATUS CreateKey(HKEY parent, std::u16string_view subkey, REGSAM access, HKEY* result,
                    bool* created = nullptr);
  LSTATUS CloseKey(HKEY key);

  LSTATUS QueryInfoKey(HKEY key, KeyInfo* info);
  // The key's own name as the hive stores it (a path may spell it in another letter case).
  LSTATUS QueryKeyName(HKEY key, std::u16string* name);
  // The name of the subkey at `index` (ERROR_NO_MORE_ITEMS past the end).
  LSTATUS EnumKey(HKEY key, uint32_t index, std::u16string* name);
  // The same, handing the name to `visit` while the registry is held for reading (the view is
  // valid only during the call; `visit` must not call back into the registry).
  using NameVisitor = FunctionRef<void(std::u16string_view)>;
  LSTATUS EnumKey(HKEY key, uint32_t index, NameVisitor visit);
  // Calls `visit` with the value at `index` (or of that name) while the registry is held for
  // reading: the reference is valid only during the call, and `visit` must not call back into
  // the registry. ERROR_NO_MORE_ITEMS past the end; ERROR_FILE_NOT_FOUND for a missing name.
  using ValueVisitor = FunctionRef<void(const hive::Value&)>;
  LSTATUS EnumValue(HKEY key, uint32_t index, ValueVisitor visit);
  LSTATUS QueryValue(HKEY key, std::u16string_view name, ValueVisitor visit);
  // Copying forms of the two above.
  LSTATUS EnumValue(HKEY key, uint32_t index, ValueEntry* value);
  LSTATUS QueryValue(HKEY key, std::u16string_view name, ValueEntry* value);

  LSTATUS SetValue(HKEY key, std::u16string_view name, uint32_t type, std::string_view data);
  LSTATUS DeleteValue(HKEY key, std::u16string_view name);
  // Deletes `subkey` of `parent`, which must have no subkeys (ERROR_ACCESS_DENIED otherwise, as
  // Windows answers). `view` holds view bits (KEY_WOW64_*), as RegDeleteKeyEx takes them; 0
  // means the view of `parent`.
  LSTATUS DeleteKey(HKEY parent, std::u16string_view subkey, REGSAM view = 0);

  // The key's security descriptor (self-relative, as stored); READ_CONTROL is needed.
  LSTATUS GetKeySecurity(HKEY key, std::string* descriptor);
  // Replaces the parts of the key's security descriptor that `security_information` names
  // (OWNER_, GROUP_, DACL_SECURITY_INFORMATION of registry/security_descriptor.h) with those of
  // the self-relative `descriptor`. WRITE_OWNER is needed for the owner and the group, WRITE_DAC
  // for the DACL; ERROR_ACCESS_DENIED without them and on a read-only hive. The SACL is refused
  // with ERROR_PRIVILEGE_NOT_HELD (it needs the security privilege, which is never held here);
  // ERROR_INVALID_SECURITY_DESCR for a descriptor that is not valid. Watchers are not called:
  // neither the values nor the subkeys change.
  LSTATUS SetKeySecurity(HKEY key, uint32_t security_information, std::string_view descriptor);

  // Whether the 32-bit and the 64-bit view of this key are separate keys in the hives. Windows 7
  // removed registry reflection; for an installation on disk this answers what the callers
  // actually ask: *disabled is true when the key is not shared between the views (so the 32-bit
  // view holds its own data), false when both views reach the same key. ERROR_NOT_SUPPORTED on
  // an installation without the two views.
  LSTATUS QueryReflectionKey(HKEY key, bool* disabled);

  // Writes the key and its subtree as a compact hive file (atomically). A hive root is written
  // with its hive's format and base block; a lower key becomes the root of a new hive.
  LSTATUS SaveKey(HKEY key, const std::filesystem::path& file);
  // Records that the hive mounted at `subkey` of `root` is to be replaced by `new_file` the next
  // time the installation is opened; the hive file then goes to `old_file`. The key must be a
  // hive root (ERROR_INVALID_PARAMETER otherwise); `new_file` must be a valid hive
  // (ERROR_BADDB otherwise).
  LSTATUS ReplaceKey(HKEY root, std::u16string_view subkey, const std::filesystem::path& new_file,
                     const std::filesystem::path& old_file);
  // Writes the hive of the key now, if it changed.
  LSTATUS FlushKey(HKEY key);

  // The commit point: writes every changed hive. Returns the first failure; the other hives are
  // still written.
  Status Commit();

  // Calls `on_change` after every change of the key (its values or its list of subkeys), and of
  // any key below it when `subtree` is set; also when the hive file holding it is replaced from
  // outside (see CheckForExternalChanges()). The key is the one `key` stands for at the time of
  // the call.
  LSTATUS Watch(HKEY key, bool subtree, std::function<void()> on_change, WatchId* id);
  void Unwatch(WatchId id);
  // Looks whether hive files were replaced by another program since they were read; reloads
  // those (calling their watchers). A hive that also has unwritten changes here is not reloaded:
  // it becomes read-only with the reason, so that neither side's changes are overwritten.
  void CheckForExternalChanges();

 private:
  enum class MountKind { kSoftware, kSystem, kUser, kUserClasses, kOther };
  struct Mount;
  struct OpenKeyState;
  struct Location;
  struct Resolved;
  struct Watcher;
  struct OpenCache;
  // A path inside one hive (mount == nullptr: the in-memory keys of a running Windows).
  struct PhysicalPath {
    Mount* mount = nullptr;
    Components components;
  };
  using Callbacks = std::vector<std::function<void()>>;

  HostRegistry() = default;
  Status Init(std::shared_ptr<const install::Installation> installation, const Options& options);
  void ReadSystemFacts();
  void CarryOutPendingReplacements();
  Status LoadMount(Mount* mount);
  Status SaveMount(Mount* mount);
  Mount* ClassesMountOf(const Mount* user_mount) const;

  std::shared_ptr<OpenKeyState> Lookup(HKEY key);
  HKEY AddHandle(std::shared_ptr<OpenKeyState> state);
  // States of closed handles (and of failed opens) kept by each thread for its next opens.
  static std::vector<std::shared_ptr<OpenKeyState>>& SpareStates();
  LSTATUS OpenOrCreate(HKEY parent, std::u16string_view subkey, REGSAM access, bool create,
                       HKEY* result, bool* created);
  LSTATUS ResolveForOpen(const OpenKeyState& state, Resolved* resolved);
  bool ResolveBelow(OpenKeyState& parent, OpenKeyState& state, std::u16string_view name,
                    LSTATUS* error, Resolved* resolved);
  static LSTATUS FindBelow(const Resolved& parent, std::u16string_view name, Resolved* child);
  LSTATUS FinishOpen(REGSAM access, const Resolved& resolved, OpenKeyState* state);
  LSTATUS CreatePath(OpenKeyState& state, Resolved* resolved, bool* created, Callbacks* due);
  LSTATUS MapToHives(HKEY root, const Components& components, bool view32,
                     std::array<PhysicalPath, 2>* out, size_t* count);
  void ApplyHiveRules(PhysicalPath* physical, bool redirect);
  LSTATUS Walk(const PhysicalPath& physical, Location* location);
  LSTATUS ResolveLogical(HKEY root, std::u16string_view path, bool view32, Resolved* resolved);
  LSTATUS ResolveState(OpenKeyState& state, Resolved* resolved);
  bool HasListedExtras(const Resolved& resolved) const;
  const std::vector<const std::u16string*>& MergedNames(OpenKeyState& state,
                                                        const Resolved& resolved);
  template <typename Read>
  LSTATUS ReadKey(HKEY handle, REGSAM needed, Read read);
  template <typename Change>
  LSTATUS ChangeKey(HKEY handle, REGSAM needed, Change change);
  void CollectWatchers(const Mount* mount, const hive::Key& changed, Callbacks* due);
  static void RunCallbacks(Callbacks callbacks);

  std::shared_ptr<const install::Installation> installation_;
  const install::UserProfile* user_ = nullptr;
  Options options_;
  std::u16string control_set_ = u"ControlSet001";
  std::u16string hardware_profile_ = u"0001";
  uint32_t ansi_code_page_ = 1252;
  std::vector<std::string> pending_notes_;

  std::vector<std::unique_ptr<Mount>> mounts_;
  Mount* software_ = nullptr;
  Mount* system_ = nullptr;
  Mount* user_hive_ = nullptr;
  Mount* user_classes_ = nullptr;
  std::unique_ptr<hive::Hive> volatile_;  // keys a running Windows keeps in memory only
  hive::Key* hivelist_ = nullptr;

  // Guards every hive tree: shared for reading, exclusive for changes.
  mutable std::shared_mutex tree_mutex_;
  // Counts changes that may invalidate a resolved key (deletions, reloads). Changed only with
  // tree_mutex_ held exclusively, so it is stable while a reader holds the lock.
  std::atomic<uint64_t> generation_{1};
  // Tells registries apart in the per-thread walk cache (an address may be reused).
  const uint64_t serial_ = NextSerial();
  static uint64_t NextSerial();

  // The predefined roots, as handles that are never closed.
  std::array<std::shared_ptr<OpenKeyState>, 7> roots_;
  // The handle table's sections are a few loads and stores, entered several times for each key a
  // walk visits, where a mutex's calls cost more than the work inside. A waiter yields rather
  // than spins, so a holder that was preempted is not spun against.
  class HandleLock {
   public:
    void lock() {
      while (locked_.exchange(true, std::memory_order_acquire)) {
        while (locked_.load(std::memory_order_relaxed)) std::this_thread::yield();
      }
    }
    void unlock() { locked_.store(false, std::memory_order_release); }

   private:
    std::atomic<bool> locked_{false};
  };
  HandleLock handles_mutex_;
  std::vector<std::shared_ptr<OpenKeyState>> handles_;
  std::vector<uint32_t> handle_serials_;
  std::vector<uint32_t> free_handles_;

  std::mutex watch_mutex_;
  std::vector<std::unique_ptr<Watcher>> watchers_;
  WatchId next_watch_ = 1;
};

}  // namespace hm::reg
