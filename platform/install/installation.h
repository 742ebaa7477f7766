// A Windows installation on disk: a host folder laid out like drive C: of a Windows system.
//
// Open() checks that the folder holds a Windows installation and finds what the rest of the
// program starts from: the hive files and where each is mounted (HKLM\SOFTWARE, HKU\<SID>, ...),
// the user profiles listed in ProfileList, and the Windows version. It reads SOFTWARE once,
// read-only; it keeps no hive open afterwards.
//
// Thread safety: immutable after Open(); safe for concurrent use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hm::install {

// One hive file of the installation and where Windows mounts it.
struct HiveFile {
  std::string mount;  // "HKLM\SOFTWARE", "HKU\.DEFAULT", "HKU\<SID>", "HKU\<SID>_Classes"
  std::string
      windows_path;  // below the root, as Windows names it: "Windows\System32\config\SYSTEM"
  std::filesystem::path file;  // the host file
  std::string sid;             // the owner of a user hive; empty for the machine hives
};

// A user profile from SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList.
struct UserProfile {
  std::string sid;
  std::string profile_path;      // ProfileImagePath as stored ("%SystemDrive%\Users\demo")
  std::string name;              // last component of the profile folder ("demo")
  std::filesystem::path folder;  // host folder of the profile; empty when it does not exist
};

// The version values of SOFTWARE\Microsoft\Windows NT\CurrentVersion. Windows 10 and later keep
// "6.3" in CurrentVersion for old programs and the real numbers in the two DWORDs.
struct WindowsVersion {
  uint32_t major = 0;           // CurrentMajorVersionNumber, else from CurrentVersion
  uint32_t minor = 0;           // CurrentMinorVersionNumber, else from CurrentVersion
  std::string current_version;  // CurrentVersion ("6.3")
  std::string build;            // CurrentBuild ("19045")
  std::string product_name;     // ProductName ("Windows 10 Pro")
  std::string edition;          // EditionID ("Professional")
  std::string display_version;  // DisplayVersion ("22H2")
};

class Installation {
 public:
  // The well-known mount points of the machine hives.
  static constexpr std::string_view kSoftware = "HKLM\\SOFTWARE";
  static constexpr std::string_view kSystem = "HKLM\\SYSTEM";

  // Checks `root` and reads what describes the installation. Fails with one line such as
  // "/mnt/c is not a Windows installation: Windows\System32\config\SYSTEM is missing"
  // (ERROR_FILE_NOT_FOUND). A SOFTWARE hive that cannot be read does not make Open() fail; users
  // and version are then unknown and software_status() says why.
  static Result<std::unique_ptr<Installation>> Open(const std::filesystem::path& root);

  const std::filesystem::path& root() const { return root_; }
  // Machine hives first (SOFTWARE, SYSTEM, SAM, SECURITY, .DEFAULT), then each user's hives.
  const std::vector<HiveFile>& hives() const { return hives_; }
  // Profiles of real users (the service profiles S-1-5-18/19/20 are left out), in ProfileList
  // order.
  const std::vector<UserProfile>& users() const { return users_; }
  const WindowsVersion& version() const { return version_; }
  // True when SOFTWARE has a WOW6432Node key, so that both registry views exist.
  bool is_64bit() const { return is_64bit_; }
  const Status& software_status() const { return software_status_; }

  // The hive mounted at `mount` ("HKLM\SOFTWARE"; compared without regard to case), or nullptr.
  const HiveFile* FindHive(std::string_view mount) const;
  // The user taken as the current one: the first profile whose NTUSER.DAT exists, or nullptr.
  const UserProfile* DefaultUser() const;
  // Host path of a Windows path below the root; see ResolveWindowsPath().
  Result<std::filesystem::path> Resolve(std::string_view windows_path) const;

 private:
  Installation() = default;
  Status ReadSoftware(const std::filesystem::path& file);
  void AddMachineHives();
  void AddUserHives();

  std::filesystem::path root_;
  std::vector<HiveFile> hives_;
  std::vector<UserProfile> users_;
  WindowsVersion version_;
  bool is_64bit_ = false;
  Status software_status_;
};

// The value of %SystemDrive%-style variables that a profile path may use before the installation's
// own environment is known: SystemDrive, SystemRoot and windir. Other variables are left as
// written.
std::string ExpandSystemVariables(std::string_view text);

}  // namespace hm::install
