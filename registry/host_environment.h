// HostEnvironment: the environment a 32-bit program would have when started by the current user
// of the installation, and the user's special folders, read from the installation's registry.
//
// The variables are built as Windows builds them at logon: first those Windows sets itself
// (SystemRoot, SystemDrive, ProgramData, ALLUSERSPROFILE, PUBLIC, COMPUTERNAME, the program
// folders, USERPROFILE, USERNAME, HOMEDRIVE, HOMEPATH, APPDATA, LOCALAPPDATA, ...), then the
// system environment of Session Manager, then the user's Environment key (its Path appended to
// the system's), then the user's Volatile Environment where a hive holds one; REG_SZ values
// before REG_EXPAND_SZ values, which are expanded against what is set so far. Last come the
// values WOW64 gives a 32-bit process: ProgramFiles and CommonProgramFiles are the (x86)
// folders, PROCESSOR_ARCHITECTURE is x86 and PROCESSOR_ARCHITEW6432 the native one.
//
// Texts are UTF-8 here; the path utilities convert them to the installation's code page.
//
// Thread safety: immutable after Build(); safe for concurrent use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/files/host_files.h"
#include "registry/host_registry.h"

namespace hm::reg {

// Shell folder identifiers (SHGetFolderPath's CSIDL values) the program uses.
inline constexpr int CSIDL_DESKTOP = 0x00;
inline constexpr int CSIDL_PROGRAMS = 0x02;
inline constexpr int CSIDL_PERSONAL = 0x05;
inline constexpr int CSIDL_FAVORITES = 0x06;
inline constexpr int CSIDL_STARTUP = 0x07;
inline constexpr int CSIDL_RECENT = 0x08;
inline constexpr int CSIDL_SENDTO = 0x09;
inline constexpr int CSIDL_STARTMENU = 0x0B;
inline constexpr int CSIDL_MYMUSIC = 0x0D;
inline constexpr int CSIDL_MYVIDEO = 0x0E;
inline constexpr int CSIDL_DESKTOPDIRECTORY = 0x10;
inline constexpr int CSIDL_NETHOOD = 0x13;
inline constexpr int CSIDL_FONTS = 0x14;
inline constexpr int CSIDL_TEMPLATES = 0x15;
inline constexpr int CSIDL_COMMON_STARTMENU = 0x16;
inline constexpr int CSIDL_COMMON_PROGRAMS = 0x17;
inline constexpr int CSIDL_COMMON_STARTUP = 0x18;
inline constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x19;
inline constexpr int CSIDL_APPDATA = 0x1A;
inline constexpr int CSIDL_PRINTHOOD = 0x1B;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x1C;
inline constexpr int CSIDL_COMMON_FAVORITES = 0x1F;
inline constexpr int CSIDL_INTERNET_CACHE = 0x20;
inline constexpr int CSIDL_COOKIES = 0x21;
inline constexpr int CSIDL_HISTORY = 0x22;
inline constexpr int CSIDL_COMMON_APPDATA = 0x23;
inline constexpr int CSIDL_WINDOWS = 0x24;
inline constexpr int CSIDL_SYSTEM = 0x25;
inline constexpr int CSIDL_PROGRAM_FILES = 0x26;
inline constexpr int CSIDL_MYPICTURES = 0x27;
inline constexpr int CSIDL_PROFILE = 0x28;
inline constexpr int CSIDL_SYSTEMX86 = 0x29;
inline constexpr int CSIDL_PROGRAM_FILESX86 = 0x2A;
inline constexpr int CSIDL_PROGRAM_FILES_COMMON = 0x2B;
inline constexpr int CSIDL_PROGRAM_FILES_COMMONX86 = 0x2C;
inline constexpr int CSIDL_COMMON_TEMPLATES = 0x2D;
inline constexpr int CSIDL_COMMON_DOCUMENTS = 0x2E;
inline constexpr int CSIDL_COMMON_ADMINTOOLS = 0x2F;
inline constexpr int CSIDL_ADMINTOOLS = 0x30;
inline constexpr int CSIDL_COMMON_MUSIC = 0x35;
inline constexpr int CSIDL_COMMON_PICTURES = 0x36;
inline constexpr int CSIDL_COMMON_VIDEO = 0x37;
inline constexpr int CSIDL_RESOURCES = 0x38;
inline constexpr int CSIDL_CDBURN_AREA = 0x3B;
inline constexpr int CSIDL_FLAG_CREATE = 0x8000;
inline constexpr int CSIDL_FOLDER_MASK = 0x00FF;

class HostEnvironment {
 public:
  // Reads the environment of the installation behind `registry` for its current user. Values
  // that cannot be read are left out; the variables Windows sets itself then take the values a
  // default installation has ("C:\Windows", "C:\Program Files", ...).
  static std::unique_ptr<HostEnvironment> Build(HostRegistry& registry);
  // An environment of the given variables only (for tests and tools).
  static std::unique_ptr<HostEnvironment> FromVariables(
      const std::vector<std::pair<std::string, std::string>>& variables);

  // The value of a variable, its name compared without regard to case; nullptr when unset.
  const std::string* Find(std::string_view name) const;
  // Replaces each %NAME% of a set variable by its value, as ExpandEnvironmentStrings does: an
  // unset name stays as written with its percent signs, and its closing '%' may open the next
  // name ("%unset%PATH%" keeps "%unset" and expands "%PATH%").
  std::string Expand(std::string_view text) const;
  // Every variable with its value, in the order they were first set.
  const std::vector<std::pair<std::string, std::string>>& variables() const { return variables_; }

  // The Windows folder ("C:\Windows", from SystemRoot) and the system folder the program is
  // told of ("C:\Windows\system32"; a 32-bit process reaches SysWOW64 through it).
  const std::string& windows_folder() const { return windows_folder_; }
  std::string system_folder() const { return windows_folder_ + "\\system32"; }
  // The folder of a shell folder identifier (its low byte) as SHGetFolderPath gives it to a
  // 32-bit program: from the user's or the machine's User Shell Folders (expanded), else Shell
  // Folders, else where Windows Vista and later put it. Empty for an identifier this program does
  // not know, and for a per-user folder when the installation has no user.
  std::string SpecialFolder(int csidl) const;

  // The SID of the current user; empty when the installation has none.
  const std::string& user_sid() const { return user_sid_; }
  // Windows version as major * 100 + minor (1000 for Windows 10); 0 when unknown.
  uint32_t windows_version() const { return windows_version_; }
  bool is_64bit() const { return is_64bit_; }
  // The user's number format (Control Panel\International sDecimal and sThousand).
  char decimal_separator() const { return decimal_separator_; }
  char thousand_separator() const { return thousand_separator_; }

 private:
  friend class EnvironmentBuilder;
  HostEnvironment() = default;
  void Set(const std::string& name, const std::string& value);

  std::vector<std::pair<std::string, std::string>> variables_;
  std::unordered_map<std::string, size_t> index_;  // upper-cased name -> variables_ index
  // Shell folders by identifier, already expanded.
  std::unordered_map<int, std::string> folders_;
  std::string windows_folder_ = "C:\\Windows";
  std::string user_sid_;
  uint32_t windows_version_ = 0;
  bool is_64bit_ = false;
  char decimal_separator_ = '.';
  char thousand_separator_ = ',';
};

// Opens the installation's files as `environment` describes them (its Windows folder, version
// and whether it is 64-bit); `options` brings the drive and folder mappings.
Result<std::unique_ptr<files::HostFiles>> OpenInstallationFiles(
    const install::Installation& installation, const HostEnvironment& environment,
    files::HostFiles::Options options);

}  // namespace hm::reg
