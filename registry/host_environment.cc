#include "registry/host_environment.h"

#include <optional>

#include "platform/hive/upcase.h"
#include "platform/install/reg_data.h"
#include "platform/utf.h"

namespace hm::reg {
namespace {

constexpr std::u16string_view kCurrentVersionNt =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::u16string_view kCurrentVersion = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr std::u16string_view kProfileList =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr std::u16string_view kSessionEnvironment =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::u16string_view kComputerName =
    u"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
constexpr std::u16string_view kUserShellFolders =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr std::u16string_view kShellFolders =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string UpperName(std::string_view name) {
  return ToUtf8(hive::WinUpcase(FromUtf8(name)));
}

struct RegValue {
  std::string name;
  uint32_t type = 0;
  std::string text;  // REG_SZ / REG_EXPAND_SZ data as UTF-8
};

// The string values of a key, in the order the hive keeps them; empty when the key is missing.
std::vector<RegValue> ReadStringValues(HostRegistry& registry, HKEY root,
                                       std::u16string_view path) {
  std::vector<RegValue> values;
  HKEY key = 0;
  if (registry.OpenKey(root, path, KEY_READ | KEY_WOW64_64KEY, &key) != kErrorSuccess) {
    return values;
  }
  HostRegistry::ValueEntry entry;
  for (uint32_t i = 0; registry.EnumValue(key, i, &entry) == kErrorSuccess; ++i) {
    if (entry.type != REG_SZ && entry.type != REG_EXPAND_SZ) continue;
    values.push_back({ToUtf8(entry.name), entry.type, install::RegStringToUtf8(entry.data)});
  }
  registry.CloseKey(key);
  return values;
}

std::optional<RegValue> ReadString(HostRegistry& registry, HKEY root, std::u16string_view path,
                                   std::u16string_view name) {
  HKEY key = 0;
  if (registry.OpenKey(root, path, KEY_READ | KEY_WOW64_64KEY, &key) != kErrorSuccess) {
    return std::nullopt;
  }
  HostRegistry::ValueEntry entry;
  LSTATUS status = registry.QueryValue(key, name, &entry);
  registry.CloseKey(key);
  if (status != kErrorSuccess || (entry.type != REG_SZ && entry.type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  return RegValue{ToUtf8(name), entry.type, install::RegStringToUtf8(entry.data)};
}

// Where a shell folder is: the value naming it in (User) Shell Folders and where Windows Vista
// and later put it by default. Identifiers without a value are computed folders.
struct ShellFolder {
  int csidl;
  bool per_user;
  const char16_t* value;  // nullptr: the default alone
  const char* fallback;   // expanded with the environment
};

constexpr ShellFolder kShellFolderTable[] = {
    {CSIDL_DESKTOP, true, u"Desktop", "%USERPROFILE%\\Desktop"},
    {CSIDL_PROGRAMS, true, u"Programs", "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {CSIDL_PERSONAL, true, u"Personal", "%USERPROFILE%\\Documents"},
    {CSIDL_FAVORITES, true, u"Favorites", "%USERPROFILE%\\Favorites"},
    {CSIDL_STARTUP, true, u"Startup",
     "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {CSIDL_RECENT, true, u"Recent", "%APPDATA%\\Microsoft\\Windows\\Recent"},
    {CSIDL_SENDTO, true, u"SendTo", "%APPDATA%\\Microsoft\\Windows\\SendTo"},
    {CSIDL_STARTMENU, true, u"Start Menu", "%APPDATA%\\Microsoft\\Windows\\Start Menu"},
    {CSIDL_MYMUSIC, true, u"My Music", "%USERPROFILE%\\Music"},
    {CSIDL_MYVIDEO, true, u"My Video", "%USERPROFILE%\\Videos"},
    {CSIDL_DESKTOPDIRECTORY, true, u"Desktop", "%USERPROFILE%\\Desktop"},
    {CSIDL_NETHOOD, true, u"NetHood", "%APPDATA%\\Microsoft\\Windows\\Network Shortcuts"},
    {CSIDL_FONTS, false, nullptr, "%SystemRoot%\\Fonts"},
    {CSIDL_TEMPLATES, true, u"Templates", "%APPDATA%\\Microsoft\\Windows\\Templates"},
    {CSIDL_COMMON_STARTMENU, false, u"Common Start Menu",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu"},
    {CSIDL_COMMON_PROGRAMS, false, u"Common Programs",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {CSIDL_COMMON_STARTUP, false, u"Common Startup",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, false, u"Common Desktop", "%PUBLIC%\\Desktop"},
    {CSIDL_APPDATA, true, u"AppData", "%USERPROFILE%\\AppData\\Roaming"},
    {CSIDL_PRINTHOOD, true, u"PrintHood", "%APPDATA%\\Microsoft\\Windows\\Printer Shortcuts"},
    {CSIDL_LOCAL_APPDATA, true, u"Local AppData", "%USERPROFILE%\\AppData\\Local"},
    {CSIDL_COMMON_FAVORITES, true, u"Favorites", "%USERPROFILE%\\Favorites"},
    {CSIDL_INTERNET_CACHE, true, u"Cache", "%LOCALAPPDATA%\\Microsoft\\Windows\\INetCache"},
    {CSIDL_COOKIES, true, u"Cookies", "%LOCALAPPDATA%\\Microsoft\\Windows\\INetCookies"},
    {CSIDL_HISTORY, true, u"History", "%LOCALAPPDATA%\\Microsoft\\Windows\\History"},
    {CSIDL_COMMON_APPDATA, false, u"Common AppData", "%ProgramData%"},
    {CSIDL_WINDOWS, false, nullptr, "%SystemRoot%"},
    {CSIDL_SYSTEM, false, nullptr, "%SystemRoot%\\system32"},
    {CSIDL_PROGRAM_FILES, false, nullptr, "%ProgramFiles%"},
    {CSIDL_MYPICTURES, true, u"My Pictures", "%USERPROFILE%\\Pictures"},
    {CSIDL_PROFILE, true, nullptr, "%USERPROFILE%"},
    {CSIDL_PROGRAM_FILES_COMMON, false, nullptr, "%CommonProgramFiles%"},
    {CSIDL_COMMON_TEMPLATES, false, u"Common Templates",
     "%ProgramData%\\Microsoft\\Windows\\Templates"},
    {CSIDL_COMMON_DOCUMENTS, false, u"Common Documents", "%PUBLIC%\\Documents"},
    {CSIDL_COMMON_ADMINTOOLS, false, u"Common Administrative Tools",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {CSIDL_ADMINTOOLS, true, u"Administrative Tools",
     "%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {CSIDL_COMMON_MUSIC, false, u"CommonMusic", "%PUBLIC%\\Music"},
    {CSIDL_COMMON_PICTURES, false, u"CommonPictures", "%PUBLIC%\\Pictures"},
    {CSIDL_COMMON_VIDEO, false, u"CommonVideo", "%PUBLIC%\\Videos"},
    {CSIDL_RESOURCES, false, nullptr, "%SystemRoot%\\Resources"},
    {CSIDL_CDBURN_AREA, true, u"CD Burning", "%LOCALAPPDATA%\\Microsoft\\Windows\\Burn\\Burn"},
};

// "C:\Users\demo" -> "C:" and "\Users\demo".
std::pair<std::string, std::string> SplitDrive(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return {path.substr(0, 2), path.substr(2)};
  return {"", path};
}

}  // namespace

// Reads the installation's registry into a HostEnvironment in the order Windows builds it.
class EnvironmentBuilder {
 public:
  EnvironmentBuilder(HostRegistry& registry, HostEnvironment* env)
      : registry_(registry), env_(*env), has_user_(registry.user() != nullptr) {}

  void Build() {
    SetWindowsVariables();
    SetUserVariables();
    ApplyKey(HKEY_LOCAL_MACHINE, kSessionEnvironment, /*user=*/false);
    if (has_user_) {
      ApplyKey(HKEY_CURRENT_USER, u"Environment", /*user=*/true);
      ApplyKey(HKEY_CURRENT_USER, u"Volatile Environment", /*user=*/true);
    }
    SetWow64Variables();
    env_.windows_folder_ = Get("SystemRoot");
    ReadShellFolders();
    ReadNumberFormat();
  }

 private:
  std::string Get(std::string_view name) const {
    const std::string* value = env_.Find(name);
    return value == nullptr ? std::string() : *value;
  }

  std::string Machine(std::u16string_view path, std::u16string_view name,
                      const std::string& fallback) {
    std::optional<RegValue> value = ReadString(registry_, HKEY_LOCAL_MACHINE, path, name);
    if (!value || value->text.empty()) return fallback;
    return value->type == REG_EXPAND_SZ ? env_.Expand(value->text) : value->text;
  }

  void SetWindowsVariables() {
    const install::Installation& installation = registry_.installation();
    env_.windows_version_ = installation.version().major * 100 + installation.version().minor;
    env_.is_64bit_ = registry_.is_64bit();
    const std::string system_root = Machine(kCurrentVersionNt, u"SystemRoot", "C:\\Windows");
    const std::string drive = SplitDrive(system_root).first;
    env_.Set("SystemRoot", system_root);
    env_.Set("SystemDrive", drive.empty() ? "C:" : drive);
    const std::string program_data = Machine(kProfileList, u"ProgramData", drive + "\\ProgramData");
    env_.Set("ALLUSERSPROFILE", program_data);
    env_.Set("ProgramData", program_data);
    env_.Set("PUBLIC", Machine(kProfileList, u"Public", drive + "\\Users\\Public"));
    const std::string computer = Machine(kComputerName, u"ComputerName", "");
    if (!computer.empty()) env_.Set("COMPUTERNAME", computer);
    const std::string program_files =
        Machine(kCurrentVersion, u"ProgramFilesDir", drive + "\\Program Files");
    const std::string common_files =
        Machine(kCurrentVersion, u"CommonFilesDir", program_files + "\\Common Files");
    env_.Set("ProgramFiles", program_files);
    env_.Set("CommonProgramFiles", common_files);
    if (env_.is_64bit_) {
      const std::string x86 =
          Machine(kCurrentVersion, u"ProgramFilesDir (x86)", drive + "\\Program Files (x86)");
      env_.Set("ProgramFiles(x86)", x86);
      env_.Set("CommonProgramFiles(x86)",
               Machine(kCurrentVersion, u"CommonFilesDir (x86)", x86 + "\\Common Files"));
      env_.Set("ProgramW6432", Machine(kCurrentVersion, u"ProgramW6432Dir", program_files));
      env_.Set("CommonProgramW6432", Machine(kCurrentVersion, u"CommonW6432Dir", common_files));
    }
    env_.Set("windir", system_root);
  }

  void SetUserVariables() {
    const install::UserProfile* user = registry_.user();
    if (user == nullptr) return;
    env_.user_sid_ = user->sid;
    const std::string profile = env_.Expand(user->profile_path);
    env_.Set("USERPROFILE", profile);
    env_.Set("USERNAME", user->name);
    auto [home_drive, home_path] = SplitDrive(profile);
    env_.Set("HOMEDRIVE", home_drive);
    env_.Set("HOMEPATH", home_path);
    const std::string computer = Get("COMPUTERNAME");
    if (!computer.empty()) {
      env_.Set("USERDOMAIN", computer);
      env_.Set("LOGONSERVER", "\\\\" + computer);
    }
    env_.Set("APPDATA", UserFolder(u"AppData", profile + "\\AppData\\Roaming"));
    env_.Set("LOCALAPPDATA", UserFolder(u"Local AppData", profile + "\\AppData\\Local"));
  }

  std::string UserFolder(std::u16string_view name, const std::string& fallback) {
    std::optional<RegValue> value =
        ReadString(registry_, HKEY_CURRENT_USER, kUserShellFolders, name);
    if (!value) value = ReadString(registry_, HKEY_CURRENT_USER, kShellFolders, name);
    if (!value || value->text.empty()) return fallback;
    return value->type == REG_EXPAND_SZ ? env_.Expand(value->text) : value->text;
  }

  // REG_SZ values first, then REG_EXPAND_SZ values expanded against what is set; a user's Path
  // is appended to the one already set.
  void ApplyKey(HKEY root, std::u16string_view path, bool user) {
    std::vector<RegValue> values = ReadStringValues(registry_, root, path);
    for (uint32_t type : {REG_SZ, REG_EXPAND_SZ}) {
      for (const RegValue& value : values) {
        if (value.type != type || value.name.empty()) continue;
        std::string text = type == REG_EXPAND_SZ ? env_.Expand(value.text) : value.text;
        const std::string* system_path = env_.Find("Path");
        if (user && UpperName(value.name) == "PATH" && system_path != nullptr &&
            !system_path->empty()) {
          text = *system_path + (system_path->back() == ';' ? "" : ";") + text;
        }
        env_.Set(value.name, text);
      }
    }
  }

  void SetWow64Variables() {
    if (!env_.is_64bit_) return;
    const std::string native = Get("PROCESSOR_ARCHITECTURE");
    env_.Set("PROCESSOR_ARCHITEW6432", native.empty() ? "AMD64" : native);
    env_.Set("PROCESSOR_ARCHITECTURE", "x86");
    env_.Set("ProgramFiles", Get("ProgramFiles(x86)"));
    env_.Set("CommonProgramFiles", Get("CommonProgramFiles(x86)"));
  }

  void ReadShellFolders() {
    for (const ShellFolder& folder : kShellFolderTable) {
      if (folder.per_user && !has_user_) continue;
      std::string path;
      if (folder.value != nullptr) {
        path = folder.per_user ? UserFolder(folder.value, "") : CommonFolder(folder.value);
      }
      if (path.empty()) path = env_.Expand(folder.fallback);
      env_.folders_[folder.csidl] = path;
    }
    const std::string windows = env_.windows_folder_;
    env_.folders_[CSIDL_SYSTEMX86] = windows + (env_.is_64bit_ ? "\\SysWOW64" : "\\system32");
    const std::string* x86 = env_.Find(env_.is_64bit_ ? "ProgramFiles(x86)" : "ProgramFiles");
    if (x86 != nullptr) env_.folders_[CSIDL_PROGRAM_FILESX86] = *x86;
    const std::string* common_x86 =
        env_.Find(env_.is_64bit_ ? "CommonProgramFiles(x86)" : "CommonProgramFiles");
    if (common_x86 != nullptr) env_.folders_[CSIDL_PROGRAM_FILES_COMMONX86] = *common_x86;
  }

  std::string CommonFolder(std::u16string_view name) {
    std::u16string user_shell =
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    std::u16string shell = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    std::optional<RegValue> value = ReadString(registry_, HKEY_LOCAL_MACHINE, user_shell, name);
    if (!value) value = ReadString(registry_, HKEY_LOCAL_MACHINE, shell, name);
    if (!value) return {};
    return value->type == REG_EXPAND_SZ ? env_.Expand(value->text) : value->text;
  }

  void ReadNumberFormat() {
    if (!has_user_) return;
    for (auto [name, target] : {std::pair{u"sDecimal", &env_.decimal_separator_},
                                std::pair{u"sThousand", &env_.thousand_separator_}}) {
      std::optional<RegValue> value =
          ReadString(registry_, HKEY_CURRENT_USER, u"Control Panel\\International", name);
      if (value && value->text.size() == 1) *target = value->text[0];
    }
  }

  HostRegistry& registry_;
  HostEnvironment& env_;
  const bool has_user_;
};

std::unique_ptr<HostEnvironment> HostEnvironment::Build(HostRegistry& registry) {
  std::unique_ptr<HostEnvironment> env(new HostEnvironment());
  EnvironmentBuilder(registry, env.get()).Build();
  return env;
}

std::unique_ptr<HostEnvironment> HostEnvironment::FromVariables(
    const std::vector<std::pair<std::string, std::string>>& variables) {
  std::unique_ptr<HostEnvironment> env(new HostEnvironment());
  for (const auto& [name, value] : variables) env->Set(name, value);
  if (const std::string* root = env->Find("SystemRoot")) env->windows_folder_ = *root;
  return env;
}

void HostEnvironment::Set(const std::string& name, const std::string& value) {
  auto [it, inserted] = index_.try_emplace(UpperName(name), variables_.size());
  if (inserted) {
    variables_.emplace_back(name, value);
  } else {
    variables_[it->second].second = value;
  }
}

const std::string* HostEnvironment::Find(std::string_view name) const {
  auto it = index_.find(UpperName(name));
  return it == index_.end() ? nullptr : &variables_[it->second].second;
}

std::string HostEnvironment::Expand(std::string_view text) const {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    const size_t close = text.find('%', i + 1);
    if (close == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    const std::string* value = close > i + 1 ? Find(text.substr(i + 1, close - i - 1)) : nullptr;
    if (value != nullptr) {
      out += *value;
      i = close + 1;
    } else {
      out += '%';  // the name is copied as text; its closing '%' may open the next name
      ++i;
    }
  }
  return out;
}

std::string HostEnvironment::SpecialFolder(int csidl) const {
  auto it = folders_.find(csidl & CSIDL_FOLDER_MASK);
  return it == folders_.end() ? std::string() : it->second;
}

Result<std::unique_ptr<files::HostFiles>> OpenInstallationFiles(
    const install::Installation& installation, const HostEnvironment& environment,
    files::HostFiles::Options options) {
  options.windows_folder = environment.windows_folder();
  options.wow64 = environment.is_64bit();
  if (environment.windows_version() != 0) options.windows_version = environment.windows_version();
  return files::HostFiles::Open(installation.root(), options);
}

}  // namespace hm::reg
