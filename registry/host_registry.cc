#include "registry/host_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "platform/file_io.h"
#include "platform/hive/upcase.h"
#include "platform/install/reg_data.h"
#include "platform/install/win_path.h"
#include "platform/utf.h"
#include "registry/redirector.h"
#include "registry/security_descriptor.h"

namespace hm::reg {
namespace {

namespace fs = std::filesystem;
using hive::Key;
using hive::NamesEqual;

// Names of the keys of the in-memory hive that holds what a running Windows keeps in memory.
constexpr std::u16string_view kMachineNode = u"MACHINE";
constexpr std::u16string_view kUsersNode = u"USER";
constexpr std::u16string_view kHiveListNode = u"HIVELIST";
constexpr std::u16string_view kCurrentControlSet = u"CurrentControlSet";

// Where hive replacements wait for the next start, below the installation's root.
constexpr std::string_view kPendingFile = "ProgramData\\Corvexa\\pending-hive-replacements.txt";

// Identity of a hive file as last read or written, to notice replacement by another program.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  int64_t mtime_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const fs::path& file) {
  struct stat info;
  FileStamp stamp;
  if (::stat(file.c_str(), &info) != 0) return stamp;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = info.st_size;
  stamp.mtime_ns = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  return stamp;
}

bool Writable(const fs::path& file) {
  return ::access(file.c_str(), W_OK) == 0 && ::access(file.parent_path().c_str(), W_OK) == 0;
}

std::u16string ToU16(std::string_view utf8) {
  return FromUtf8(utf8);
}

// Splits a key path at its backslashes. A trailing backslash is accepted, as Windows accepts
// it; an empty component anywhere else is ERROR_BAD_PATHNAME.
LSTATUS SplitPath(std::u16string_view path, Components* out) {
  out->clear();
  if (path.empty()) return kErrorSuccess;
  if (path.back() == u'\\') path.remove_suffix(1);
  size_t start = 0;
  while (true) {
    size_t end = path.find(u'\\', start);
    std::u16string_view part = path.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    if (part.empty()) return kErrorBadPathname;
    out->push_back(part);
    if (end == std::u16string_view::npos) return kErrorSuccess;
    start = end + 1;
  }
}

std::u16string JoinPath(std::u16string_view parent, std::u16string_view child) {
  if (parent.empty()) return std::u16string(child);
  if (child.empty()) return std::u16string(parent);
  std::u16string path(parent);
  path += u'\\';
  path += child;
  return path;
}

bool RequiresChange(REGSAM access) {
  return (access & (kKeyChangeRights | MAXIMUM_ALLOWED)) != 0 && (access & MAXIMUM_ALLOWED) == 0;
}

// Exact equality of two names or paths. std::u16string's comparison goes one code unit at a
// time; memcmp is several times faster on the long paths a walk compares for each key.
bool SameUnits(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * 2) == 0;
}

uint32_t Clamp32(size_t n) {
  return static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX));
}

}  // namespace

struct HostRegistry::Mount {
  MountKind kind = MountKind::kOther;
  std::u16string name;  // the key name below HKLM or HKU ("SOFTWARE", "S-1-5-21-..._Classes")
  bool under_users = false;
  install::HiveFile file;
  std::string mount_text;  // "HKLM\SOFTWARE"

  std::mutex load_mutex;
  std::atomic<bool> attempted{false};
  Status load_status;
  std::unique_ptr<hive::Hive> hive;
  // Guarded by tree_mutex_.
  FileStamp stamp;
  bool dirty = false;
};

struct HostRegistry::Location {
  Mount* mount = nullptr;
  Key* key = nullptr;
};

struct HostRegistry::Resolved {
  Location primary;    // where values are read and written
  Location secondary;  // HKEY_CLASSES_ROOT: the machine's key when the user has one too
};

struct HostRegistry::OpenKeyState {
  HKEY root = 0;
  std::u16string path;
  bool view32 = true;
  REGSAM access = 0;
  // Known to lie deeper than every rule of the registry (see DeepestRule): keys below it are
  // their parent's keys' subkeys of their name. False also when not known.
  bool past_rules = false;

  // `resolved` is valid while `generation` equals the registry's. It is written (under `mutex`)
  // before `generation` is published, so a reader that sees the current generation reads a
  // complete answer without the mutex.
  std::mutex mutex;
  std::atomic<uint64_t> generation{0};
  Resolved resolved;
  uint64_t merged_generation = 0;
  std::vector<const std::u16string*> merged_names;  // HKEY_CLASSES_ROOT subkeys, in order
};

struct HostRegistry::Watcher {
  WatchId id = 0;
  bool subtree = false;
  std::vector<std::pair<const Mount*, std::u16string>> targets;  // hive and upper-cased path
  std::function<void()> on_change;
};

// ---------------------------------------------------------------------------------------------
// Opening

Result<std::unique_ptr<HostRegistry>> HostRegistry::Open(
    std::shared_ptr<const install::Installation> installation, const Options& options) {
  std::unique_ptr<HostRegistry> registry(new HostRegistry());
  Status status = registry->Init(std::move(installation), options);
  if (!status.ok()) return status;
  return registry;
}

Status HostRegistry::Init(std::shared_ptr<const install::Installation> installation,
                          const Options& options) {
  installation_ = std::move(installation);
  options_ = options;
  if (!options.user.empty()) {
    for (const install::UserProfile& profile : installation_->users()) {
      if (install::FileNamesEqual(profile.sid, options.user) ||
          install::FileNamesEqual(profile.name, options.user)) {
        user_ = &profile;
      }
    }
    if (user_ == nullptr) {
      return Status::Error(kErrorNoSuchUser,
                           "user '" + options.user + "' has no profile in this installation");
    }
  } else {
    user_ = installation_->DefaultUser();
  }

  for (HKEY root = HKEY_CLASSES_ROOT; root <= HKEY_DYN_DATA; ++root) {
    auto state = std::make_shared<OpenKeyState>();
    state->root = root;
    state->view32 = true;  // a 32-bit program
    state->access = KEY_ALL_ACCESS | KEY_NOTIFY;
    roots_[root - HKEY_CLASSES_ROOT] = std::move(state);
  }
  CarryOutPendingReplacements();

  volatile_ = hive::Hive::CreateEmpty(5, u"REGISTRY");
  Key& root = volatile_->root();
  Key* machine = root.CreateSubkey(kMachineNode).value();
  Key* users = root.CreateSubkey(kUsersNode).value();
  for (const install::HiveFile& file : installation_->hives()) {
    auto mount = std::make_unique<Mount>();
    mount->file = file;
    mount->mount_text = file.mount;
    mount->under_users = file.mount.starts_with("HKU\\");
    mount->name = ToU16(std::string_view(file.mount).substr(file.mount.find('\\') + 1));
    if (file.mount == install::Installation::kSoftware) {
      mount->kind = MountKind::kSoftware;
      software_ = mount.get();
    } else if (file.mount == install::Installation::kSystem) {
      mount->kind = MountKind::kSystem;
      system_ = mount.get();
    } else if (mount->under_users && file.mount.ends_with("_Classes")) {
      mount->kind = MountKind::kUserClasses;
    } else if (mount->under_users) {
      mount->kind = MountKind::kUser;
    }
    if (user_ != nullptr && !file.sid.empty() && file.sid == user_->sid) {
      (mount->kind == MountKind::kUserClasses ? user_classes_ : user_hive_) = mount.get();
    }
    (void)(mount->under_users ? users : machine)->CreateSubkey(mount->name);
    mounts_.push_back(std::move(mount));
  }
  hivelist_ = root.CreateSubkey(kHiveListNode).value();
  ReadSystemFacts();
  volatile_->set_read_only("it exists only while Windows runs");
  return Status::Ok();
}

// Facts a running Windows decides at boot: the current control set, the hardware profile and
// the code page; and the hive list it keeps in memory.
void HostRegistry::ReadSystemFacts() {
  if (system_ != nullptr && LoadMount(system_).ok()) {
    Key& root = system_->hive->root();
    if (Key* select = root.FindSubkey(u"Select")) {
      if (const hive::Value* current = select->FindValue(u"Current")) {
        if (auto number = install::RegDword(current->data); number && *number > 0) {
          char name[32];
          std::snprintf(name, sizeof name, "ControlSet%03u", *number);
          if (root.FindSubkey(ToU16(name)) != nullptr) control_set_ = ToU16(name);
        }
      }
    }
    if (Key* set = root.FindSubkey(control_set_)) {
      Key* profiles = set->FindSubkey(u"Hardware Profiles");
      Key* config = system_->hive->Find(control_set_ + u"\\Control\\IDConfigDB");
      if (profiles != nullptr && profiles->FindSubkey(u"Current") != nullptr) {
        hardware_profile_ = u"Current";
      } else if (const hive::Value* value =
                     config ? config->FindValue(u"CurrentConfig") : nullptr) {
        if (auto number = install::RegDword(value->data)) {
          char name[16];
          std::snprintf(name, sizeof name, "%04u", *number);
          hardware_profile_ = ToU16(name);
        }
      }
      if (Key* nls = system_->hive->Find(control_set_ + u"\\Control\\Nls\\CodePage")) {
        if (const hive::Value* acp = nls->FindValue(u"ACP")) {
          unsigned number = 0;
          if (std::sscanf(install::RegStringToUtf8(acp->data).c_str(), "%u", &number) == 1 &&
              number > 0) {
            ansi_code_page_ = number;
          }
        }
      }
    }
  }
  // The hive list: "\REGISTRY\MACHINE\SYSTEM" = "\Device\HarddiskVolume2\Windows\...\SYSTEM".
  auto add = [&](std::u16string_view name, std::string_view windows_path) {
    std::string data = windows_path.empty()
                           ? std::string()
                           : std::string(kSystemVolumeDevice) + "\\" + std::string(windows_path);
    std::u16string text = ToU16(data);
    text.push_back(u'\0');
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    (void)hivelist_->SetValue(name, REG_SZ, bytes);
  };
  add(u"\\REGISTRY\\MACHINE\\HARDWARE", "");
  for (const auto& mount : mounts_) {
    std::u16string name = mount->under_users ? u"\\REGISTRY\\USER\\" : u"\\REGISTRY\\MACHINE\\";
    add(name + mount->name, mount->file.windows_path);
  }
}

Status HostRegistry::LoadMount(Mount* mount) {
  if (mount->attempted.load(std::memory_order_acquire)) return mount->load_status;
  std::lock_guard<std::mutex> lock(mount->load_mutex);
  if (mount->attempted.load(std::memory_order_relaxed)) return mount->load_status;

  FileStamp stamp = StampOf(mount->file.file);
  Result<std::unique_ptr<hive::Hive>> opened = hive::Hive::Open(mount->file.file);
  if (!opened.ok() && opened.status().code() == kErrorBadDb) {
    // A damaged hive is still read as far as it is intact, and never written.
    hive::OpenOptions salvage;
    salvage.salvage = true;
    salvage.read_only = true;
    Result<std::unique_ptr<hive::Hive>> salvaged = hive::Hive::Open(mount->file.file, salvage);
    if (salvaged.ok()) {
      (*salvaged)->set_read_only("it is damaged (" + opened.status().ToString() + ")");
      opened = std::move(salvaged);
    }
  }
  if (opened.ok()) {
    mount->hive = std::move(*opened);
    // A hive that is read-only for its own reason (damaged, not cleanly closed) keeps that
    // reason: it says more than how the installation was opened.
    if (!mount->hive->read_only()) {
      if (options_.read_only) {
        mount->hive->set_read_only("the installation was opened read-only");
      } else if (!Writable(mount->file.file)) {
        mount->hive->set_read_only("its file or folder is not writable (a read-only mount?)");
      }
    }
    mount->stamp = stamp;
  } else {
    mount->load_status = opened.status();
  }
  mount->attempted.store(true, std::memory_order_release);
  return mount->load_status;
}

HostRegistry::~HostRegistry() {
  Status status = Commit();
  if (!status.ok()) std::fprintf(stderr, "hivemend: %s\n", status.ToString().c_str());
}

std::vector<HostRegistry::HiveState> HostRegistry::Hives() {
  std::shared_lock<std::shared_mutex> lock(tree_mutex_);
  std::vector<HiveState> states;
  for (const auto& mount : mounts_) {
    HiveState state;
    state.mount = mount->mount_text;
    state.file = mount->file.file;
    Status status = LoadMount(mount.get());
    state.loaded = status.ok();
    if (!status.ok()) {
      state.reason = status.ToString();
    } else if (mount->hive->read_only()) {
      state.reason = mount->hive->read_only_reason();
    } else {
      state.writable = true;
    }
    states.push_back(std::move(state));
  }
  return states;
}

// ---------------------------------------------------------------------------------------------
// Resolving a key: logical (root, path, view) -> the hive keys it stands for.

LSTATUS HostRegistry::ResolveLogical(HKEY root, std::u16string_view path, bool view32,
                                     Resolved* resolved) {
  // Per-thread buffers: resolving is the most frequent operation of a walk and must not allocate.
  thread_local Components components;
  thread_local std::array<PhysicalPath, 2> candidates;
  if (LSTATUS error = SplitPath(path, &components)) return error;
  size_t count = 0;
  if (LSTATUS error = MapToHives(root, components, view32, &candidates, &count)) return error;

  *resolved = Resolved();
  Location* slot = &resolved->primary;
  LSTATUS first_error = kErrorFileNotFound;
  for (size_t i = 0; i < count; ++i) {
    Location location;
    LSTATUS error = Walk(candidates[i], &location);
    if (error != kErrorSuccess) {
      if (first_error == kErrorFileNotFound) first_error = error;
      continue;
    }
    *slot = location;
    slot = &resolved->secondary;
  }
  return resolved->primary.key != nullptr ? kErrorSuccess : first_error;
}

// The hive paths that (root, components, view) stands for: one, or two for HKEY_CLASSES_ROOT
// (the user's classes first).
LSTATUS HostRegistry::MapToHives(HKEY root, const Components& components, bool view32,
                                 std::array<PhysicalPath, 2>* out, size_t* count) {
  const bool redirect = view32 && installation_->is_64bit();
  *count = 0;
  // Emits a candidate: `prefix`, then the components from `from` on. The candidates keep their
  // vectors' capacity between calls (the resolver reuses them).
  auto emit = [&](Mount* mount, std::initializer_list<std::u16string_view> prefix,
                  size_t from = 0) {
    PhysicalPath& physical = (*out)[(*count)++];
    physical.mount = mount;
    physical.components.assign(prefix);
    physical.components.insert(physical.components.end(),
                               components.begin() + std::min(from, components.size()),
                               components.end());
    ApplyHiveRules(&physical, redirect);
  };
  switch (root) {
    case HKEY_LOCAL_MACHINE:
    case HKEY_USERS: {
      const bool users = root == HKEY_USERS;
      if (components.empty()) {
        emit(nullptr, {users ? kUsersNode : kMachineNode}, 0);
        return kErrorSuccess;
      }
      for (const auto& mount : mounts_) {
        if (mount->under_users == users && NamesEqual(mount->name, components[0])) {
          emit(mount.get(), {}, 1);
          return kErrorSuccess;
        }
      }
      return kErrorFileNotFound;
    }
    case HKEY_CURRENT_USER:
      if (user_hive_ == nullptr) return kErrorFileNotFound;
      emit(user_hive_, {});
      return kErrorSuccess;
    case HKEY_CLASSES_ROOT: {
      if (user_classes_ != nullptr) emit(user_classes_, {});
      if (software_ != nullptr) emit(software_, {kClassesKey});
      return *count > 0 ? kErrorSuccess : kErrorFileNotFound;
    }
    case HKEY_CURRENT_CONFIG: {
      if (system_ == nullptr) return kErrorFileNotFound;
      emit(system_, {control_set_, u"Hardware Profiles", hardware_profile_});
      return kErrorSuccess;
    }
    default:
      // HKEY_PERFORMANCE_DATA and HKEY_DYN_DATA have no data in an installation on disk.
      return kErrorInvalidHandle;
  }
}

// Rules of the hive a path lands in: links a running Windows keeps, and the 32-bit view.
void HostRegistry::ApplyHiveRules(PhysicalPath* physical, bool redirect) {
  if (physical->mount == nullptr) return;
  Components& path = physical->components;
  switch (physical->mount->kind) {
    case MountKind::kSoftware:
      RedirectSoftwarePath(&path, redirect);
      break;
    case MountKind::kUser:
      if (path.size() >= 2 && NamesEqual(path[0], u"Software") && NamesEqual(path[1], u"Classes")) {
        if (Mount* classes = ClassesMountOf(physical->mount)) {
          physical->mount = classes;
          path.erase(path.begin(), path.begin() + 2);
          RedirectClassesPath(&path, 0, redirect);
        }
      }
      break;
    case MountKind::kUserClasses:
      RedirectClassesPath(&path, 0, redirect);
      break;
    case MountKind::kSystem:
      if (!path.empty() && NamesEqual(path[0], kCurrentControlSet)) path[0] = control_set_;
      if (path.size() == 3 && NamesEqual(path[0], control_set_) &&
          NamesEqual(path[1], u"Control") && NamesEqual(path[2], u"hivelist")) {
        physical->mount = nullptr;
        path = {kHiveListNode};
      }
      break;
    case MountKind::kOther:
      break;
  }
}

HostRegistry::Mount* HostRegistry::ClassesMountOf(const Mount* user_mount) const {
  for (const auto& mount : mounts_) {
    if (mount->kind == MountKind::kUserClasses && mount->file.sid == user_mount->file.sid) {
      return mount.get();
    }
  }
  return nullptr;
}

uint64_t HostRegistry::NextSerial() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1);
}

namespace {

// The last path each thread walked, with the key of every component: a walk over a tree opens
// each key right after its parent, so most walks only look up their last component.
struct WalkCache {
  uint64_t registry = 0;
  uint64_t generation = 0;
  const void* mount = nullptr;
  size_t depth = 0;  // entries of names and keys in use; the rest keep their capacity
  std::vector<std::u16string> names;
  std::vector<Key*> keys;
};
thread_local WalkCache t_walk_cache;

// The subkey EnumKey named last on this thread. A walk enumerates a key's subkeys and opens each
// one it is given right away: that open finds the key here instead of looking its name up in the
// parent's index (whose nodes are cold in a large hive). Valid while the registry and its
// generation (no key freed since) are the same.
struct EnumHint {
  uint64_t registry = 0;
  uint64_t generation = 0;
  const Key* parent = nullptr;
  Key* child = nullptr;
};
thread_local EnumHint t_enum_hint;

bool SameName(std::u16string_view a, std::u16string_view b) {
  return SameUnits(a, b) || NamesEqual(a, b);
}

}  // namespace

// REQUIRES: tree_mutex_ held (either way).
LSTATUS HostRegistry::Walk(const PhysicalPath& physical, Location* location) {
  Key* key = nullptr;
  if (physical.mount == nullptr) {
    key = &volatile_->root();
  } else {
    Status status = LoadMount(physical.mount);
    if (!status.ok()) return status.code() == kErrorFileNotFound ? kErrorFileNotFound : kErrorBadDb;
    key = &physical.mount->hive->root();
  }
  const Components& names = physical.components;
  WalkCache& cache = t_walk_cache;
  const uint64_t generation = generation_.load(std::memory_order_acquire);
  size_t known = 0;
  if (cache.registry == serial_ && cache.generation == generation &&
      cache.mount == physical.mount) {
    const size_t limit = std::min(cache.depth, names.size());
    while (known < limit && SameName(cache.names[known], names[known])) ++known;
    if (known > 0) key = cache.keys[known - 1];
  } else {
    cache.registry = serial_;
    cache.generation = generation;
    cache.mount = physical.mount;
  }
  cache.depth = known;
  for (size_t i = known; i < names.size(); ++i) {
    key = key->FindSubkey(names[i]);
    if (key == nullptr) return kErrorFileNotFound;
    if (cache.names.size() == i) {
      cache.names.emplace_back();
      cache.keys.push_back(nullptr);
    }
    cache.names[i].assign(names[i]);
    cache.keys[i] = key;
    cache.depth = i + 1;
  }
  location->mount = physical.mount;
  location->key = key;
  return kErrorSuccess;
}

// The keys a handle stands for, re-resolved when a deletion or a reload may have invalidated
// the last answer. REQUIRES: tree_mutex_ held (either way).
LSTATUS HostRegistry::ResolveState(OpenKeyState& state, Resolved* resolved) {
  const uint64_t generation = generation_.load(std::memory_order_acquire);
  if (state.generation.load(std::memory_order_acquire) != generation) {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.generation.load(std::memory_order_relaxed) != generation) {
      Resolved fresh;
      LSTATUS error = ResolveLogical(state.root, state.path, state.view32, &fresh);
      if (error != kErrorSuccess) return error == kErrorFileNotFound ? kErrorKeyDeleted : error;
      state.resolved = fresh;
      state.generation.store(generation, std::memory_order_release);
    }
  }
  *resolved = state.resolved;
  return kErrorSuccess;
}

// ---------------------------------------------------------------------------------------------
// Handles

std::shared_ptr<HostRegistry::OpenKeyState> HostRegistry::Lookup(HKEY key) {
  if (IsPredefinedRoot(key)) return roots_[key - HKEY_CLASSES_ROOT];
  const uint64_t index = key & 0xFFFFFFFF;
  const uint32_t serial = static_cast<uint32_t>(key >> 32);
  std::lock_guard<HandleLock> lock(handles_mutex_);
  if (index >= handles_.size() || handle_serials_[index] != serial) return nullptr;
  return handles_[index];
}

HKEY HostRegistry::AddHandle(std::shared_ptr<OpenKeyState> state) {
  std::lock_guard<HandleLock> lock(handles_mutex_);
  uint32_t index;
  if (!free_handles_.empty()) {
    index = free_handles_.back();
    free_handles_.pop_back();
  } else {
    index = static_cast<uint32_t>(handles_.size());
    handles_.emplace_back();
    handle_serials_.push_back(0);
  }
  handles_[index] = std::move(state);
  // Serials start at 1 and never repeat for a slot, so a closed handle stays invalid and no
  // handle collides with the predefined roots.
  const uint32_t serial = ++handle_serials_[index];
  return (uint64_t{serial} << 32) | index;
}

std::vector<std::shared_ptr<HostRegistry::OpenKeyState>>& HostRegistry::SpareStates() {
  thread_local std::vector<std::shared_ptr<OpenKeyState>> spares;
  return spares;
}

LSTATUS HostRegistry::CloseKey(HKEY key) {
  if (IsPredefinedRoot(key)) return kErrorSuccess;
  const uint64_t index = key & 0xFFFFFFFF;
  const uint32_t serial = static_cast<uint32_t>(key >> 32);
  std::shared_ptr<OpenKeyState> state;
  {
    std::lock_guard<HandleLock> lock(handles_mutex_);
    if (index >= handles_.size() || handle_serials_[index] != serial || !handles_[index]) {
      return kErrorInvalidHandle;
    }
    ++handle_serials_[index];
    state = std::move(handles_[index]);
    free_handles_.push_back(static_cast<uint32_t>(index));
  }
  // Out of the table nobody can take a new reference, so a count of one means no other thread
  // is still reading through the handle: the state is kept for this thread's next open. The
  // next open resets what it answered (its generations), so nothing of this registry is used
  // again, even by another registry. A few spares are enough: a walk closes a key and opens
  // the next.
  constexpr size_t kMaxSpareStates = 16;
  std::vector<std::shared_ptr<OpenKeyState>>& spares = SpareStates();
  if (state.use_count() == 1 && spares.size() < kMaxSpareStates) spares.push_back(std::move(state));
  return kErrorSuccess;
}

LSTATUS HostRegistry::OpenKey(HKEY parent, std::u16string_view subkey, REGSAM access,
                              HKEY* result) {
  return OpenOrCreate(parent, subkey, access, /*create=*/false, result, nullptr);
}

LSTATUS HostRegistry::CreateKey(HKEY parent, std::u16string_view subkey, REGSAM access,
                                HKEY* result, bool* created) {
  return OpenOrCreate(parent, subkey, access, /*create=*/true, result, created);
}

namespace {

// The depth of logical path below which no rule of the registry (mounts, links, the 32-bit
// view) applies any more: a deeper key's place in its hive is its parent's place plus its name.
size_t DeepestRule(HKEY root, bool view32, std::u16string_view path) {
  switch (root) {
    case HKEY_LOCAL_MACHINE: {
      // The first two components decide: SOFTWARE\Classes\CLSID is redirected at its third;
      // elsewhere in SOFTWARE the 32-bit view's deepest shared key has seven, the link of
      // WOW6432Node\Classes three; SYSTEM\CurrentControlSet\Control\hivelist has four.
      const size_t first_end = std::min(path.find(u'\\'), path.size());
      const std::u16string_view first = path.substr(0, first_end);
      const std::u16string_view rest =
          first_end < path.size() ? path.substr(first_end + 1) : std::u16string_view();
      const std::u16string_view second = rest.substr(0, std::min(rest.find(u'\\'), rest.size()));
      if (NamesEqual(first, u"SOFTWARE")) {
        if (NamesEqual(second, kClassesKey)) return 3;
        return view32 ? 7 : 3;
      }
      return NamesEqual(first, u"SYSTEM") ? 4 : 1;
    }
    case HKEY_USERS:
      return 4;  // <SID>\Software\Classes\CLSID
    case HKEY_CURRENT_USER:
      return 3;  // Software\Classes\CLSID
    case HKEY_CLASSES_ROOT:
      return view32 ? 1 : 0;
    default:
      return 0;
  }
}

// Whether `path` has more than `depth` components; stops counting there.
bool DeeperThan(std::u16string_view path, size_t depth) {
  size_t components = path.empty() ? 0 : 1;
  for (char16_t c : path) {
    if (components > depth) return true;
    if (c == u'\\') ++components;
  }
  return components > depth;
}

}  // namespace

// The keys each thread opened last, in a small table indexed by the length of their path: a walk
// opens a key, then each of its subkeys, then the key's next sibling, so the parent of the key
// being opened, or the key itself, is nearly always here and only the last name needs looking up.
struct HostRegistry::OpenCache {
  struct Entry {
    std::u16string path;
    Resolved resolved;
  };
  static constexpr size_t kSlots = 64;
  Entry& SlotFor(size_t path_length) { return slots[path_length % kSlots]; }

  uint64_t registry = 0;
  uint64_t generation = 0;
  HKEY root = 0;
  bool view32 = false;
  std::array<Entry, kSlots> slots;
};

// REQUIRES: tree_mutex_ held (either way).
LSTATUS HostRegistry::ResolveForOpen(const OpenKeyState& state, Resolved* resolved) {
  thread_local OpenCache cache;
  const uint64_t generation = generation_.load(std::memory_order_acquire);
  if (cache.registry != serial_ || cache.generation != generation || cache.root != state.root ||
      cache.view32 != state.view32) {
    cache.registry = serial_;
    cache.generation = generation;
    cache.root = state.root;
    cache.view32 = state.view32;
    for (OpenCache::Entry& entry : cache.slots) entry.path.clear();
  }
  const std::u16string_view path = state.path;
  if (path.empty()) return ResolveLogical(state.root, path, state.view32, resolved);
  OpenCache::Entry& entry = cache.SlotFor(path.size());
  if (SameUnits(entry.path, path)) {
    *resolved = entry.resolved;
    return kErrorSuccess;
  }
  const size_t cut = path.rfind(u'\\');
  const OpenCache::Entry* parent = cut == std::u16string_view::npos ? nullptr : &cache.SlotFor(cut);
  if (parent != nullptr && parent->resolved.primary.mount != nullptr &&
      SameUnits(parent->path, path.substr(0, cut)) &&
      DeeperThan(path, DeepestRule(state.root, state.view32, path))) {
    if (LSTATUS error = FindBelow(parent->resolved, path.substr(cut + 1), resolved)) return error;
  } else if (LSTATUS error = ResolveLogical(state.root, path, state.view32, resolved)) {
    return error;
  }
  entry.path.assign(path);
  entry.resolved = *resolved;
  return kErrorSuccess;
}

// The subkey `name` of the keys `parent` stands for: below the user's key and the machine's for
// HKEY_CLASSES_ROOT (the user's key first, standing for both when both have it).
LSTATUS HostRegistry::FindBelow(const Resolved& parent, std::u16string_view name,
                                Resolved* child) {
  Location user{parent.primary.mount, parent.primary.key->FindSubkey(name)};
  Location machine = parent.secondary;
  if (machine.key != nullptr) machine.key = machine.key->FindSubkey(name);
  *child = Resolved();
  if (user.key != nullptr) {
    child->primary = user;
    if (machine.key != nullptr) child->secondary = machine;
  } else if (machine.key != nullptr) {
    child->primary = machine;
  } else {
    return kErrorFileNotFound;
  }
  return kErrorSuccess;
}

// Opening one name below an open handle, as a walk opens each key below its parent's handle:
// when the new key is in the parent's view and deep enough that no rule of the registry (mounts,
// links, the 32-bit view) applies to it, its keys are the subkeys of that name of the parent's
// keys, which the parent's handle already holds. Nothing is split, mapped or walked from the
// root. Returns false when this does not apply; the caller then resolves the whole path.
// REQUIRES: tree_mutex_ held (either way).
bool HostRegistry::ResolveBelow(OpenKeyState& parent, OpenKeyState& state,
                                std::u16string_view name, LSTATUS* error, Resolved* resolved) {
  if (parent.path.empty() || name.empty() || name.find(u'\\') != std::u16string_view::npos ||
      state.view32 != parent.view32) {
    return false;
  }
  // The rules depend on the root, the view and the first two names only: below a key past them
  // every key is past them too, and the texts need not be compared again for each.
  if (!parent.past_rules &&
      !DeeperThan(state.path, DeepestRule(state.root, state.view32, state.path))) {
    return false;
  }
  state.past_rules = true;
  Resolved keys;
  // A parent whose key was deleted: the whole path gives the answer an open by path gives.
  if (ResolveState(parent, &keys) != kErrorSuccess) return false;
  const EnumHint& hint = t_enum_hint;
  // The exact name of the subkey just enumerated is that subkey (names are unique below a key);
  // a merged classes key also needs the machine's subkey, which the general lookup finds.
  if (hint.registry == serial_ && hint.parent == keys.primary.key && keys.secondary.key == nullptr &&
      hint.generation == generation_.load(std::memory_order_acquire) &&
      SameUnits(hint.child->name(), name)) {
    *resolved = Resolved();
    resolved->primary = {keys.primary.mount, hint.child};
    *error = kErrorSuccess;
    return true;
  }
  *error = FindBelow(keys, name, resolved);
  return true;
}

LSTATUS HostRegistry::OpenOrCreate(HKEY parent, std::u16string_view subkey, REGSAM access,
                                   bool create, HKEY* result, bool* created) {
  if (result == nullptr) return kErrorInvalidParameter;
  *result = 0;
  if (created != nullptr) *created = false;
  std::shared_ptr<OpenKeyState> parent_state = Lookup(parent);
  if (!parent_state) return kErrorInvalidHandle;
  if (!subkey.empty() && subkey.front() == u'\\') return kErrorBadPathname;

  // A scan opens (and closes) a handle for nearly every key it visits, and many opens fail (a
  // check looks for subkeys that most keys lack): states are taken from this thread's spares
  // (with their path buffers) instead of being allocated anew each time.
  std::vector<std::shared_ptr<OpenKeyState>>& spares = SpareStates();
  std::shared_ptr<OpenKeyState> state;
  if (!spares.empty()) {
    state = std::move(spares.back());
    spares.pop_back();
  } else {
    state = std::make_shared<OpenKeyState>();
  }
  state->generation.store(0, std::memory_order_relaxed);
  state->merged_generation = 0;
  state->past_rules = false;
  state->root = parent_state->root;
  state->path.assign(parent_state->path);
  if (!subkey.empty()) {
    if (!state->path.empty()) state->path += u'\\';
    state->path += subkey;
  }
  if (!state->path.empty() && state->path.back() == u'\\') state->path.pop_back();
  state->view32 = (access & KEY_WOW64_64KEY)   ? false
                  : (access & KEY_WOW64_32KEY) ? true
                                               : parent_state->view32;
  state->access = access;

  Resolved resolved;
  Callbacks due;
  LSTATUS error;
  {
    std::shared_lock<std::shared_mutex> lock(tree_mutex_);
    std::u16string_view name = subkey;
    if (!name.empty() && name.back() == u'\\') name.remove_suffix(1);
    if (IsPredefinedRoot(parent) || !ResolveBelow(*parent_state, *state, name, &error, &resolved)) {
      error = ResolveForOpen(*state, &resolved);
    }
    if (error == kErrorSuccess) error = FinishOpen(access, resolved, state.get());
  }
  if (error == kErrorFileNotFound && create) {
    if ((parent_state->access & KEY_CREATE_SUB_KEY) == 0) return kErrorAccessDenied;
    std::unique_lock<std::shared_mutex> lock(tree_mutex_);
    error = CreatePath(*state, &resolved, created, &due);
    if (error == kErrorSuccess) error = FinishOpen(access, resolved, state.get());
  }
  if (!due.empty()) RunCallbacks(std::move(due));  // only a creation has any
  if (error != kErrorSuccess) {
    spares.push_back(std::move(state));
    return error;
  }
  *result = AddHandle(std::move(state));
  return kErrorSuccess;
}

// Checks the rights asked for against the key found and completes the new handle's state.
// REQUIRES: tree_mutex_ held (either way).
LSTATUS HostRegistry::FinishOpen(REGSAM access, const Resolved& resolved, OpenKeyState* state) {
  const Mount* mount = resolved.primary.mount;
  const bool writable = mount != nullptr && !mount->hive->read_only();
  if (RequiresChange(access) && !writable) return kErrorAccessDenied;
  if (access & MAXIMUM_ALLOWED) {
    state->access = KEY_READ | (writable ? KEY_ALL_ACCESS : 0) | (access & KEY_WOW64_RES);
  }
  state->resolved = resolved;
  state->generation.store(generation_.load(std::memory_order_acquire), std::memory_order_release);
  return kErrorSuccess;
}

// Creates the keys of `state`'s path that are missing. For HKEY_CLASSES_ROOT the new keys go to
// the user's classes when the deepest existing part of the path is the user's, else to the
// machine's, which is where Windows sends them. REQUIRES: tree_mutex_ held exclusively.
LSTATUS HostRegistry::CreatePath(OpenKeyState& state, Resolved* resolved, bool* created,
                                 Callbacks* due) {
  Components components;
  if (LSTATUS error = SplitPath(state.path, &components)) return error;
  std::array<PhysicalPath, 2> candidates;
  size_t count = 0;
  if (LSTATUS error = MapToHives(state.root, components, state.view32, &candidates, &count)) {
    // Below HKLM and HKU only hives can be loaded, never keys created.
    const bool new_hive = state.root == HKEY_LOCAL_MACHINE || state.root == HKEY_USERS;
    return error == kErrorFileNotFound && new_hive ? kErrorAccessDenied : error;
  }
  // Pick the candidate with the deepest existing ancestor; the first wins a tie.
  size_t best = count;
  size_t best_depth = 0;
  for (size_t i = 0; i < count; ++i) {
    const PhysicalPath& candidate = candidates[i];
    if (candidate.mount == nullptr || !LoadMount(candidate.mount).ok()) continue;
    size_t depth = 0;
    Key* key = &candidate.mount->hive->root();
    while (depth < candidate.components.size() &&
           (key = key->FindSubkey(candidate.components[depth])) != nullptr) {
      ++depth;
    }
    if (best == count || depth > best_depth) {
      best = i;
      best_depth = depth;
    }
  }
  if (best == count) return kErrorAccessDenied;  // only keys of a running Windows on the way
  const PhysicalPath& target = candidates[best];
  hive::Hive& hive = *target.mount->hive;
  if (hive.read_only()) return kErrorAccessDenied;
  Key* key = &hive.root();
  Key* first_new_parent = nullptr;
  for (std::u16string_view name : target.components) {
    if (name.size() > hive::kMaxKeyNameLength) return kErrorInvalidParameter;
    bool made = false;
    Key* parent = key;
    Result<Key*> child = key->CreateSubkey(name, &made);
    if (!child.ok()) return child.status().code();
    if (made && first_new_parent == nullptr) first_new_parent = parent;
    key = *child;
  }
  target.mount->dirty = true;
  generation_.fetch_add(1, std::memory_order_acq_rel);
  if (created != nullptr) *created = first_new_parent != nullptr;
  if (first_new_parent != nullptr) CollectWatchers(target.mount, *first_new_parent, due);
  return ResolveLogical(state.root, state.path, state.view32, resolved);
}

// ---------------------------------------------------------------------------------------------
// Reading

// Checks a handle and its rights, then runs `read` on its keys while the registry is held for
// reading.
template <typename Read>
LSTATUS HostRegistry::ReadKey(HKEY handle, REGSAM needed, Read read) {
  std::shared_ptr<OpenKeyState> state = Lookup(handle);
  if (!state) return kErrorInvalidHandle;
  if ((state->access & needed) != needed) return kErrorAccessDenied;
  std::shared_lock<std::shared_mutex> lock(tree_mutex_);
  Resolved resolved;
  if (LSTATUS error = ResolveState(*state, &resolved)) return error;
  return read(*state, resolved);
}

LSTATUS HostRegistry::QueryKeyName(HKEY handle, std::u16string* name) {
  auto read = [&](OpenKeyState&, const Resolved& resolved) -> LSTATUS {
    *name = resolved.primary.key->name();
    return kErrorSuccess;
  };
  return ReadKey(handle, KEY_QUERY_VALUE, read);
}

LSTATUS HostRegistry::QueryInfoKey(HKEY handle, KeyInfo* info) {
  auto read = [&](OpenKeyState& state, const Resolved& resolved) -> LSTATUS {
    *info = KeyInfo();
    const Key& key = *resolved.primary.key;
    size_t max_subkey = key.max_subkey_name_length();
    size_t subkeys = key.subkeys().size();
    if (HasListedExtras(resolved)) {
      for (const std::u16string* name : MergedNames(state, resolved)) {
        max_subkey = std::max(max_subkey, name->size());
      }
      subkeys = MergedNames(state, resolved).size();
    }
    const size_t max_name = key.max_value_name_length();
    const size_t max_data = key.max_value_data_size();
    info->subkeys = Clamp32(subkeys);
    info->max_subkey_len = Clamp32(max_subkey);
    info->max_class_len = Clamp32(key.class_name().size() / 2);
    info->values = Clamp32(key.values().size());
    info->max_value_name_len = Clamp32(max_name);
    info->max_value_len = Clamp32(max_data);
    info->last_write_time = key.last_write_time();
    return kErrorSuccess;
  };
  return ReadKey(handle, KEY_QUERY_VALUE, read);
}

// The subkey names of a merged HKEY_CLASSES_ROOT key in Windows' order: the union of both
// lists, the user's key standing for both where the names are equal. Cached in the handle until
// the tree changes. REQUIRES: tree_mutex_ held.
// Whether the subkeys of a key are more than those stored below it: a merged classes key, or the
// root of SYSTEM, where a running Windows shows CurrentControlSet beside the control sets.
bool HostRegistry::HasListedExtras(const Resolved& resolved) const {
  return resolved.secondary.key != nullptr ||
         (resolved.primary.mount == system_ && resolved.primary.key->parent() == nullptr);
}

// The subkey names of such a key in Windows' order: the union of both lists (the user's key
// standing for both where the names are equal), or the stored names with CurrentControlSet.
// Cached in the handle until the tree changes. REQUIRES: tree_mutex_ held.
const std::vector<const std::u16string*>& HostRegistry::MergedNames(OpenKeyState& state,
                                                                    const Resolved& resolved) {
  static const std::u16string kCurrentControlSetName(kCurrentControlSet);
  const uint64_t generation = generation_.load(std::memory_order_acquire);
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.merged_generation == generation) return state.merged_names;
  std::vector<const std::u16string*> first, second;
  for (const auto& key : resolved.primary.key->subkeys()) first.push_back(&key->name());
  if (resolved.secondary.key != nullptr) {
    for (const auto& key : resolved.secondary.key->subkeys()) second.push_back(&key->name());
  } else {
    second.push_back(&kCurrentControlSetName);
  }
  state.merged_names.clear();
  size_t a = 0, b = 0;
  while (a < first.size() || b < second.size()) {
    const int order = a == first.size()    ? 1
                      : b == second.size() ? -1
                                           : hive::CompareNames(*first[a], *second[b]);
    if (order <= 0) {
      state.merged_names.push_back(first[a++]);
      if (order == 0) ++b;
    } else {
      state.merged_names.push_back(second[b++]);
    }
  }
  state.merged_generation = generation;
  return state.merged_names;
}

LSTATUS HostRegistry::EnumKey(HKEY handle, uint32_t index, std::u16string* name) {
  return EnumKey(handle, index, [name](std::u16string_view found) { name->assign(found); });
}

LSTATUS HostRegistry::EnumKey(HKEY handle, uint32_t index, NameVisitor visit) {
  auto read = [&](OpenKeyState& state, const Resolved& resolved) -> LSTATUS {
    if (HasListedExtras(resolved)) {
      const auto& names = MergedNames(state, resolved);
      if (index >= names.size()) return kErrorNoMoreItems;
      visit(*names[index]);
      return kErrorSuccess;
    }
    const auto& subkeys = resolved.primary.key->subkeys();
    if (index >= subkeys.size()) return kErrorNoMoreItems;
    Key* child = subkeys[index].get();
    t_enum_hint = {serial_, generation_.load(std::memory_order_acquire), resolved.primary.key,
                   child};
    visit(child->name());
    return kErrorSuccess;
  };
  return ReadKey(handle, KEY_ENUMERATE_SUB_KEYS, read);
}

LSTATUS HostRegistry::EnumValue(HKEY handle, uint32_t index, ValueVisitor visit) {
  auto read = [&](OpenKeyState& state, const Resolved& resolved) -> LSTATUS {
    const auto& values = resolved.primary.key->values();
    if (index >= values.size()) return kErrorNoMoreItems;
    visit(values[index]);
    return kErrorSuccess;
  };
  return ReadKey(handle, KEY_QUERY_VALUE, read);
}

LSTATUS HostRegistry::QueryValue(HKEY handle, std::u16string_view name, ValueVisitor visit) {
  auto read = [&](OpenKeyState& state, const Resolved& resolved) -> LSTATUS {
    const hive::Value* value = resolved.primary.key->FindValue(name);
    if (value == nullptr) return kErrorFileNotFound;
    visit(*value);
    return kErrorSuccess;
  };
  return ReadKey(handle, KEY_QUERY_VALUE, read);
}

LSTATUS HostRegistry::EnumValue(HKEY key, uint32_t index, ValueEntry* value) {
  return EnumValue(key, index, [value](const hive::Value& found) {
    value->name = found.name;
    value->type = found.type;
    value->data = std::string(found.data.view());
  });
}

LSTATUS HostRegistry::QueryValue(HKEY key, std::u16string_view name, ValueEntry* value) {
  return QueryValue(key, name, [value](const hive::Value& found) {
    value->name = found.name;
    value->type = found.type;
    value->data = std::string(found.data.view());
  });
}

// ---------------------------------------------------------------------------------------------
// Changing

// Runs `change` on the key a handle writes to, holding the registry exclusively, then marks the
// hive changed and calls the watchers of `notify` (the changed key).
template <typename Change>
LSTATUS HostRegistry::ChangeKey(HKEY handle, REGSAM needed, Change change) {
  std::shared_ptr<OpenKeyState> state = Lookup(handle);
  if (!state) return kErrorInvalidHandle;
  if ((state->access & needed) != needed) return kErrorAccessDenied;
  std::vector<std::function<void()>> due;
  {
    std::unique_lock<std::shared_mutex> lock(tree_mutex_);
    Resolved resolved;
    if (LSTATUS error = ResolveState(*state, &resolved)) return error;
    Location target = resolved.primary;
    if (target.mount == nullptr || target.mount->hive->read_only()) return kErrorAccessDenied;
    Key* changed = nullptr;
    if (LSTATUS error = change(target, &changed)) return error;
    target.mount->dirty = true;
    if (changed != nullptr) CollectWatchers(target.mount, *changed, &due);
  }
  RunCallbacks(std::move(due));
  return kErrorSuccess;
}

LSTATUS HostRegistry::SetValue(HKEY handle, std::u16string_view name, uint32_t type,
                               std::string_view data) {
  if (name.size() > hive::kMaxValueNameLength) return kErrorInvalidParameter;
  return ChangeKey(handle, KEY_SET_VALUE, [&](Location target, Key** changed) -> LSTATUS {
    Status status = target.key->SetValue(name, type, data);
    if (!status.ok()) return status.code();
    *changed = target.key;
    return kErrorSuccess;
  });
}

LSTATUS HostRegistry::DeleteValue(HKEY handle, std::u16string_view name) {
  return ChangeKey(handle, KEY_SET_VALUE, [&](Location target, Key** changed) -> LSTATUS {
    if (target.key->FindValue(name) == nullptr) return kErrorFileNotFound;
    Status status = target.key->DeleteValue(name);
    if (!status.ok()) return status.code();
    *changed = target.key;
    return kErrorSuccess;
  });
}

LSTATUS HostRegistry::DeleteKey(HKEY parent, std::u16string_view subkey, REGSAM view) {
  std::shared_ptr<OpenKeyState> parent_state = Lookup(parent);
  if (!parent_state) return kErrorInvalidHandle;
  if (subkey.empty()) return kErrorBadPathname;
  const bool view32 = (view & KEY_WOW64_64KEY)   ? false
                      : (view & KEY_WOW64_32KEY) ? true
                                                 : parent_state->view32;
  const std::u16string path = JoinPath(parent_state->path, subkey);
  std::vector<std::function<void()>> due;
  {
    std::unique_lock<std::shared_mutex> lock(tree_mutex_);
    Resolved resolved;
    if (LSTATUS error = ResolveLogical(parent_state->root, path, view32, &resolved)) return error;
    Location target = resolved.primary;
    if (target.mount == nullptr || target.mount->hive->read_only()) return kErrorAccessDenied;
    Key* key = target.key;
    Key* key_parent = key->parent();
    // A hive's root cannot be deleted, and neither can a key that still has subkeys.
    if (key_parent == nullptr || !key->subkeys().empty()) return kErrorAccessDenied;
    Status status = key_parent->DeleteSubkey(key->name());
    if (!status.ok()) return status.code();
    target.mount->dirty = true;
    generation_.fetch_add(1, std::memory_order_acq_rel);
    CollectWatchers(target.mount, *key_parent, &due);
  }
  RunCallbacks(std::move(due));
  return kErrorSuccess;
}

LSTATUS HostRegistry::GetKeySecurity(HKEY handle, std::string* descriptor) {
  auto read = [&](OpenKeyState& state, const Resolved& resolved) -> LSTATUS {
    const hive::SecurityRef& security = resolved.primary.key->security();
    descriptor->assign(security ? *security : std::string());
    return kErrorSuccess;
  };
  return ReadKey(handle, READ_CONTROL, read);
}

LSTATUS HostRegistry::SetKeySecurity(HKEY handle, uint32_t security_information,
                                     std::string_view descriptor) {
  if (security_information & SACL_SECURITY_INFORMATION) return kErrorPrivilegeNotHeld;
  REGSAM needed = 0;
  if (security_information & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) {
    needed |= WRITE_OWNER;
  }
  if (security_information & DACL_SECURITY_INFORMATION) needed |= WRITE_DAC;
  if (needed == 0) return kErrorInvalidParameter;
  return ChangeKey(handle, needed, [&](Location target, Key**) -> LSTATUS {
    const hive::SecurityRef& current = target.key->security();
    Result<std::string> merged = MergeSecurityDescriptor(
        current ? std::string_view(*current) : std::string_view(BuildSecurityDescriptor({})),
        security_information, descriptor);
    if (!merged.ok()) return merged.status().code();
    Status status = target.key->SetSecurity(std::move(merged).value());
    return status.ok() ? kErrorSuccess : status.code();
  });
}

LSTATUS HostRegistry::QueryReflectionKey(HKEY handle, bool* disabled) {
  if (!installation_->is_64bit()) return kErrorNotSupported;
  std::shared_ptr<OpenKeyState> state = Lookup(handle);
  if (!state) return kErrorInvalidHandle;
  std::shared_lock<std::shared_mutex> lock(tree_mutex_);
  // Per-thread buffers: a scan asks this for most keys it examines in the 64-bit view.
  thread_local Components components;
  thread_local std::array<PhysicalPath, 2> view64, view32;
  if (LSTATUS error = SplitPath(state->path, &components)) return error;
  size_t count64 = 0, count32 = 0;
  if (LSTATUS error = MapToHives(state->root, components, false, &view64, &count64)) return error;
  if (LSTATUS error = MapToHives(state->root, components, true, &view32, &count32)) return error;
  bool same = count64 == count32;
  for (size_t i = 0; same && i < count64; ++i) {
    same = view64[i].mount == view32[i].mount &&
           view64[i].components.size() == view32[i].components.size() &&
           std::equal(view64[i].components.begin(), view64[i].components.end(),
                      view32[i].components.begin(), NamesEqual);
  }
  *disabled = !same;
  return kErrorSuccess;
}

// ---------------------------------------------------------------------------------------------
// Hive files

namespace {

// Copies `from` and its subtree below `to` (whose own name and place stay).
Status CopyTree(const Key& from, Key* to) {
  if (Status s = to->SetClassName(from.class_name()); !s.ok()) return s;
  if (from.security()) {
    if (Status s = to->SetSecurity(*from.security()); !s.ok()) return s;
  }
  for (const hive::Value& value : from.values()) {
    if (Status s = to->SetValue(value.name, value.type, value.data); !s.ok()) return s;
  }
  for (const auto& subkey : from.subkeys()) {
    Result<Key*> child = to->CreateSubkey(subkey->name());
    if (!child.ok()) return child.status();
    if (Status s = CopyTree(*subkey, *child); !s.ok()) return s;
  }
  return to->SetLastWriteTime(from.last_write_time());
}

}  // namespace

LSTATUS HostRegistry::SaveKey(HKEY handle, const fs::path& file) {
  std::shared_ptr<OpenKeyState> state = Lookup(handle);
  if (!state) return kErrorInvalidHandle;
  std::unique_lock<std::shared_mutex> lock(tree_mutex_);  // the writer may touch the hive
  Resolved resolved;
  if (LSTATUS error = ResolveState(*state, &resolved)) return error;
  const Location& source = resolved.primary;
  if (source.mount == nullptr) return kErrorAccessDenied;
  Status status;
  if (source.key->parent() == nullptr) {
    status = source.mount->hive->WriteTo(file);
  } else {
    std::unique_ptr<hive::Hive> copy =
        hive::Hive::CreateEmpty(source.mount->hive->header().minor_version, source.key->name());
    status = CopyTree(*source.key, &copy->root());
    if (status.ok()) status = copy->WriteTo(file);
  }
  return status.code();
}

LSTATUS HostRegistry::ReplaceKey(HKEY root, std::u16string_view subkey, const fs::path& new_file,
                                 const fs::path& old_file) {
  std::shared_ptr<OpenKeyState> parent = Lookup(root);
  if (!parent) return kErrorInvalidHandle;
  const std::u16string path = JoinPath(parent->path, subkey);
  Mount* mount = nullptr;
  {
    std::shared_lock<std::shared_mutex> lock(tree_mutex_);
    Resolved resolved;
    if (LSTATUS error = ResolveLogical(parent->root, path, /*view32=*/false, &resolved)) {
      return error;
    }
    if (resolved.primary.mount == nullptr || resolved.primary.key->parent() != nullptr ||
        resolved.secondary.key != nullptr) {
      return kErrorInvalidParameter;
    }
    mount = resolved.primary.mount;
  }
  if (options_.read_only || !Writable(mount->file.file)) return kErrorAccessDenied;
  std::string bytes;
  if (Status status = ReadWholeFile(new_file, &bytes); !status.ok()) return status.code();
  if (Result<std::unique_ptr<hive::Hive>> check = hive::Hive::Parse(bytes, {}, new_file.string());
      !check.ok()) {
    return kErrorBadDb;
  }
  Result<fs::path> journal = installation_->Resolve(kPendingFile);
  fs::path journal_file = journal.ok() ? *journal
                                       : installation_->root() / "ProgramData" / "Corvexa" /
                                             "pending-hive-replacements.txt";
  std::string text;
  (void)ReadWholeFile(journal_file, &text);
  text += mount->mount_text + "\t" + fs::absolute(new_file).string() + "\t" +
          fs::absolute(old_file).string() + "\r\n";
  std::error_code ignored;
  fs::create_directories(journal_file.parent_path(), ignored);
  return AtomicWriteFile(journal_file, text).code();
}

// Carries out the hive replacements recorded by ReplaceKey(), as Windows does at its start:
// the hive file is kept as the old file, and the new file takes its place.
void HostRegistry::CarryOutPendingReplacements() {
  Result<fs::path> journal = installation_->Resolve(kPendingFile);
  if (!journal.ok()) return;
  std::string text;
  if (!ReadWholeFile(*journal, &text).ok()) return;
  if (options_.read_only) {
    pending_notes_.push_back("Hive replacements are waiting in " + journal->string() +
                             "; they are carried out when the installation is opened writable.");
    return;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t tab1 = line.find('\t');
    size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos) continue;
    const std::string mount_text = line.substr(0, tab1);
    const fs::path new_file = line.substr(tab1 + 1, tab2 - tab1 - 1);
    const fs::path old_file = line.substr(tab2 + 1);
    const install::HiveFile* hive = installation_->FindHive(mount_text);
    auto fail = [&](const std::string& why) {
      pending_notes_.push_back(mount_text + " was not replaced by " + new_file.string() + ": " +
                               why);
    };
    if (hive == nullptr) {
      fail("the installation has no such hive");
      continue;
    }
    std::string replacement, current;
    if (Status s = ReadWholeFile(new_file, &replacement); !s.ok()) {
      fail(s.ToString());
      continue;
    }
    if (!hive::Hive::Parse(replacement, {}, new_file.string()).ok()) {
      fail("it is not a valid hive");
      continue;
    }
    if (Status s = ReadWholeFile(hive->file, &current); !s.ok()) {
      fail(s.ToString());
      continue;
    }
    if (Status s = AtomicWriteFile(old_file, current); !s.ok()) {
      fail(s.ToString());
      continue;
    }
    if (Status s = AtomicWriteFile(hive->file, replacement); !s.ok()) {
      fail(s.ToString());
      continue;
    }
    std::error_code ignored;
    fs::remove(new_file, ignored);
    pending_notes_.push_back(mount_text + " was replaced by " + new_file.string() +
                             " as scheduled; the previous hive is kept as " + old_file.string() +
                             ".");
  }
  std::error_code ignored;
  fs::remove(*journal, ignored);
}

LSTATUS HostRegistry::FlushKey(HKEY handle) {
  std::shared_ptr<OpenKeyState> state = Lookup(handle);
  if (!state) return kErrorInvalidHandle;
  std::unique_lock<std::shared_mutex> lock(tree_mutex_);
  Resolved resolved;
  if (LSTATUS error = ResolveState(*state, &resolved)) return error;
  return SaveMount(resolved.primary.mount).code();
}

// REQUIRES: tree_mutex_ held exclusively.
Status HostRegistry::SaveMount(Mount* mount) {
  if (mount == nullptr || !mount->dirty) return Status::Ok();
  if (StampOf(mount->file.file) != mount->stamp) {
    mount->hive->set_read_only("its file was changed by another program after it was read");
    return Status::Error(kErrorAccessDenied, "hive '" + mount->mount_text + "' (" +
                                                 mount->file.file.string() +
                                                 "): changed by another program; not written");
  }
  Status status = mount->hive->Save();
  if (!status.ok()) return status;
  mount->dirty = false;
  mount->stamp = StampOf(mount->file.file);
  return Status::Ok();
}

Status HostRegistry::Commit() {
  std::unique_lock<std::shared_mutex> lock(tree_mutex_);
  Status first;
  for (const auto& mount : mounts_) {
    Status status = SaveMount(mount.get());
    if (!status.ok() && first.ok()) first = status;
  }
  return first;
}

// ---------------------------------------------------------------------------------------------
// Watching

LSTATUS HostRegistry::Watch(HKEY handle, bool subtree, std::function<void()> on_change,
                            WatchId* id) {
  std::shared_ptr<OpenKeyState> state = Lookup(handle);
  if (!state) return kErrorInvalidHandle;
  if ((state->access & KEY_NOTIFY) == 0) return kErrorAccessDenied;
  auto watcher = std::make_unique<Watcher>();
  watcher->subtree = subtree;
  watcher->on_change = std::move(on_change);
  {
    std::shared_lock<std::shared_mutex> lock(tree_mutex_);
    Resolved resolved;
    if (LSTATUS error = ResolveState(*state, &resolved)) return error;
    for (const Location& location : {resolved.primary, resolved.secondary}) {
      if (location.key == nullptr) continue;
      if (location.mount == nullptr) {
        // HKLM or HKU itself: every hive mounted below it.
        const bool users = hive::NamesEqual(location.key->name(), kUsersNode);
        for (const auto& mount : mounts_) {
          if (mount->under_users == users) watcher->targets.emplace_back(mount.get(), u"");
        }
        continue;
      }
      watcher->targets.emplace_back(location.mount, hive::WinUpcase(location.key->path()));
    }
  }
  std::lock_guard<std::mutex> lock(watch_mutex_);
  watcher->id = next_watch_++;
  *id = watcher->id;
  watchers_.push_back(std::move(watcher));
  return kErrorSuccess;
}

void HostRegistry::Unwatch(WatchId id) {
  std::lock_guard<std::mutex> lock(watch_mutex_);
  std::erase_if(watchers_, [id](const auto& watcher) { return watcher->id == id; });
}

// Adds the callbacks of the watchers of `changed` (a key whose values or subkey list changed).
void HostRegistry::CollectWatchers(const Mount* mount, const Key& changed, Callbacks* due) {
  const std::u16string path = hive::WinUpcase(changed.path());
  std::lock_guard<std::mutex> lock(watch_mutex_);
  for (const auto& watcher : watchers_) {
    for (const auto& [target_mount, target_path] : watcher->targets) {
      if (target_mount != mount) continue;
      const bool same = path == target_path;
      const bool below =
          watcher->subtree && (target_path.empty() ||
                               (path.size() > target_path.size() && path.starts_with(target_path) &&
                                path[target_path.size()] == u'\\'));
      if (same || below) {
        due->push_back(watcher->on_change);
        break;
      }
    }
  }
}

void HostRegistry::RunCallbacks(Callbacks callbacks) {
  for (auto& callback : callbacks) callback();
}

void HostRegistry::CheckForExternalChanges() {
  std::vector<std::function<void()>> due;
  {
    std::unique_lock<std::shared_mutex> lock(tree_mutex_);
    for (const auto& mount : mounts_) {
      if (!mount->attempted.load(std::memory_order_acquire) || !mount->hive) continue;
      if (StampOf(mount->file.file) == mount->stamp) continue;
      if (mount->dirty) {
        mount->hive->set_read_only(
            "its file was changed by another program while changes made here were not yet "
            "written");
        continue;
      }
      {
        std::lock_guard<std::mutex> load_lock(mount->load_mutex);
        mount->attempted.store(false, std::memory_order_release);
      }
      std::unique_ptr<hive::Hive> previous = std::move(mount->hive);
      Status status = LoadMount(mount.get());
      if (!status.ok()) {
        // Keep reading what was there rather than losing the hive; it is stale, so refuse
        // changes.
        mount->hive = std::move(previous);
        mount->hive->set_read_only(
            "its file was replaced by another program with one that "
            "cannot be read (" +
            status.ToString() + ")");
        mount->load_status = Status::Ok();
      }
      generation_.fetch_add(1, std::memory_order_acq_rel);
      CollectWatchers(mount.get(), mount->hive->root(), &due);
      // Watchers of keys below the root hear of a reload too.
      std::lock_guard<std::mutex> watch_lock(watch_mutex_);
      for (const auto& watcher : watchers_) {
        for (const auto& target : watcher->targets) {
          if (target.first == mount.get() && !target.second.empty()) {
            due.push_back(watcher->on_change);
            break;
          }
        }
      }
    }
  }
  RunCallbacks(std::move(due));
}

}  // namespace hm::reg
