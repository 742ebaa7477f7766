#include "platform/install/builder.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/files/shell_link_writer.h"
#include "platform/hive/upcase.h"
#include "platform/install/installation.h"
#include "platform/install/reg_data.h"
#include "platform/install/win_path.h"
#include "platform/regedit/reg_file.h"

namespace hm::install {
namespace {

namespace fs = std::filesystem;
using hive::NamesEqual;

constexpr std::string_view kConfigDir = "Windows\\System32\\config\\";
constexpr std::u16string_view kProfileListKey =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

// Root key names Windows gives the hives it creates at setup.
struct HiveSpec {
  std::u16string_view key;  // below HKEY_LOCAL_MACHINE, or ".DEFAULT" below HKEY_USERS
  std::string_view file;
  std::u16string_view root_name;
};
constexpr HiveSpec kMachineHives[] = {
    {u"SOFTWARE", "SOFTWARE", u"CMI-CreateHive{199DAFC2-6F16-4946-BF90-5A3FC3A60902}"},
    {u"SYSTEM", "SYSTEM", u"CMI-CreateHive{2A7FB991-7BBE-4F9D-B91E-7CB51D4737F5}"},
    {u"SAM", "SAM", u"CMI-CreateHive{C4E7BA2B-68E8-499C-B1A1-371AC8D717C7}"},
    {u"SECURITY", "SECURITY", u"CMI-CreateHive{D43B12B8-09B5-40DB-B4F6-F6DFEB78DAEC}"},
    {u".DEFAULT", "DEFAULT", u"CMI-CreateHive{8D7F6E4B-0A1C-4BC5-8C79-2A4C5E1F0B3D}"},
};
constexpr std::u16string_view kUserRootName =
    u"CMI-CreateHive{6A1C4018-979D-4291-A7DC-7AED1C75B67C}";

Status SourceError(const std::string& label, int line, const std::string& what) {
  return Status::Error(kErrorInvalidData, label + ": line " + std::to_string(line) + ": " + what);
}

std::string_view Trim(std::string_view text) {
  const char* kBlanks = " \t\r\n";
  size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

std::vector<std::u16string_view> SplitKey(std::u16string_view text) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(u'\\', start);
    parts.push_back(text.substr(start, end == std::u16string_view::npos ? end : end - start));
    if (end == std::u16string_view::npos) return parts;
    start = end + 1;
  }
}

std::u16string JoinKey(const std::vector<std::u16string_view>& parts, size_t first) {
  std::u16string joined;
  for (size_t i = first; i < parts.size(); ++i) {
    if (i > first) joined += u'\\';
    joined += parts[i];
  }
  return joined;
}

std::string Quoted(std::u16string_view text) {
  return "'" + hive::ToUtf8(text) + "'";
}

bool IsProgramFile(std::string_view name) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  std::string_view ext = name.substr(dot + 1);
  for (std::string_view program : {"exe", "dll", "sys", "cpl", "ocx", "scr", "drv", "mui"}) {
    if (FileNamesEqual(ext, program)) return true;
  }
  return false;
}

Status CreateFileOfSize(const fs::path& file, uint64_t size) {
  std::string bytes = IsProgramFile(file.filename().string()) ? "MZ" : "";
  bytes.resize(std::min<uint64_t>(size, 2));
  HM_RETURN_IF_ERROR(AtomicWriteFile(file, bytes));
  std::error_code ec;
  fs::resize_file(file, size, ec);
  if (ec) return Status::Error(WinErrorFromErrno(ec.value()), file.string());
  return Status::Ok();
}

// "shortcut Users\demo\Desktop\App.lnk -> C:\Program Files\App\app.exe": a shortcut whose
// target is a local path, a network path ("\\server\share\...") or, when it holds a '%', an
// unexpanded environment form.
Status ApplyShortcutLine(const fs::path& root, std::string_view line, const std::string& label,
                         int number) {
  const size_t arrow = line.find(" -> ");
  if (arrow == std::string_view::npos) return SourceError(label, number, "shortcut without ' -> '");
  const std::string_view link = Trim(line.substr(0, arrow));
  const std::string_view target = Trim(line.substr(arrow + 4));
  if (link.empty() || target.empty()) return SourceError(label, number, "empty shortcut part");
  files::ShellLinkSpec spec;
  if (target.find('%') != std::string_view::npos) {
    spec.environment_target = target;
  } else if (target.starts_with("\\\\")) {
    const size_t server_end = target.find('\\', 2);
    const size_t share_end =
        server_end == std::string_view::npos ? server_end : target.find('\\', server_end + 1);
    spec.network_share = target.substr(0, share_end);
    if (share_end != std::string_view::npos) spec.path_suffix = target.substr(share_end + 1);
  } else {
    spec.local_path = target;
  }
  Result<fs::path> file = MapWindowsPath(root, link);
  if (!file.ok()) return SourceError(label, number, file.status().ToString());
  std::error_code ec;
  fs::create_directories(file->parent_path(), ec);
  if (ec) return SourceError(label, number, ec.message());
  Status written = files::WriteShellLink(*file, spec);
  return written.ok() ? written : SourceError(label, number, written.ToString());
}

// One line of files.txt: "Windows\System32\", "Windows\notepad.exe size=201216", or a shortcut.
Status ApplyFileLine(const fs::path& root, std::string_view line, const std::string& label,
                     int number) {
  constexpr std::string_view kShortcut = "shortcut ";
  if (line.starts_with(kShortcut)) {
    return ApplyShortcutLine(root, line.substr(kShortcut.size()), label, number);
  }
  std::optional<uint64_t> size;
  size_t size_at = line.rfind(" size=");
  if (size_at != std::string_view::npos) {
    std::string_view digits = line.substr(size_at + 6);
    uint64_t parsed = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
      return SourceError(label, number, "bad size '" + std::string(digits) + "'");
    }
    size = parsed;
    line = Trim(line.substr(0, size_at));
  }
  const bool folder = line.back() == '\\' || line.back() == '/';
  if (folder && size) return SourceError(label, number, "a folder has no size");
  Result<fs::path> target = MapWindowsPath(root, line);
  if (!target.ok()) return SourceError(label, number, target.status().ToString());
  std::error_code ec;
  fs::create_directories(folder ? target.value() : target->parent_path(), ec);
  if (ec) return SourceError(label, number, ec.message());
  if (folder) return Status::Ok();
  if (fs::is_directory(target.value(), ec)) {
    return SourceError(label, number, std::string(line) + " is a folder");
  }
  Status made = CreateFileOfSize(target.value(), size.value_or(0));
  return made.ok() ? made : SourceError(label, number, made.ToString());
}

Status ApplyFileList(const fs::path& list, const fs::path& root) {
  std::string text;
  HM_RETURN_IF_ERROR(ReadWholeFile(list, &text));
  const std::string label = list.string();
  int number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    HM_RETURN_IF_ERROR(ApplyFileLine(root, line, label, number));
  }
  return Status::Ok();
}

struct ParsedFile {
  std::string label;
  regedit::RegFile reg;
};

struct UserProfileSource {
  std::u16string sid;
  std::string folder;  // below the root: "Users\demo"
};

// Holds the hives being built, maps key texts of .reg files to them, and writes them out.
class Builder {
 public:
  explicit Builder(fs::path root) : root_(std::move(root)) {}

  Status LoadRegistry(const fs::path& folder);
  Status AddSynthetic(const BuildOptions& options);
  Status WriteHives();

 private:
  struct Target {
    hive::Hive* hive;
    std::u16string path;  // below the hive's root
  };
  struct Slot {
    std::string windows_path;
    std::unique_ptr<hive::Hive> hive;
  };

  hive::Hive* HiveAt(std::string windows_path, std::u16string_view root_name);
  hive::Hive* MachineHive(const HiveSpec& machine);
  void FindUsers(const std::vector<ParsedFile>& files);
  const UserProfileSource* FindUser(std::u16string_view sid) const;
  Result<Target> MapKey(std::u16string_view key_text);
  Result<Target> MapUserKey(const UserProfileSource& user,
                            const std::vector<std::u16string_view>& parts, size_t first);
  std::u16string CurrentControlSet();
  Status Apply(const regedit::KeyOp& op, const std::string& label);

  fs::path root_;
  std::map<std::string, Slot> hives_;  // by upper-cased Windows path
  std::vector<UserProfileSource> users_;
};

hive::Hive* Builder::HiveAt(std::string windows_path, std::u16string_view root_name) {
  std::string key = hive::ToUtf8(hive::WinUpcase(hive::FromUtf8(windows_path)));
  Slot& slot = hives_[key];
  if (!slot.hive) {
    slot.windows_path = std::move(windows_path);
    slot.hive = hive::Hive::CreateEmpty(5, std::u16string(root_name));
  }
  return slot.hive.get();
}

hive::Hive* Builder::MachineHive(const HiveSpec& machine) {
  return HiveAt(std::string(kConfigDir) + std::string(machine.file), machine.root_name);
}

// Users come from the ProfileImagePath values the sources set in ProfileList, wherever they are,
// so that user keys may appear in any file.
void Builder::FindUsers(const std::vector<ParsedFile>& files) {
  for (const ParsedFile& file : files) {
    for (const regedit::KeyOp& op : file.reg.keys) {
      std::u16string_view text = op.key_text;
      if (op.remove || text.size() <= kProfileListKey.size() ||
          !NamesEqual(text.substr(0, kProfileListKey.size()), kProfileListKey)) {
        continue;
      }
      std::u16string_view sid = text.substr(kProfileListKey.size());
      if (sid.find(u'\\') != std::u16string_view::npos || FindUser(sid) != nullptr) continue;
      std::string sid8 = hive::ToUtf8(sid);
      if (sid8 == "S-1-5-18" || sid8 == "S-1-5-19" || sid8 == "S-1-5-20") continue;
      for (const regedit::ValueOp& value : op.values) {
        if (value.remove || !NamesEqual(value.name, u"ProfileImagePath")) continue;
        Result<std::vector<std::string>> parts =
            SplitWindowsPath(ExpandSystemVariables(RegStringToUtf8(value.data)));
        if (!parts.ok() || parts->empty()) continue;
        std::string folder;
        for (const std::string& part : parts.value()) folder += (folder.empty() ? "" : "\\") + part;
        users_.push_back({std::u16string(sid), folder});
      }
    }
  }
}

const UserProfileSource* Builder::FindUser(std::u16string_view sid) const {
  for (const UserProfileSource& user : users_) {
    if (NamesEqual(user.sid, sid)) return &user;
  }
  return nullptr;
}

std::u16string Builder::CurrentControlSet() {
  const hive::Key* select = MachineHive(kMachineHives[1])->Find(u"Select");
  const hive::Value* current = select ? select->FindValue(u"Current") : nullptr;
  uint32_t number = current ? RegDword(current->data).value_or(1) : 1;
  char name[32];
  std::snprintf(name, sizeof name, "ControlSet%03u", number);
  return hive::FromUtf8(name);
}

Result<Builder::Target> Builder::MapUserKey(const UserProfileSource& user,
                                            const std::vector<std::u16string_view>& parts,
                                            size_t first) {
  const std::string folder = user.folder + "\\";
  if (parts.size() >= first + 2 && NamesEqual(parts[first], u"Software") &&
      NamesEqual(parts[first + 1], u"Classes")) {
    std::u16string root_name = user.sid + u"_Classes";
    return Target{HiveAt(folder + "AppData\\Local\\Microsoft\\Windows\\UsrClass.dat", root_name),
                  JoinKey(parts, first + 2)};
  }
  return Target{HiveAt(folder + "NTUSER.DAT", kUserRootName), JoinKey(parts, first)};
}

Result<Builder::Target> Builder::MapKey(std::u16string_view key_text) {
  const std::vector<std::u16string_view> parts = SplitKey(key_text);
  for (std::u16string_view part : parts) {
    if (part.empty())
      return Status::Error(kErrorInvalidData, "empty key name in " + Quoted(key_text));
  }
  const std::u16string_view top = parts[0];
  const std::u16string_view second = parts.size() > 1 ? parts[1] : u"";
  if (NamesEqual(top, u"HKEY_LOCAL_MACHINE")) {
    for (const HiveSpec& machine : kMachineHives) {
      if (machine.key == u".DEFAULT" || !NamesEqual(second, machine.key)) continue;
      Target target{MachineHive(machine), JoinKey(parts, 2)};
      if (machine.file == "SYSTEM" && parts.size() > 2 &&
          NamesEqual(parts[2], u"CurrentControlSet")) {
        std::vector<std::u16string_view> rest(parts.begin() + 3, parts.end());
        std::u16string set = CurrentControlSet();
        rest.insert(rest.begin(), set);
        target.path = JoinKey(rest, 0);
      }
      return target;
    }
  } else if (NamesEqual(top, u"HKEY_USERS") && !second.empty()) {
    if (NamesEqual(second, u".DEFAULT"))
      return Target{MachineHive(kMachineHives[4]), JoinKey(parts, 2)};
    constexpr std::u16string_view kClasses = u"_Classes";
    const bool classes = second.size() > kClasses.size() &&
                         NamesEqual(second.substr(second.size() - kClasses.size()), kClasses);
    std::u16string_view sid = classes ? second.substr(0, second.size() - kClasses.size()) : second;
    const UserProfileSource* user = FindUser(sid);
    if (user == nullptr) {
      return Status::Error(kErrorInvalidData,
                           "no ProfileList entry gives a profile folder for " + hive::ToUtf8(sid));
    }
    if (!classes) return MapUserKey(*user, parts, 2);
    return Target{HiveAt(user->folder + "\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat",
                         user->sid + u"_Classes"),
                  JoinKey(parts, 2)};
  } else if (NamesEqual(top, u"HKEY_CURRENT_USER")) {
    if (users_.empty()) {
      return Status::Error(kErrorInvalidData,
                           "HKEY_CURRENT_USER needs a user profile in ProfileList");
    }
    return MapUserKey(users_.front(), parts, 1);
  } else if (NamesEqual(top, u"HKEY_CLASSES_ROOT")) {
    std::u16string path = u"Classes";
    if (parts.size() > 1) path += u"\\" + JoinKey(parts, 1);
    return Target{MachineHive(kMachineHives[0]), path};
  }
  return Status::Error(kErrorInvalidData, Quoted(key_text) + " is in no hive file");
}

Result<hive::Key*> CreatePath(hive::Hive& hive, std::u16string_view path) {
  hive::Key* key = &hive.root();
  if (path.empty()) return key;
  for (std::u16string_view name : SplitKey(path)) {
    Result<hive::Key*> child = key->CreateSubkey(name);
    if (!child.ok()) return child.status();
    key = child.value();
  }
  return key;
}

Status DeletePath(hive::Hive& hive, std::u16string_view path) {
  size_t slash = path.rfind(u'\\');
  hive::Key* parent =
      slash == std::u16string_view::npos ? &hive.root() : hive.Find(path.substr(0, slash));
  if (parent == nullptr) return Status::Ok();  // nothing to delete, as regedit sees it
  Status deleted = parent->DeleteSubkey(path.substr(slash + 1));
  return deleted.code() == kErrorFileNotFound ? Status::Ok() : deleted;
}

Status Builder::Apply(const regedit::KeyOp& op, const std::string& label) {
  Result<Target> target = MapKey(op.key_text);
  if (!target.ok()) return SourceError(label, op.line, target.status().context());
  hive::Hive& hive = *target->hive;
  if (op.remove) {
    if (target->path.empty())
      return SourceError(label, op.line, "the root of a hive cannot be deleted");
    Status deleted = DeletePath(hive, target->path);
    return deleted.ok() ? deleted : SourceError(label, op.line, deleted.ToString());
  }
  Result<hive::Key*> key = CreatePath(hive, target->path);
  if (!key.ok()) return SourceError(label, op.line, key.status().ToString());
  for (const regedit::ValueOp& value : op.values) {
    Status changed = value.remove ? (*key)->DeleteValue(value.name)
                                  : (*key)->SetValue(value.name, value.type, value.data);
    if (value.remove && changed.code() == kErrorFileNotFound) continue;
    if (!changed.ok()) return SourceError(label, value.line, changed.ToString());
  }
  return Status::Ok();
}

Status Builder::LoadRegistry(const fs::path& folder) {
  MachineHive(kMachineHives[0]);  // SOFTWARE and SYSTEM make an installation even when empty
  MachineHive(kMachineHives[1]);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return Status::Ok();
  std::vector<fs::path> names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file() && FileNamesEqual(it->path().extension().string(), ".reg")) {
      names.push_back(it->path());
    }
  }
  if (ec) return Status::Error(WinErrorFromErrno(ec.value()), folder.string());
  std::sort(names.begin(), names.end());
  const std::unique_ptr<CodePage> ansi = CodePage::ForNumber(CodePage::kDefault);
  std::vector<ParsedFile> files;
  for (const fs::path& name : names) {
    std::string bytes;
    HM_RETURN_IF_ERROR(ReadWholeFile(name, &bytes));
    Result<regedit::RegFile> parsed = regedit::ParseRegFile(bytes, *ansi, name.string());
    if (!parsed.ok()) return parsed.status();
    files.push_back({name.string(), std::move(parsed).value()});
  }
  FindUsers(files);
  for (const ParsedFile& file : files) {
    for (const regedit::KeyOp& op : file.reg.keys) HM_RETURN_IF_ERROR(Apply(op, file.label));
  }
  return Status::Ok();
}

Status Builder::AddSynthetic(const BuildOptions& options) {
  uint64_t user_keys = users_.empty() ? 0 : options.synthetic_keys * 15 / 100;
  hive::Hive* software = MachineHive(kMachineHives[0]);
  HM_RETURN_IF_ERROR(AddSyntheticKeys(software->root(), SyntheticLayout::kMachine,
                                      options.synthetic_keys - user_keys, options.seed));
  if (user_keys == 0) return Status::Ok();
  hive::Hive* user = HiveAt(users_.front().folder + "\\NTUSER.DAT", kUserRootName);
  return AddSyntheticKeys(user->root(), SyntheticLayout::kUser, user_keys, options.seed + 1);
}

Status Builder::WriteHives() {
  for (const auto& [unused, slot] : hives_) {
    Result<fs::path> file = MapWindowsPath(root_, slot.windows_path);
    if (!file.ok()) return file.status();
    std::error_code ec;
    fs::create_directories(file->parent_path(), ec);
    if (ec) return Status::Error(WinErrorFromErrno(ec.value()), file->parent_path().string());
    HM_RETURN_IF_ERROR(slot.hive->WriteTo(file.value()));
  }
  return Status::Ok();
}

}  // namespace

Status BuildInstallation(const std::filesystem::path& sources, const std::filesystem::path& root,
                         const BuildOptions& options) {
  std::error_code ec;
  if (!fs::is_directory(sources, ec)) {
    return Status::Error(kErrorPathNotFound, sources.string() + " is not a folder of sources");
  }
  fs::create_directories(root, ec);
  if (ec) return Status::Error(WinErrorFromErrno(ec.value()), root.string());
  if (fs::exists(sources / "files.txt", ec)) {
    HM_RETURN_IF_ERROR(ApplyFileList(sources / "files.txt", root));
  }
  Builder builder(root);
  HM_RETURN_IF_ERROR(builder.LoadRegistry(sources / "registry"));
  if (options.synthetic_keys > 0) HM_RETURN_IF_ERROR(builder.AddSynthetic(options));
  return builder.WriteHives();
}

}  // namespace hm::install
