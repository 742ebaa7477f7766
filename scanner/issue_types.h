// The vocabulary of a scan's findings: the 24 scan categories and their five groups, the 30 issue
// kinds with their titles and description texts, the repair actions, and TRegErrorInfo, the
// record in which a check hands a finding over.
//
// Texts are the program's own and are used exactly as they stand (they are shown to the user and
// written to reports). Strings are text in the installation's ANSI code page, as everywhere above
// the registry functions.
//
// Plain data and pure functions: thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "registry/reg_types.h"

namespace hm::scan {

// The scan categories, in the order of their numbers. (`ecVirualDevices` is the name the program
// has always used.)
enum TErrorCategory : uint8_t {
  ecShellFolders = 0,
  ecTypeLib = 1,
  ecFileTypes = 2,
  ecCLSIDs = 3,
  ecInterfaces = 4,
  ecAppIDs = 5,
  ecCodePages = 6,
  ecContentType = 7,
  ecApplications = 8,
  ecSessionManagerKnownDLLs = 9,
  ecVirualDevices = 10,
  ecOpenGLDrivers = 11,
  ecSharedFiles = 12,
  ecStartMenu = 13,
  ecStartup = 14,
  ecHelpFiles = 15,
  ecWindowsFonts = 16,
  ecAppPaths = 17,
  ecFileExtensions = 18,
  ecHTMLHelp = 19,
  ecInstalledFiles = 20,
  ecAddRemoveCache = 21,
  ecFilePathRefs = 22,
  ecHistoryLists = 23,
};
inline constexpr int kCategoryCount = 24;

// A set of categories: bit n for category n.
class TErrorCategories {
 public:
  constexpr TErrorCategories() = default;
  static constexpr TErrorCategories All() { return TErrorCategories((1u << kCategoryCount) - 1); }
  constexpr bool Contains(TErrorCategory c) const { return (bits_ >> c) & 1u; }
  constexpr void Include(TErrorCategory c) { bits_ |= 1u << c; }
  constexpr void Exclude(TErrorCategory c) { bits_ &= ~(1u << c); }
  constexpr uint32_t bits() const { return bits_; }
  static constexpr TErrorCategories FromBits(uint32_t bits) {
    return TErrorCategories(bits & ((1u << kCategoryCount) - 1));
  }
  friend constexpr bool operator==(TErrorCategories, TErrorCategories) = default;

 private:
  explicit constexpr TErrorCategories(uint32_t bits) : bits_(bits) {}
  uint32_t bits_ = 0;
};

// "Registry Integrity", "Type Library", ... by category.
std::string_view CategoryName(TErrorCategory category);
// The text the scan page shows for the category under the pointer.
std::string_view CategoryDescription(TErrorCategory category);

// The five groups that order the results page. Every category belongs to exactly one.
inline constexpr int kGroupCount = 5;
std::string_view GroupName(int group);     // "Operating System Issues", ...
std::string GroupHeading(int group);       // the name followed by " Group"
TErrorCategories GroupMembers(int group);  // REQUIRES: 0 <= group < kGroupCount
int GroupOf(TErrorCategory category);

// Issue kinds 0 to 29.
inline constexpr int kIssueKindCount = 30;
// "Invalid Registry Value", ...; empty for a number outside 0..29.
std::string_view IssueTitle(uint8_t kind);

// The repair that fixes a finding. Codes 5 to 8 are not used; a finding that carries one of them
// (or any other unknown code) is not repaired.
enum TRepairAction : uint8_t {
  raDeleteKey = 0,
  raDeleteValue = 1,
  raDeleteValueAndEmptyKey = 2,
  raRemoveListItem = 3,
  raClearValue = 4,
  raRebuildMRUList = 9,
  raDeleteMRUEntry = 10,
  raRecycleFile = 11,
};
bool IsRepairable(uint8_t action);

// A finding as a check hands it over; copied by value.
struct TRegErrorInfo {
  uint8_t View = 0;       // 0 = the 32-bit (default) view, 1 = the 64-bit view
  reg::HKEY RootKey = 0;  // HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, or 0 for findings about files
  std::string Caption;    // display name of the item under test
  std::string KeyPath;    // relative to RootKey; for a shortcut, the shortcut file's full path
  std::string ValueName;  // empty for the default value or a finding about the whole key
  std::string Data;       // what the entry refers to and could not be found, or is wrong
  TErrorCategory Category = ecShellFolders;
  uint8_t Kind = 0;
  uint8_t Action = raDeleteKey;
  bool InIgnoreList = false;  // matched the ignore list: counted and dropped, never stored
};

// "(Default)" for the empty value name, else the name.
std::string ValueText(std::string_view value_name);
// The description of a finding of `kind`, built from its key path, value name, data and
// caption.
std::string IssueDescription(uint8_t kind, std::string_view key_path, std::string_view value_name,
                             std::string_view data, std::string_view caption);

}  // namespace hm::scan
