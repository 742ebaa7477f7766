#include "platform/files/host_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <random>
#include <unordered_map>

#include "platform/file_io.h"
#include "platform/files/host_ops.h"
#include "platform/files/recycle_record.h"
#include "platform/hive/upcase.h"
#include "platform/utf.h"

namespace hm::files {
namespace {

namespace fs = std::filesystem;
using install::DriveType;
using install::FileNamesEqual;
using install::WindowsPath;

constexpr int kMaxLinkHops = 40;  // as many as Linux follows
// A cache that grows past this many names is dropped and refilled as probes need it.
constexpr uint64_t kMaxCachedEntries = 4'000'000;
constexpr std::string_view kSystemVolumeDevice = "\\Device\\HarddiskVolume2";
constexpr std::string_view kRecycleBin = "$Recycle.Bin";

enum class Kind : uint8_t { kFile, kFolder, kLink, kOther };

Kind KindOfMode(mode_t mode) {
  if (S_ISDIR(mode)) return Kind::kFolder;
  if (S_ISREG(mode)) return Kind::kFile;
  if (S_ISLNK(mode)) return Kind::kLink;
  return Kind::kOther;
}

ItemType ItemTypeOf(Kind kind) {
  switch (kind) {
    case Kind::kFolder:
      return ItemType::kFolder;
    case Kind::kLink:
      return ItemType::kLink;
    case Kind::kOther:
      return ItemType::kOther;
    case Kind::kFile:
      break;
  }
  return ItemType::kFile;
}

// The key names are cached under: Windows' upper-case form, so that one lookup finds a name
// whatever its letter case.
std::string UpperKey(std::string_view name) {
  std::string key(name);
  bool ascii = true;
  for (char& c : key) {
    if (c & 0x80) {
      ascii = false;
      break;
    }
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (ascii) return key;
  return ToUtf8(hive::WinUpcase(FromUtf8(name)));
}

// The components of an absolute host path with "." and ".." applied to the text.
std::vector<std::string> LexicalParts(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    std::string_view part = path.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.emplace_back(part);
  }
  return parts;
}

bool HasPrefix(const std::vector<std::string>& parts, const std::vector<std::string>& prefix) {
  return parts.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), parts.begin());
}

// The components below the tree's root that a link in the folder `dir` leads to, found from the
// text of the link alone. False when the target lies outside the tree's host folder: it is then
// never looked at.
bool LinkDestination(const std::vector<std::string>& canonical_root,
                     const std::vector<std::string>& given_root, const std::string& target,
                     const std::vector<std::string>& dir, std::vector<std::string>* out) {
  if (target.empty()) return false;
  if (target[0] == '/') {
    std::vector<std::string> parts = LexicalParts(target);
    const std::vector<std::string>& root =
        HasPrefix(parts, canonical_root) ? canonical_root : given_root;
    if (!HasPrefix(parts, root)) return false;
    out->assign(parts.begin() + root.size(), parts.end());
    return true;
  }
  *out = dir;
  for (size_t start = 0; start <= target.size();) {
    size_t end = std::min(target.find('/', start), target.size());
    std::string_view part(target.data() + start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      out->emplace_back(part);
    } else if (out->empty()) {
      return false;  // above the tree's root
    } else {
      out->pop_back();
    }
  }
  return true;
}

std::string JoinHost(const fs::path& root, const std::vector<std::string>& names, size_t count) {
  std::string path = root.string();
  for (size_t i = 0; i < count; ++i) {
    if (path.empty() || path.back() != '/') path += '/';
    path += names[i];
  }
  return path;
}

// Windows' name of a drive the program knows; see QueryDosDevice().
std::string DeviceName(const install::DriveMapping& drive, int volume, int cdrom) {
  switch (drive.type) {
    case install::kDriveCdRom:
      return "\\Device\\CdRom" + std::to_string(cdrom);
    case install::kDriveRemote:
      return std::string("\\Device\\LanmanRedirector\\;") + drive.letter +
             ":0000000000000000\\hivemend\\" + static_cast<char>(drive.letter - 'A' + 'a');
    default:
      return "\\Device\\HarddiskVolume" + std::to_string(volume);
  }
}

std::string RandomRecycleName() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
  std::string name;
  for (int i = 0; i < 6; ++i) name += kChars[pick(generator)];
  return name;
}

// The extension Windows keeps on a recycled item: from the last period of its name.
std::string_view NameExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool Exists(const fs::path& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// A host path in a freedesktop.org .trashinfo: percent-encoded except for unreserved
// characters and '/'.
std::string TrashInfoPath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string LocalTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

}  // namespace

struct HostFiles::Entry {
  std::string name;  // as on disk
  Kind kind = Kind::kFile;
  bool link_read = false;
  std::string link_target;
  std::unique_ptr<Node> folder;  // the folder's listing once read
};

struct HostFiles::Node {
  bool unreadable = false;  // the folder cannot be listed: names are looked up one by one
  // One entry per upper-cased name: the first in byte order.
  std::unordered_map<std::string, Entry> by_upper;
  // The other spellings of names equal without regard to case, by their exact name; in an
  // unreadable folder, the names found one by one.
  std::unordered_map<std::string, Entry> by_exact;

  size_t size() const { return by_upper.size() + by_exact.size(); }
};

// A drive or a mapped folder: a host folder and the listings below it.
struct HostFiles::Tree {
  fs::path host_root;
  std::vector<std::string> canonical_parts;  // host_root with its links resolved
  std::vector<std::string> given_parts;      // host_root as given, made absolute
  WindowsPath windows_root;                  // "C:\" or the mapped folder's Windows path
  DriveType type = install::kDriveFixed;
  std::string device;
  bool mapped_folder = false;
  Entry root;  // a folder entry whose listing is the host root's
};

struct HostFiles::Found {
  Tree* tree = nullptr;
  std::vector<std::string> names;    // the existing part, as on disk, links resolved
  std::vector<std::string> missing;  // what did not exist, as written (creating resolutions)
  Kind kind = Kind::kFolder;

  bool exists() const { return missing.empty(); }
  fs::path host_path() const { return JoinHost(tree->host_root, names, names.size()); }
  std::vector<std::string> parent() const {
    return std::vector<std::string>(names.begin(), names.end() - (names.empty() ? 0 : 1));
  }
  std::string windows_path() const {
    WindowsPath path = tree->windows_root;
    path.components.insert(path.components.end(), names.begin(), names.end());
    return install::WindowsPathText(path);
  }
};

HostFiles::HostFiles() = default;
HostFiles::~HostFiles() = default;

Result<std::unique_ptr<HostFiles>> HostFiles::Open(const fs::path& root, const Options& options) {
  std::unique_ptr<HostFiles> files(new HostFiles());
  HM_RETURN_IF_ERROR(files->Init(root, options));
  return files;
}

Status HostFiles::Init(const fs::path& root, const Options& options) {
  options_ = options;
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    return Status::Error(kErrorPathNotFound, "installation folder '" + root.string() + "'");
  }
  Result<WindowsPath> windows = install::ParseWindowsPath(options.windows_folder);
  if (!windows.ok()) return Status::Error(windows.status().code(), "Windows folder");
  windows_folder_ = std::move(*windows);

  auto add_tree = [&](const fs::path& host_root, WindowsPath windows_root, DriveType type,
                      std::string device, bool mapped_folder) {
    auto tree = std::make_unique<Tree>();
    std::error_code ignored;
    tree->host_root = fs::absolute(host_root, ignored).lexically_normal();
    tree->given_parts = LexicalParts(tree->host_root.string());
    tree->canonical_parts = LexicalParts(fs::weakly_canonical(tree->host_root, ignored).string());
    tree->windows_root = std::move(windows_root);
    tree->type = type;
    tree->device = std::move(device);
    tree->mapped_folder = mapped_folder;
    tree->root.kind = Kind::kFolder;
    trees_.push_back(std::move(tree));
    return trees_.back().get();
  };
  drives_['C' - 'A'] = add_tree(root, WindowsPath{'C', {}}, install::kDriveFixed,
                                std::string(kSystemVolumeDevice), false);

  std::vector<install::DriveMapping> drives = options.drives;
  std::sort(drives.begin(), drives.end(),
            [](const auto& a, const auto& b) { return a.letter < b.letter; });
  int volume = 3, cdrom = 0;
  for (const install::DriveMapping& drive : drives) {
    if (drive.letter < 'A' || drive.letter > 'Z' || drives_[drive.letter - 'A'] != nullptr) {
      return Status::Error(kErrorInvalidParameter,
                           std::string("drive ") + drive.letter + ": mapped twice or not a letter");
    }
    std::string device = DeviceName(drive, volume, cdrom);
    if (drive.type == install::kDriveCdRom) {
      ++cdrom;
    } else if (drive.type != install::kDriveRemote) {
      ++volume;
    }
    drives_[drive.letter - 'A'] =
        add_tree(drive.folder, WindowsPath{drive.letter, {}}, drive.type, std::move(device), false);
  }
  for (const FolderMapping& folder : options.folders) {
    Result<WindowsPath> at = install::ParseWindowsPath(folder.windows_path);
    if (!at.ok() || at->components.empty() || drives_[at->drive - 'A'] == nullptr) {
      return Status::Error(kErrorInvalidParameter, "mapped folder '" + folder.windows_path +
                                                       "' is not a folder of a drive");
    }
    add_tree(folder.host_folder, std::move(*at), install::kDriveFixed, "", true);
  }
  return Status::Ok();
}

// --- Resolution ---

Status HostFiles::Parse(std::string_view windows_path, FsView view, WindowsPath* path) const {
  Result<WindowsPath> parsed = install::ParseWindowsPath(windows_path);
  if (!parsed.ok()) return parsed.status();
  *path = std::move(*parsed);
  if (view == FsView::kRedirected && options_.wow64) Redirect(path);
  return Status::Ok();
}

// The WOW64 file-system redirector of a 32-bit process: Windows\System32 is Windows\SysWOW64
// except for the exempt folders, Windows\lastgood\System32 is lastgood\SysWOW64,
// Windows\regedit.exe is SysWOW64\regedit.exe, and the alias Windows\SysNative is System32.
void HostFiles::Redirect(WindowsPath* path) const {
  const std::vector<std::string>& windows = windows_folder_.components;
  std::vector<std::string>& parts = path->components;
  const size_t at = windows.size();
  if (path->drive != windows_folder_.drive || parts.size() <= at) return;
  for (size_t i = 0; i < at; ++i) {
    if (!FileNamesEqual(parts[i], windows[i])) return;
  }
  auto is = [&](size_t i, std::string_view name) {
    return parts.size() > i && FileNamesEqual(parts[i], name);
  };
  if (is(at, "System32")) {
    const bool exempt = is(at + 1, "catroot") || is(at + 1, "catroot2") || is(at + 1, "LogFiles") ||
                        is(at + 1, "spool") || (is(at + 1, "drivers") && is(at + 2, "etc")) ||
                        (is(at + 1, "DriverStore") && options_.windows_version >= 601);
    if (!exempt) parts[at] = "SysWOW64";
  } else if (is(at, "lastgood") && is(at + 1, "System32")) {
    parts[at + 1] = "SysWOW64";
  } else if (is(at, "regedit.exe") && parts.size() == at + 1) {
    parts.insert(parts.begin() + at, "SysWOW64");
  } else if (is(at, "SysNative")) {
    parts[at] = "System32";
  }
}

HostFiles::Tree* HostFiles::TreeOf(WindowsPath* path) {
  Tree* best = nullptr;
  for (const auto& tree : trees_) {
    const WindowsPath& at = tree->windows_root;
    if (!tree->mapped_folder || at.drive != path->drive) continue;
    if (at.components.size() > path->components.size()) continue;
    if (best != nullptr && best->windows_root.components.size() >= at.components.size()) continue;
    if (std::equal(at.components.begin(), at.components.end(), path->components.begin(),
                   FileNamesEqual)) {
      best = tree.get();
    }
  }
  if (best != nullptr) {
    auto& parts = path->components;
    parts.erase(parts.begin(), parts.begin() + best->windows_root.components.size());
    return best;
  }
  return drives_[path->drive - 'A'];
}

HostFiles::Node& HostFiles::Listed(Tree& tree, Entry* folder,
                                   const std::vector<std::string>& names) {
  if (folder->folder) return *folder->folder;
  folder->folder = std::make_unique<Node>();
  Node& node = *folder->folder;
  const std::string path = JoinHost(tree.host_root, names, names.size());
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    node.unreadable = true;
    return node;
  }
  ++folders_listed_;
  while (dirent* item = readdir(dir)) {
    std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    Kind kind = Kind::kOther;
    switch (item->d_type) {
      case DT_DIR:
        kind = Kind::kFolder;
        break;
      case DT_REG:
        kind = Kind::kFile;
        break;
      case DT_LNK:
        kind = Kind::kLink;
        break;
      case DT_UNKNOWN: {
        struct stat st;
        if (fstatat(dirfd(dir), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        kind = KindOfMode(st.st_mode);
        break;
      }
      default:
        break;
    }
    Entry entry;
    entry.name = name;
    entry.kind = kind;
    auto [it, inserted] = node.by_upper.try_emplace(UpperKey(name));
    if (inserted) {
      it->second = std::move(entry);
    } else if (entry.name < it->second.name) {
      std::string other = it->second.name;
      node.by_exact[other] = std::exchange(it->second, std::move(entry));
    } else {
      std::string exact = entry.name;
      node.by_exact[exact] = std::move(entry);
    }
  }
  closedir(dir);
  cached_entries_ += node.size();
  return node;
}

HostFiles::Entry* HostFiles::Lookup(Tree& tree, Node& node, const std::vector<std::string>& names,
                                    const std::string& name) {
  if (!node.by_exact.empty()) {
    auto exact = node.by_exact.find(name);
    if (exact != node.by_exact.end()) return &exact->second;
  }
  if (!node.unreadable) {
    auto it = node.by_upper.find(UpperKey(name));
    return it == node.by_upper.end() ? nullptr : &it->second;
  }
  // A folder that may be passed through but not listed: only the exact name can be found.
  struct stat st;
  const std::string path = JoinHost(tree.host_root, names, names.size()) + "/" + name;
  if (lstat(path.c_str(), &st) != 0) return nullptr;
  ++cached_entries_;
  Entry& entry = node.by_exact[name];
  entry.name = name;
  entry.kind = KindOfMode(st.st_mode);
  return &entry;
}

const std::string& HostFiles::LinkTarget(Tree& tree, Entry& entry,
                                         const std::vector<std::string>& names) {
  if (!entry.link_read) {
    std::error_code ec;
    const std::string link = JoinHost(tree.host_root, names, names.size()) + "/" + entry.name;
    entry.link_target = fs::read_symlink(link, ec).string();
    entry.link_read = true;
  }
  return entry.link_target;
}

// Walks `work` below the tree's root. A link is replaced by the components of its target, found
// from the text of the link alone: a target outside the tree's host folder is never looked at.
uint32_t HostFiles::Walk(Tree& tree, std::vector<std::string> work, Follow follow, Found* found) {
  found->tree = &tree;
  found->names.clear();
  found->missing.clear();
  Entry* current = &tree.root;
  int hops = 0;
  size_t i = 0;
  while (i < work.size()) {
    const bool last = i + 1 == work.size();
    Node& node = Listed(tree, current, found->names);
    Entry* entry = Lookup(tree, node, found->names, work[i]);
    if (entry == nullptr) {
      found->missing.assign(work.begin() + i, work.end());
      return last ? kErrorFileNotFound : kErrorPathNotFound;
    }
    if (entry->kind == Kind::kLink && (!last || follow == Follow::kAll)) {
      const uint32_t not_found = last ? kErrorFileNotFound : kErrorPathNotFound;
      if (++hops > kMaxLinkHops) return kErrorCantResolveFilename;
      const std::string& target = LinkTarget(tree, *entry, found->names);
      std::vector<std::string> next;
      if (!LinkDestination(tree.canonical_parts, tree.given_parts, target, found->names, &next)) {
        return not_found;
      }
      next.insert(next.end(), work.begin() + i + 1, work.end());
      work = std::move(next);
      found->names.clear();
      current = &tree.root;
      i = 0;
      continue;
    }
    if (!last && entry->kind != Kind::kFolder) return kErrorPathNotFound;
    found->names.push_back(entry->name);
    current = entry;
    ++i;
  }
  found->kind = current->kind;
  return kErrorSuccess;
}

uint32_t HostFiles::LocateLocked(std::string_view windows_path, FsView view, Follow follow,
                                 Found* found) {
  if (cached_entries_ > kMaxCachedEntries) {
    for (const auto& tree : trees_) tree->root.folder.reset();
    cached_entries_ = 0;
  }
  WindowsPath path;
  Status parsed = Parse(windows_path, view, &path);
  if (!parsed.ok()) return parsed.code();
  Tree* tree = TreeOf(&path);
  if (tree == nullptr) return kErrorPathNotFound;
  return Walk(*tree, std::move(path.components), follow, found);
}

Result<HostFiles::Found> HostFiles::Locate(std::string_view windows_path, FsView view,
                                           Follow follow) {
  Found found;
  std::lock_guard lock(mutex_);
  uint32_t error = LocateLocked(windows_path, view, follow, &found);
  if (error != kErrorSuccess) return Status::Error(error, std::string(windows_path));
  return found;
}

Result<HostFiles::Found> HostFiles::LocateForCreate(std::string_view windows_path, FsView view) {
  Found found;
  std::lock_guard lock(mutex_);
  uint32_t error = LocateLocked(windows_path, view, Follow::kAll, &found);
  if (error != kErrorSuccess && found.missing.empty()) {
    // A last component that is a link leading nowhere (or outside) is an item in the way, to
    // be replaced; it is never written through.
    Found link;
    if (LocateLocked(windows_path, view, Follow::kNotLast, &link) == kErrorSuccess &&
        link.kind == Kind::kLink) {
      return link;
    }
    return Status::Error(error, std::string(windows_path));
  }
  if (found.tree == nullptr) return Status::Error(kErrorPathNotFound, std::string(windows_path));
  return found;
}

void HostFiles::ForgetFolderLocked(Tree& tree, const std::vector<std::string>& names) {
  Entry* current = &tree.root;
  for (const std::string& name : names) {
    if (!current->folder) return;  // nothing cached below
    Node& node = *current->folder;
    auto exact = node.by_exact.find(name);
    if (exact != node.by_exact.end()) {
      current = &exact->second;
      continue;
    }
    auto it = node.by_upper.find(UpperKey(name));
    if (it == node.by_upper.end()) return;
    current = &it->second;
  }
  if (!current->folder) return;
  // The whole subtree goes; count what it held.
  std::vector<const Node*> pending{current->folder.get()};
  while (!pending.empty()) {
    const Node* node = pending.back();
    pending.pop_back();
    cached_entries_ -= std::min<uint64_t>(cached_entries_, node->size());
    for (const auto* map : {&node->by_upper, &node->by_exact}) {
      for (const auto& [key, entry] : *map) {
        if (entry.folder) pending.push_back(entry.folder.get());
      }
    }
  }
  current->folder.reset();
}

void HostFiles::ForgetFolder(Tree& tree, const std::vector<std::string>& names) {
  std::lock_guard lock(mutex_);
  ForgetFolderLocked(tree, names);
}

// --- Probes ---

uint32_t HostFiles::GetFileAttributes(std::string_view windows_path, FsView view, uint32_t* error) {
  Found found;
  uint32_t code;
  {
    std::lock_guard lock(mutex_);
    code = LocateLocked(windows_path, view, Follow::kAll, &found);
  }
  if (error != nullptr) *error = code;
  if (code != kErrorSuccess) return kInvalidFileAttributes;
  return found.kind == Kind::kFolder ? kFileAttributeDirectory : kFileAttributeArchive;
}

install::DriveType HostFiles::GetDriveType(std::string_view root) const {
  const bool drive_root =
      (root.size() == 2 || (root.size() == 3 && (root[2] == '\\' || root[2] == '/'))) &&
      root[1] == ':';
  if (!drive_root) return install::kDriveNoRootDir;
  char letter = root[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z' || drives_[letter - 'A'] == nullptr) {
    return install::kDriveNoRootDir;
  }
  return drives_[letter - 'A']->type;
}

std::string HostFiles::QueryDosDevice(char letter) const {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z' || drives_[letter - 'A'] == nullptr) return {};
  return drives_[letter - 'A']->device;
}

Result<Item> HostFiles::Stat(std::string_view windows_path, FsView view) {
  Result<Found> found = Locate(windows_path, view, Follow::kAll);
  if (!found.ok()) return found.status();
  Item item{.type = ItemTypeOf(found->kind),
            .windows_path = found->windows_path(),
            .host_path = found->host_path()};
  struct stat st;
  if (found->kind == Kind::kFile && lstat(item.host_path.c_str(), &st) == 0) {
    item.size = static_cast<uint64_t>(st.st_size);
  }
  return item;
}

Result<fs::path> HostFiles::HostPath(std::string_view windows_path, FsView view) {
  Result<Found> found = Locate(windows_path, view, Follow::kAll);
  if (!found.ok()) return found.status();
  return found->host_path();
}

Result<fs::path> HostFiles::HostPathForCreate(std::string_view windows_path, FsView view) {
  Result<Found> found = LocateForCreate(windows_path, view);
  if (!found.ok()) return found.status();
  fs::path path = found->host_path();
  for (const std::string& name : found->missing) path /= name;
  return path;
}

// --- Changes ---

Status HostFiles::MakeFolders(const Found& target) {
  fs::path path = target.host_path();
  std::error_code ec;
  if (target.tree->mapped_folder && target.names.empty()) {
    fs::create_directories(path, ec);  // a mapped folder comes into being with its first item
  }
  for (const std::string& name : target.missing) {
    path /= name;
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      return Status::Error(WinErrorFromErrno(errno), "create folder '" + path.string() + "'");
    }
  }
  ForgetFolder(*target.tree, target.names);
  return Status::Ok();
}

Status HostFiles::CreateFolder(std::string_view windows_path, FsView view) {
  Result<Found> found = LocateForCreate(windows_path, view);
  if (!found.ok()) return found.status();
  if (found->exists()) {
    if (found->kind == Kind::kFolder) return Status::Ok();
    return Status::Error(kErrorAlreadyExists, std::string(windows_path));
  }
  return MakeFolders(*found);
}

Status HostFiles::Delete(std::string_view windows_path, FsView view) {
  Result<Found> found = Locate(windows_path, view, Follow::kNotLast);
  if (!found.ok()) return found.status();
  if (found->names.empty()) return Status::Error(kErrorAccessDenied, std::string(windows_path));
  Status status = RemoveItem(found->host_path());
  ForgetFolder(*found->tree, found->parent());
  return status;
}

Status HostFiles::Rename(std::string_view from, std::string_view to, FsView view) {
  Result<Found> source = Locate(from, view, Follow::kNotLast);
  if (!source.ok()) return source.status();
  if (source->names.empty()) return Status::Error(kErrorAccessDenied, std::string(from));
  Result<Found> target = LocateForCreate(to, view);
  if (!target.ok()) return target.status();
  if (target->tree != source->tree) return Status::Error(kErrorNotSameDevice, std::string(to));
  std::string new_name;
  std::vector<std::string> new_parent;
  if (target->exists()) {
    // Only the same item under another letter case may be "renamed onto".
    if (target->names != source->names) return Status::Error(kErrorAlreadyExists, std::string(to));
    WindowsPath written;
    HM_RETURN_IF_ERROR(Parse(to, view, &written));
    new_name = written.components.empty() ? source->names.back() : written.components.back();
    new_parent = source->parent();
  } else {
    if (target->missing.size() > 1) return Status::Error(kErrorPathNotFound, std::string(to));
    new_name = target->missing.front();
    new_parent = target->names;
  }
  fs::path destination = JoinHost(target->tree->host_root, new_parent, new_parent.size());
  Status status = RenameNoReplace(source->host_path(), destination / new_name);
  ForgetFolder(*source->tree, source->parent());
  ForgetFolder(*target->tree, new_parent);
  return status;
}

Status HostFiles::Copy(std::string_view from, std::string_view to, FsView view) {
  Result<Found> source = Locate(from, view, Follow::kAll);
  if (!source.ok()) return source.status();
  if (source->kind == Kind::kOther) return Status::Error(kErrorAccessDenied, std::string(from));
  Result<Found> target = LocateForCreate(to, view);
  if (!target.ok()) return target.status();
  if (target->exists() && target->kind == Kind::kFolder && !source->names.empty()) {
    // Into an existing folder: the copy keeps the source's name.
    std::string inside = std::string(to) + "\\" + source->names.back();
    target = LocateForCreate(inside, view);
    if (!target.ok()) return target.status();
  }
  if (target->exists() && target->kind != Kind::kLink &&
      (target->kind == Kind::kFolder) != (source->kind == Kind::kFolder)) {
    return Status::Error(kErrorAlreadyExists, std::string(to));
  }
  if (target->tree == source->tree && HasPrefix(target->names, source->names)) {
    // The source itself, or (for a folder) a place inside it.
    return Status::Error(kErrorInvalidParameter,
                         std::string(to) + " is " + std::string(from) + " or inside it");
  }
  Found parent = *target;
  if (!parent.missing.empty()) {
    parent.missing.pop_back();
    HM_RETURN_IF_ERROR(MakeFolders(parent));
  }
  fs::path destination = target->host_path();
  for (const std::string& name : target->missing) destination /= name;
  Status status = CopyItem(source->host_path(), destination);
  ForgetFolder(*target->tree, target->exists() ? target->parent() : target->names);
  return status;
}

Result<RecycledItem> HostFiles::Recycle(std::string_view windows_path, FsView view,
                                        std::string_view sid) {
  Result<Found> found = Locate(windows_path, view, Follow::kNotLast);
  if (!found.ok()) return found.status();
  if (found->names.empty()) return Status::Error(kErrorAccessDenied, std::string(windows_path));
  if (found->tree->mapped_folder) return RecycleToHostTrash(*found);
  return RecycleToBin(*found, sid);
}

Result<RecycledItem> HostFiles::RecycleToBin(const Found& item, std::string_view sid) {
  const bool valid_sid = sid.starts_with("S-1-") && std::all_of(sid.begin(), sid.end(), [](char c) {
                           return (c >= '0' && c <= '9') || c == '-' || c == 'S';
                         });
  if (!valid_sid)
    return Status::Error(kErrorInvalidParameter, "recycle bin of '" + std::string(sid) + "'");
  if (item.tree->type != install::kDriveFixed) {
    // Windows keeps no recycle bin on removable, network and CD drives.
    return Status::Error(kErrorNotSupported, item.windows_path() + ": no recycle bin on the drive");
  }
  if (FileNamesEqual(item.names.front(), kRecycleBin)) {
    return Status::Error(kErrorAccessDenied, item.windows_path() + " is in the recycle bin");
  }
  const std::string bin = std::string{item.tree->windows_root.drive} + ":\\" +
                          std::string(kRecycleBin) + "\\" + std::string(sid);
  HM_RETURN_IF_ERROR(CreateFolder(bin, FsView::kNative));
  Result<fs::path> bin_host = HostPath(bin, FsView::kNative);
  if (!bin_host.ok()) return bin_host.status();

  RecycledItem recycled;
  recycled.original_path = item.windows_path();
  recycled.size = ItemSize(item.host_path());
  RecycleRecord record{.version = options_.windows_version >= 1000 ? 2u : 1u,
                       .size = recycled.size,
                       .deletion_time = FileTimeNow(),
                       .original_path = FromUtf8(recycled.original_path)};
  Result<std::string> bytes = EncodeRecycleRecord(record);
  if (!bytes.ok()) return bytes.status();
  const std::string extension(NameExtension(item.names.back()));
  for (int attempt = 0; attempt < 100 && recycled.info_file.empty(); ++attempt) {
    const std::string name = RandomRecycleName() + extension;
    if (Exists(*bin_host / ("$I" + name)) || Exists(*bin_host / ("$R" + name))) continue;
    recycled.info_file = *bin_host / ("$I" + name);
    recycled.data_file = *bin_host / ("$R" + name);
  }
  if (recycled.info_file.empty()) return Status::Error(kErrorAlreadyExists, bin);
  // The record first: should the move fail or the program stop in between, the item is still
  // where it was, and nothing is lost.
  HM_RETURN_IF_ERROR(AtomicWriteFile(recycled.info_file, *bytes));
  Status moved = RenameNoReplace(item.host_path(), recycled.data_file);
  if (!moved.ok()) unlink(recycled.info_file.c_str());
  ForgetFolder(*item.tree, item.parent());
  ForgetFolder(*item.tree, LexicalParts(std::string(kRecycleBin) + "/" + std::string(sid)));
  if (!moved.ok()) return moved;
  return recycled;
}

Result<RecycledItem> HostFiles::RecycleToHostTrash(const Found& item) {
  if (options_.host_trash.empty()) {
    return Status::Error(kErrorNotSupported, item.windows_path() + ": no trash for host folders");
  }
  const fs::path files = options_.host_trash / "files";
  const fs::path info = options_.host_trash / "info";
  std::error_code ec;
  fs::create_directories(files, ec);
  fs::create_directories(info, ec);
  const fs::path source = item.host_path();
  const std::string base = item.names.back();
  RecycledItem recycled;
  recycled.original_path = item.windows_path();
  recycled.size = ItemSize(source);
  // The info file is created exclusively first: it reserves the name in the trash.
  for (int n = 1; n < 1000 && recycled.info_file.empty(); ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    const fs::path info_file = info / (name + ".trashinfo");
    int fd = open(info_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) continue;
    const std::string text = "[Trash Info]\nPath=" + TrashInfoPath(source.string()) +
                             "\nDeletionDate=" + LocalTimeText() + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written) {
      unlink(info_file.c_str());
      return Status::Error(kErrorCantWrite, info_file.string());
    }
    recycled.info_file = info_file;
    recycled.data_file = files / name;
  }
  if (recycled.info_file.empty()) return Status::Error(kErrorAlreadyExists, info.string());
  Status moved = RenameNoReplace(source, recycled.data_file);
  if (!moved.ok()) unlink(recycled.info_file.c_str());
  ForgetFolder(*item.tree, item.parent());
  if (!moved.ok()) return moved;
  return recycled;
}

void HostFiles::NoteChanged(std::string_view windows_path, FsView view) {
  WindowsPath path;
  if (!Parse(windows_path, view, &path).ok()) return;
  std::lock_guard lock(mutex_);
  Tree* tree = TreeOf(&path);
  if (tree == nullptr) return;
  if (!path.components.empty()) path.components.pop_back();
  // The folder's names as on disk, from the cache alone: what is not cached needs no forgetting.
  std::vector<std::string> names;
  Entry* current = &tree->root;
  for (const std::string& name : path.components) {
    if (!current->folder) return;
    Node& node = *current->folder;
    auto exact = node.by_exact.find(name);
    Entry* entry = exact != node.by_exact.end() ? &exact->second : nullptr;
    if (entry == nullptr) {
      auto it = node.by_upper.find(UpperKey(name));
      if (it == node.by_upper.end()) return;
      entry = &it->second;
    }
    if (entry->kind == Kind::kLink) {
      // Listings behind a link are cached under its target's names; forget them all.
      for (const auto& t : trees_) t->root.folder.reset();
      cached_entries_ = 0;
      return;
    }
    names.push_back(entry->name);
    current = entry;
  }
  ForgetFolderLocked(*tree, names);
}

void HostFiles::DropCache() {
  std::lock_guard lock(mutex_);
  for (const auto& tree : trees_) tree->root.folder.reset();
  cached_entries_ = 0;
}

HostFiles::CacheStats HostFiles::cache_stats() {
  std::lock_guard lock(mutex_);
  return CacheStats{.folders_listed = folders_listed_, .cached_entries = cached_entries_};
}

}  // namespace hm::files
