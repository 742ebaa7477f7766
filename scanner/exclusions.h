// The lists that keep findings from the user, and parts of the registry from the full path scan.
//
// - Ignore entries: "ROOT\KeyPath" suppresses the findings on that key (not on its subkeys);
//   "ROOT\KeyPath\\:ValueName" those on one value ("ROOT\KeyPath\\:" the default value). ROOT is
//   a root name as NameToRootKey() reads it.
// - The ignore list a scan receives is assembled by BuildIgnoreList() from the skipped-keys
//   list of the settings, the built-in permanent list and the user's ignore file.
// - IgnoreLookup (built by each scan) answers IsIgnored() for a finding.
// - SkipKeyList: the keys the whole-registry path scan neither examines nor enters.
// - PassesWordFilter(): references that a file test cannot judge (URLs, device paths, shell
//   namespace forms, ...) are not tested at all.
//
// The two built-in lists are kept as "ZP" resources: the bytes "ZP" and a raw deflate stream
// (made at build time from scanner/data/*.txt).
//
// Texts are in the installation's ANSI code page. Thread safety: the free functions are safe from
// any thread (LoadPermanentIgnores() loads once per process); the list objects are immutable
// after construction.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/status.h"
#include "registry/reg_types.h"

namespace hm::scan {

// The three characters between a key and a value name in an ignore entry.
inline constexpr std::string_view kValueSeparator = "\\\\:";
// The file of the user's ignore entries, in the data folder.
inline constexpr std::string_view kIgnoreFileName = "ignore.txt";

// The text of a resource: the inflated stream after "ZP", or the bytes as they are without it.
// A damaged stream fails with ERROR_INVALID_DATA.
Result<std::string> InflateResource(std::string_view bytes);

// The built-in default of the settings' skipped-keys section: "KEYTEXT=1" lines.
Result<std::vector<std::string>> DefaultSkippedKeys();
// The built-in permanent list of ignore entries (group headings dropped); read once per process.
Result<std::vector<std::string>> LoadPermanentIgnores();
// The same from a resource of your own (for tests and the fuzzer).
Result<std::vector<std::string>> ParsePermanentIgnores(std::string_view resource);

// The entries of the ignore file (empty when it does not exist).
Result<std::vector<std::string>> IgnoreFileEntries(const std::filesystem::path& file);
Status AddToIgnoreFile(const std::filesystem::path& file, std::string_view entry);
Status RemoveFromIgnoreFile(const std::filesystem::path& file, std::string_view entry);
// The ignore entries of an ignore file's text.
std::vector<std::string> ParseIgnoreFile(std::string_view text);

// The ignore list of a scan: the names of the skipped-keys lines (each line's text before its
// last "="), then the permanent list, then the ignore file's entries.
std::vector<std::string> BuildIgnoreList(const std::vector<std::string>& skipped_key_lines,
                                         const std::vector<std::string>& permanent,
                                         const std::vector<std::string>& ignore_file);

// Names compared as the registry compares them: upper-cased with Windows' table. Text of plain
// ASCII (nearly every key path) is looked up without a conversion to UTF-16, since a scan looks up
// every key it walks and every finding it makes.
class UpcasedNameSet {
 public:
  void Insert(std::string_view text);
  bool Contains(std::string_view text) const;
  size_t size() const { return names_.size(); }

 private:
  std::unordered_set<std::u16string> names_;
  std::unordered_set<std::string> ascii_names_;  // the names of plain ASCII, narrowed
};

// What a scan looks findings up in: the ignore list with each root written in its short form.
class IgnoreLookup {
 public:
  explicit IgnoreLookup(const std::vector<std::string>& ignore_list);
  // True when the finding's key, or its value (empty name: the default value), is listed.
  // A finding without a root matches nothing.
  bool IsIgnored(reg::HKEY root, std::string_view key_path, std::string_view value_name) const;
  size_t size() const { return entries_.size(); }

 private:
  UpcasedNameSet entries_;
};

// The keys, relative to any root, that the whole-registry path scan skips with their subtrees.
class SkipKeyList {
 public:
  // `control_sets`: the subkeys of HKLM\System named "ControlSet???" (see ControlSetNames()).
  explicit SkipKeyList(const std::vector<std::string>& control_sets);
  bool IsSkippedKey(std::string_view key_path) const;

 private:
  UpcasedNameSet keys_;
};

// The subkeys of HKEY_LOCAL_MACHINE\System whose names match "ControlSet???", in enumeration
// order, through the registry functions; empty when the key cannot be opened.
std::vector<std::string> ControlSetNames();

// False when the lower-cased text contains one of the filter's words: such a reference is not
// tested.
bool PassesWordFilter(std::string_view text);
// The words, rotated back (for tests and the documentation).
const std::vector<std::string>& FilterWords();

}  // namespace hm::scan
