#include "platform/install/win_path.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "platform/hive/hive.h"
#include "platform/hive/upcase.h"

namespace hm::install {
namespace {

namespace fs = std::filesystem;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

Status NotFound(uint32_t code, std::string_view windows_path) {
  return Status::Error(code, std::string(windows_path));
}

// The entry of `dir` that `name` denotes: the name itself when it exists as written (so that on a
// case-sensitive disk the exact spelling wins), else the first entry in byte order that is equal
// without regard to case.
std::optional<std::string> FindEntry(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir / name, ec))) return name;
  std::optional<std::string> best;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (FileNamesEqual(entry, name) && (!best || entry < *best)) best = std::move(entry);
  }
  return best;
}

// The components of an absolute host path with "." and ".." applied to the text.
std::vector<std::string> LexicalParts(const fs::path& path) {
  std::vector<std::string> parts;
  for (const fs::path& part : path.lexically_normal().relative_path()) {
    if (!part.empty() && part != "." && part != "..") parts.push_back(part.string());
  }
  return parts;
}

constexpr int kMaxLinkHops = 40;

// Follows links below `root` from their texts alone, so that a target outside the root is never
// looked at (not even with stat): the root's own path, as given and with its links resolved.
class LinkResolver {
 public:
  explicit LinkResolver(const fs::path& root) : root_(root) {
    std::error_code ec;
    given_ = LexicalParts(fs::absolute(root, ec));
    canonical_ = LexicalParts(fs::weakly_canonical(root, ec));
  }

  // Replaces *real (the link-free names of the folder holding the link `name`) by the link-free
  // names of its target. False when the target leads outside the root, is missing or loops.
  bool Follow(std::vector<std::string>* real, const std::string& name) {
    if (++hops_ > kMaxLinkHops) return false;
    std::error_code ec;
    const fs::path target = fs::read_symlink(Host(*real) / name, ec);
    if (ec || target.empty()) return false;
    std::vector<std::string> destination;
    if (target.is_absolute()) {
      std::vector<std::string> parts = LexicalParts(target);
      const std::vector<std::string>& root = StartsWith(parts, canonical_) ? canonical_ : given_;
      if (!StartsWith(parts, root)) return false;
      destination.assign(parts.begin() + root.size(), parts.end());
    } else {
      destination = *real;
      for (const fs::path& part : target) {
        if (part.empty() || part == ".") continue;
        if (part != "..") {
          destination.push_back(part.string());
        } else if (destination.empty()) {
          return false;  // above the root
        } else {
          destination.pop_back();
        }
      }
    }
    // The target's own components may be links too.
    real->clear();
    for (const std::string& part : destination) {
      fs::file_status status = fs::symlink_status(Host(*real) / part, ec);
      if (ec || !fs::exists(status)) return false;
      if (fs::is_symlink(status)) {
        if (!Follow(real, part)) return false;
      } else {
        real->push_back(part);
      }
    }
    return true;
  }

  fs::path Host(const std::vector<std::string>& names) const {
    fs::path path = root_;
    for (const std::string& name : names) path /= name;
    return path;
  }

 private:
  static bool StartsWith(const std::vector<std::string>& parts,
                         const std::vector<std::string>& prefix) {
    return parts.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), parts.begin());
  }

  const fs::path root_;
  std::vector<std::string> given_;
  std::vector<std::string> canonical_;
  int hops_ = 0;
};

// Walks `components` below `root`. With `allow_missing_tail`, the first missing component and
// everything after it are appended as written instead of failing. The result names the path as
// walked (links kept as names); each link is checked with LinkResolver before anything behind it
// is looked at.
Result<fs::path> Walk(const fs::path& root, std::string_view windows_path,
                      bool allow_missing_tail) {
  Result<std::vector<std::string>> split = SplitWindowsPath(windows_path);
  if (!split.ok()) return split.status();
  const std::vector<std::string>& components = split.value();
  std::error_code ec;
  if (!fs::is_directory(root, ec)) return NotFound(kErrorPathNotFound, windows_path);
  LinkResolver links(root);
  fs::path shown = root;
  std::vector<std::string> real;  // the folder walked so far, without links
  for (size_t i = 0; i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    std::optional<std::string> entry = FindEntry(links.Host(real), components[i]);
    if (!entry) {
      if (!allow_missing_tail) {
        return NotFound(last ? kErrorFileNotFound : kErrorPathNotFound, windows_path);
      }
      for (size_t j = i; j < components.size(); ++j) shown /= components[j];
      return shown;
    }
    shown /= *entry;
    if (fs::is_symlink(fs::symlink_status(links.Host(real) / *entry, ec))) {
      if (!links.Follow(&real, *entry)) {
        return NotFound(last && !allow_missing_tail ? kErrorFileNotFound : kErrorPathNotFound,
                        windows_path);
      }
    } else {
      real.push_back(*entry);
    }
    if (!last && !fs::is_directory(fs::symlink_status(links.Host(real), ec))) {
      return NotFound(kErrorPathNotFound, windows_path);
    }
  }
  return shown;
}

}  // namespace

Result<std::vector<std::string>> SplitWindowsPath(std::string_view windows_path) {
  std::string_view rest = windows_path;
  if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    return NotFound(kErrorPathNotFound, windows_path);  // UNC share or device path
  }
  if (rest.size() >= 2 && rest[1] == ':') {
    if (AsciiUpper(rest[0]) != 'C') return NotFound(kErrorPathNotFound, windows_path);
    rest.remove_prefix(2);
  }
  std::vector<std::string> components;
  while (!rest.empty()) {
    size_t end = 0;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    std::string_view part = rest.substr(0, end);
    rest.remove_prefix(end == rest.size() ? end : end + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (components.empty()) return NotFound(kErrorPathNotFound, windows_path);
      components.pop_back();
      continue;
    }
    components.emplace_back(part);
  }
  return components;
}

Result<std::filesystem::path> ResolveWindowsPath(const std::filesystem::path& root,
                                                 std::string_view windows_path) {
  return Walk(root, windows_path, /*allow_missing_tail=*/false);
}

Result<std::filesystem::path> MapWindowsPath(const std::filesystem::path& root,
                                             std::string_view windows_path) {
  return Walk(root, windows_path, /*allow_missing_tail=*/true);
}

bool FileNamesEqual(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return AsciiUpper(x) == AsciiUpper(y);
           });
  }
  return hive::NamesEqual(hive::FromUtf8(a), hive::FromUtf8(b));
}

namespace {

bool IsForbiddenNameChar(unsigned char c) {
  return c < 0x20 || c == '"' || c == '*' || c == ':' || c == '<' || c == '>' || c == '?' ||
         c == '|';
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A component ending in one period loses it ("name." is "name"); the last component loses every
// trailing period and space. Runs of two or more periods stay on inner components.
void TrimComponent(std::string* name, bool last) {
  if (last) {
    while (!name->empty() && (name->back() == '.' || name->back() == ' ')) name->pop_back();
    return;
  }
  if (name->size() >= 2 && name->back() == '.' && (*name)[name->size() - 2] != '.') {
    name->pop_back();
  }
}

// Splits `rest` into components. `literal` is the "\\?\" form: only '\' separates and nothing is
// dropped, trimmed or applied.
Status SplitComponents(std::string_view text, std::string_view rest, bool literal,
                       std::vector<std::string>* components) {
  auto separates = [literal](char c) { return c == '\\' || (!literal && c == '/'); };
  const bool ends_in_separator = !rest.empty() && separates(rest.back());
  std::vector<std::string> raw;
  size_t start = 0;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && !separates(rest[i])) continue;
    if (i > start) raw.emplace_back(rest.substr(start, i - start));
    start = i + 1;
  }
  for (size_t i = 0; i < raw.size(); ++i) {
    std::string& part = raw[i];
    if (!literal && part == ".") continue;
    if (!literal && part == "..") {
      if (components->empty()) return Status::Error(kErrorPathNotFound, std::string(text));
      components->pop_back();
      continue;
    }
    if (literal && (part == "." || part == "..")) {
      return Status::Error(kErrorInvalidName, std::string(text));
    }
    if (!literal) TrimComponent(&part, i + 1 == raw.size() && !ends_in_separator);
    if (part.empty()) continue;
    for (char c : part) {
      if (IsForbiddenNameChar(static_cast<unsigned char>(c)) || (literal && c == '/')) {
        return Status::Error(kErrorInvalidName, std::string(text));
      }
    }
    components->push_back(std::move(part));
  }
  return Status::Ok();
}

}  // namespace

Result<WindowsPath> ParseWindowsPath(std::string_view text) {
  if (text.empty()) return Status::Error(kErrorPathNotFound, "empty path");
  std::string_view rest = text;
  bool literal = false;
  if (rest.starts_with("\\\\?\\") || rest.starts_with("\\??\\")) {
    rest.remove_prefix(4);
    literal = true;
  } else if (rest.starts_with("\\\\.\\") || rest.starts_with("//./")) {
    rest.remove_prefix(4);
  } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    return Status::Error(kErrorBadNetpath, std::string(text));
  }
  WindowsPath path;
  if (rest.size() >= 2 && rest[1] == ':') {
    if (!IsDriveLetter(rest[0])) return Status::Error(kErrorPathNotFound, std::string(text));
    path.drive = AsciiUpper(rest[0]);
    rest.remove_prefix(2);
  } else if (text.size() != rest.size()) {
    // "\\.\NAME" and "\\?\NAME" without a drive name a device, never a file of a drive.
    return Status::Error(kErrorBadPathname, std::string(text));
  }
  HM_RETURN_IF_ERROR(SplitComponents(text, rest, literal, &path.components));
  return path;
}

std::string WindowsPathText(const WindowsPath& path) {
  std::string text{path.drive, ':', '\\'};
  for (size_t i = 0; i < path.components.size(); ++i) {
    if (i > 0) text += '\\';
    text += path.components[i];
  }
  return text;
}

Result<DriveMapping> ParseDriveMapping(std::string_view text) {
  auto bad = [&](const std::string& why) {
    return Status::Error(kErrorInvalidParameter,
                         "drive mapping '" + std::string(text) + "': " + why);
  };
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos) return bad("expected LETTER[:TYPE]=FOLDER");
  std::string_view head = text.substr(0, equals);
  std::string_view folder = text.substr(equals + 1);
  if (head.empty() || !IsDriveLetter(head[0]) || (head.size() > 1 && head[1] != ':')) {
    return bad("expected a drive letter before '='");
  }
  DriveMapping mapping;
  mapping.letter = AsciiUpper(head[0]);
  if (mapping.letter == 'C') return bad("C: is the installation's root folder");
  if (folder.empty()) return bad("no folder after '='");
  mapping.folder = std::filesystem::path(folder);
  std::string_view type = head.size() > 2 ? head.substr(2) : std::string_view("fixed");
  static constexpr std::pair<std::string_view, DriveType> kTypes[] = {
      {"fixed", kDriveFixed}, {"removable", kDriveRemovable}, {"remote", kDriveRemote},
      {"cdrom", kDriveCdRom}, {"ramdisk", kDriveRamDisk},
  };
  for (const auto& [name, value] : kTypes) {
    if (type == name) {
      mapping.type = value;
      return mapping;
    }
  }
  return bad("unknown drive type '" + std::string(type) +
             "' (fixed, removable, remote, cdrom or ramdisk)");
}

}  // namespace hm::install
