#include "scanner/issue_types.h"

#include <cstdio>

namespace hm::scan {
namespace {

constexpr std::array<std::string_view, kCategoryCount> kCategoryNames = {
    "Registry Integrity",
    "Type Library",
    "Windows Associations",
    "Deep Scan",
    "Custom Controls",
    "Application IDs",
    "Code Pages",
    "Content Type",
    "Applications",
    "Known Drivers",
    "Virtual Devices",
    "Open GL Drivers",
    "Shared DLLs",
    "Start Menu",
    "Startup",
    "Help and Resources",
    "Windows Fonts",
    "Application Locations",
    "File Extensions",
    "HTML Help",
    "Installed Files",
    "Add/Remove Cache",
    "File/Path References",
    "History Lists",
};

constexpr std::array<std::string_view, kCategoryCount> kCategoryDescriptions = {
    "Checks the Shell Folders listed in the registry and makes sure that they exist on the "
    "harddrive. If any do not exist, they are created on the harddrive. Non-existent Shell Folders "
    "can cause errors in Windows.",
    "Makes many different checks of the structure and validity of the entries in the TypeLib key. "
    "The TypeLib key contains the information that needs to be placed in the registry registration "
    "of type libraries. Invalid entries are removed.",
    "Makes many different checks of the validity and completeness of Windows Associations. "
    "Windows Associations dictate what happens when a file is run. Invalid entries are removed.",
    "Performs 68 unique tests which probe deep into the classes of the registry to root out hidden "
    "issues. Classes are used by Windows to store information about registered applications and "
    "their processes so that they run seamlessly. Issues found in the Deep Scan are removed.",
    "Performs several checks on the interface of the custom controls. The Interface defines the "
    "communication boundary between software, devices, and the user. Invalid entries are removed.",
    "Confirms the validity of the AppIDs. The AppIDs group the configuration options for "
    "distributed COM objects into a centralized location. Invalid entries are removed.",
    "Performs several checks of the code pages. The Code Pages map the sequence in which bits are "
    "associated with specific characters. Invalid entries are removed.",
    "Performs several checks of the content types. Content Types indicate the media type of "
    "messages transmitted over the Internet. Invalid entries are removed.",
    "Checks the validity of the entries in the Applications key. This key contains references to "
    "the applications that appear in the dialog box that is shown when an unassociated file is "
    "opened. Invalid entries are removed.",
    "Checks the validity of the entries in all of the known driver keys. The known drivers are "
    "loaded at startup into a section of memory ready to be used when needed. Invalid entries are "
    "removed.",
    "Checks the validity of the entries in the StaticVxD key. A virtual device is a program that "
    "manages a system resource so that more than one application can use the resource at the same "
    "time. Invalid entries are removed.",
    "Checks the validity of the entries in the OpenGLdrivers key. OpenGL is a cross-platform "
    "standard for 3D rendering and 3D hardware acceleration required by some computer games. "
    "Invalid entries are removed.",
    "Checks the validity of the entries in SharedDLLs key. The SharedDLLs key keeps track of files "
    "used by more than one program or application. Invalid entries are removed.",
    "Makes sure that the items in the Start Menu list of the registry exist in the Start Menu list "
    "on the harddrive. This allows the menu which pops up when the Start button is clicked on to "
    "run efficiently. Non-existent entries are removed.",
    "Checks the startup lists in the registry and makes sure that the applications they start "
    "exist. The startup lists enumerate the items that are run when the computer starts. Entries "
    "pointing to non-existent applications are removed.",
    "Checks to see that the Help files referenced in the Help section of the registry exist on the "
    "harddrive. Help files are used by Windows and applications to instruct the user on many "
    "topics. Entries pointing to non-existent files are removed.",
    "Checks the font lists in the registry and makes sure that the fonts exist on the harddrive. "
    "Fonts specify the typeface or look of letters, numbers, and characters. Non-existent fonts "
    "are removed.",
    "Checks to see that the Application files referenced in the AppPaths sections of the registry "
    "exist on the harddrive. The AppPaths sections tell the specific path where certain files are "
    "located on the computer. Entries pointing to non-existent files are removed.",
    "Checks the Extensions lists in the registry and makes sure that the applications they specify "
    "exist. The Extensions lists point to specific programs for running file extensions. Entries "
    "pointing to non-existent applications are removed.",
    "Checks to see that the help files referenced in the HTMLHelp section of the registry exist on "
    "the harddrive. HTMLHelp is a file format that Windows uses for most Help files. Entries "
    "pointing to non-existent files are removed.",
    "Confirms that the entries in the InstalledFiles list of the registry point to installed "
    "files. Entries pointing to non-existent files are removed.",
    "Checks the add/remove caches in the registry for antiquated entries. Add/Remove caches are "
    "hidden and often unchecked lists of items which appear in the Add/Remove Programs section of "
    "the Control Panel. Antiquated entries are removed.",
    "Performs a complete scan of all entries in the registry for references to files on the "
    "harddrive. Entries pointing to non-existent files are removed.",
    "Cleans the Most Recently Opened file lists in your applications. For example, if a recently "
    "opened file in Paint, or WordPad no longer exists its entry will be removed from that list.",
};

constexpr std::array<std::string_view, kGroupCount> kGroupNames = {
    "Operating System Issues",  "COM and ActiveX Issues", "Windows User Profile Issues",
    "Software and File Issues", "Driver Related Issues",
};

// The group of each category. Fonts and the Applications key (the "Open With" programs) are
// kept with the operating system's own lists; application locations with the software's files.
constexpr std::array<int, kCategoryCount> kGroupOfCategory = {
    0,  // ecShellFolders
    1,  // ecTypeLib
    0,  // ecFileTypes
    1,  // ecCLSIDs
    1,  // ecInterfaces
    1,  // ecAppIDs
    0,  // ecCodePages
    4,  // ecContentType
    0,  // ecApplications (chosen)
    4,  // ecSessionManagerKnownDLLs
    4,  // ecVirualDevices
    4,  // ecOpenGLDrivers
    3,  // ecSharedFiles
    2,  // ecStartMenu
    0,  // ecStartup
    3,  // ecHelpFiles
    0,  // ecWindowsFonts (chosen)
    3,  // ecAppPaths (chosen)
    3,  // ecFileExtensions
    3,  // ecHTMLHelp
    3,  // ecInstalledFiles
    0,  // ecAddRemoveCache
    3,  // ecFilePathRefs
    2,  // ecHistoryLists
};

constexpr std::array<std::string_view, kIssueKindCount> kIssueTitles = {
    "Invalid Registry Value",
    "Invalid Alias for Character Set",
    "Invalid Code Page",
    "Invalid Open With List Entry (Key)",
    "Invalid Open With List Entry (Value)",
    "Invalid Open With Program IDs Entry",
    "Invalid Start Menu Item",
    "Invalid Path to Shared File",
    "Invalid Path to Help File",
    "Invalid Path to Toolbox Bitmap File",
    "Invalid Path to Icon File",
    "Invalid Indirect String",
    "Invalid Class ID",
    "Invalid Application ID",
    "Invalid Program ID",
    "Invalid File Extension",
    "Invalid Path to Help Directory",
    "Empty Registry Key",
    "Invalid Interface",
    "Invalid Type Library",
    "Invalid Local Service",
    "Invalid Shell Command",
    "Invalid Path",
    "Invalid Path List",
    "Invalid Path List (Delimited)",
    "Invalid MRU List",
    "Invalid Font File Name",
    "Invalid Add/Remove Cache Entry",
    "Invalid Uninstall Entry",
    "Invalid Shortcut",
};

// Format() with %s arguments only, for the description texts.
template <typename... Args>
std::string Format(const char* format, const Args&... args) {
  const std::string strings[] = {std::string(args)...};
  std::string out;
  size_t next = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += strings[next++];
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// The text after the last backslash of a key path.
std::string_view LastComponent(std::string_view key_path) {
  const size_t cut = key_path.rfind('\\');
  return cut == std::string_view::npos ? key_path : key_path.substr(cut + 1);
}

}  // namespace

std::string_view CategoryName(TErrorCategory category) {
  return kCategoryNames.at(category);
}

std::string_view CategoryDescription(TErrorCategory category) {
  return kCategoryDescriptions.at(category);
}

std::string_view GroupName(int group) {
  return kGroupNames.at(group);
}

std::string GroupHeading(int group) {
  return std::string(GroupName(group)) + " Group";
}

TErrorCategories GroupMembers(int group) {
  TErrorCategories members;
  for (int c = 0; c < kCategoryCount; ++c) {
    if (kGroupOfCategory[c] == group) members.Include(static_cast<TErrorCategory>(c));
  }
  return members;
}

int GroupOf(TErrorCategory category) {
  return kGroupOfCategory.at(category);
}

std::string_view IssueTitle(uint8_t kind) {
  return kind < kIssueKindCount ? kIssueTitles[kind] : std::string_view();
}

bool IsRepairable(uint8_t action) {
  return action <= raClearValue || (action >= 9 && action <= 11);
}

std::string ValueText(std::string_view value_name) {
  return value_name.empty() ? "(Default)" : std::string(value_name);
}

std::string IssueDescription(uint8_t kind, std::string_view key_path, std::string_view value_name,
                             std::string_view data, std::string_view caption) {
  const std::string name = ValueText(value_name);
  const std::string_view key = LastComponent(key_path);
  auto missing = [&](const char* noun) {
    return Format("Value \"%s\" points to missing %s: %s", name, noun, data);
  };
  auto empty = [&] { return Format("Value \"%s\" is empty and can be deleted", name); };
  auto either = [&](const char* noun) { return data.empty() ? empty() : missing(noun); };
  // Kinds whose own text needs data; without it they fall back to the empty form.
  auto or_empty = [&](const char* format) {
    return data.empty() ? empty() : Format(format, name, data);
  };
  switch (kind) {
    case 0:
      return Format("Value \"%s\" is expected to be of type %s.", name, data);
    case 1:
      return either("character set");
    case 2:
      return missing("code page");
    case 3:
      return Format("Subkey \"%s\" points to an application which could not be found: %s", key,
                    data);
    case 4:
      return Format("Value \"%s\" points to an application which could not be found: %s", name,
                    data);
    case 5:
      return Format("Subkey \"%s\" points to missing program ID: %s", key, data);
    case 6:
      return Format("Start menu item \"%s\" is obsolete", key);
    case 7:
      return Format("Shared file could not be found: %s", value_name);
    case 8:
      return data.empty()
                 ? empty()
                 : Format("Help file \"%s\" could not be found in folder %s", value_name, data);
    case 9:
      return or_empty("Value \"%s\" points to file with bitmap which could not be found: %s");
    case 10:
      return or_empty("Value \"%s\" points to file with icon which could not be found: %s");
    case 11:
      return or_empty("Value \"%s\" points to file with resource which could not be found: %s");
    case 12:
      return either("CLSID");
    case 13:
      return either("application ID");
    case 14:
      return either("program ID");
    case 15:
      return either("file extension");
    case 16:
      return either("folder");
    case 17:
      return Format("Subkey \"%s\" is empty and can be deleted", key);
    case 18:
      return missing("interface");
    case 19:
      return either("type library");
    case 20:
      return either("service");
    case 21:
      return or_empty("Value \"%s\" contains invalid shell command: %s");
    case 22:
    case 23:
    case 24:
      return or_empty("Value \"%s\" contains a path which could not be found: %s");
    case 25:
      return "MRU list point to one or more missing element: " + std::string(data);
    case 26:
      return either(" font file");
    case 27:
      return Format("Obsolete add/remove entry: %s", key);
    case 29:
      return Format("Shortcut \"%s\" contains a path which could not be found: %s", caption, data);
    default:  // 28, and numbers outside the table
      return std::string();
  }
}

}  // namespace hm::scan
