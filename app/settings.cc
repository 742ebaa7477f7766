#include "app/settings.h"

#include <strings.h>

#include <algorithm>

namespace hm::app {

const std::array<std::string_view, kScanCategoryCount> kScanCategoryValueNames = {
    "RegistryIntegrity",
    "TypeLibrary",
    "WindowsAssociations",
    "DeepScan",
    "CustomControls",
    "ApplicationIDs",
    "CodePages",
    "ContentType",
    "Applications",
    "KnownDrivers",
    "VirtualDrivers",
    "OpenGLDrivers",
    "SharedDLLs",
    "StartMenu",
    "Startup",
    "HelpAndResources",
    "WindowsFonts",
    "ApplicationLocations",
    "FileExtensions",
    "HTMLHelp",
    "InstalledFiles",
    "AddRemoveCache",
    // The last two do not match their categories' captions (File/Path References and History
    // Lists); stored files use these names for them.
    "ConfigurationCache",
    "FilePathReferences",
};

const std::array<std::string_view, kCleanCategoryCount> kCleanCategoryValueNames = {
    // 0-14: Windows
    "StartMenuOrderHistory",
    "NetworkDriveHistory",
    "UserAssistHistory",
    "RunMenuHistory",
    "RecentDocuments",
    "WindowsClipboard",
    "OpenSaveHistory",
    "LastVisitedHistory",
    "TempFiles",
    "IISLogFiles",
    "HotFixes",
    "SearchAssistantHistory",
    "TrayIconHistory",
    "LogsAndTraces",
    "HistoryAndCaches",
    // 15-20: Internet Explorer
    "IECache",
    "IECookies",
    "IEVisitedURLHistory",
    "IETypedURLs",
    "IEAutoComplete",
    "IEFavoritesMenuOrderHistory",
    // 21-26: Firefox
    "FFVisitedURLHistory",
    "FFCache",
    "FFCookies",
    "FFFormHistory",
    "FFSession",
    "FFPassword",
    // 27-32: Chrome
    "GCHistory",
    "GCCache",
    "GCCookies",
    "GCDownloads",
    "GCFormInfo",
    "GCPassword",
    // 33-38: Opera
    "OBHistory",
    "OBCache",
    "OBCookies",
    "OBDownloads",
    "OBFormData",
    "OBPassword",
    // 39-44: Safari
    "ASHistory",
    "ASCache",
    "ASCookies",
    "ASFormInfo",
    "ASSession",
    "ASPassword",
    // 45-50: Microsoft Edge
    "EHistory",
    "ECookies",
    "ETemporary",
    "EDownloads",
    "EFormData",
    "EPasswords",
};

const std::array<uint8_t, kCleanCategoryCount> kCleanFileOrder = {
    0,  1,  2,  11, 3,  4,  5,  6,  7,  12, 13, 14, 8, 9, 10,  // Windows
    15, 16, 17, 18, 19, 20,                                    // Internet Explorer
    22, 23, 25, 26, 21, 24,                                    // Firefox, in its own order
    27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,            // Chrome, Opera
    39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50,            // Safari, Edge
};

bool DefaultCleanState(size_t category) {
  // Cookies, passwords (but Firefox's), auto-complete data, logs and the like are kept unless
  // the user asks otherwise.
  constexpr uint8_t kOffByDefault[] = {9,  10, 12, 13, 14, 16, 19, 23, 24,
                                       29, 32, 35, 38, 41, 44, 46, 50};
  return std::find(std::begin(kOffByDefault), std::end(kOffByDefault), category) ==
         std::end(kOffByDefault);
}

Settings::Settings() {
  scan_categories.fill(true);
  for (size_t category = 0; category < kCleanCategoryCount; ++category) {
    clean_categories[category] = DefaultCleanState(category);
  }
  MonitoredKeys = DefaultMonitoredKeys();
}

const std::vector<std::string>& DefaultMonitoredKeys() {
  static const std::vector<std::string> kKeys = {
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders)",
      R"(HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Fonts)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\Help)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\HTML Help)",
      R"(HKEY_CURRENT_USER\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run-)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\RunOnce)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\RunOnce-)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\RunOnceEx)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\RunServices)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\RunServicesOnce)",
      R"(HKEY_CURRENT_USER\SOFTWARE\Microsoft\Shared Tools\MSConfig\startupreg)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run-)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnce)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnce-)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnceEx)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunServices)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunServicesOnce)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSConfig\startupreg)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall)",
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\Folders)",
      R"(HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\VirtualDeviceDrivers)",
      R"(HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\VxD)",
      R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts)",
      R"(HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\ShellNoRoam\MUICache)",
  };
  return kKeys;
}

bool ContainsMonitoredKey(const std::vector<std::string>& list, std::string_view key) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& entry) {
    return entry.size() == key.size() && ::strncasecmp(entry.data(), key.data(), key.size()) == 0;
  });
}

}  // namespace hm::app
