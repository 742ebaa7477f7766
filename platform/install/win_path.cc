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

// True when `path`, with every symbolic link followed, still lies below `canonical_root`.
bool StaysInside(const fs::path& canonical_root, const fs::path& path) {
  std::error_code ec;
  fs::path target = fs::canonical(path, ec);
  if (ec) return false;  // a dangling link leads nowhere
  auto [root_end, unused] =
      std::mismatch(canonical_root.begin(), canonical_root.end(), target.begin(), target.end());
  return root_end == canonical_root.end();
}

// Walks `components` below `root`. With `allow_missing_tail`, the first missing component and
// everything after it are appended as written instead of failing.
Result<fs::path> Walk(const fs::path& root, std::string_view windows_path,
                      bool allow_missing_tail) {
  Result<std::vector<std::string>> split = SplitWindowsPath(windows_path);
  if (!split.ok()) return split.status();
  const std::vector<std::string>& components = split.value();
  std::error_code ec;
  fs::path canonical_root = fs::canonical(root, ec);
  if (ec) return NotFound(kErrorPathNotFound, windows_path);
  fs::path current = root;
  for (size_t i = 0; i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    std::optional<std::string> entry = FindEntry(current, components[i]);
    if (!entry) {
      if (!allow_missing_tail) {
        return NotFound(last ? kErrorFileNotFound : kErrorPathNotFound, windows_path);
      }
      for (size_t j = i; j < components.size(); ++j) current /= components[j];
      return current;
    }
    fs::path next = current / *entry;
    if (fs::is_symlink(fs::symlink_status(next, ec)) && !StaysInside(canonical_root, next)) {
      return NotFound(last && !allow_missing_tail ? kErrorFileNotFound : kErrorPathNotFound,
                      windows_path);
    }
    if (!last && !fs::is_directory(next, ec)) return NotFound(kErrorPathNotFound, windows_path);
    current = std::move(next);
  }
  return current;
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
