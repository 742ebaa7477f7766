// IniFile: an initialisation file held in memory, read and written as a whole.
//
// The format is the classic one: "[Section]" lines, then "Name=Value" lines; names and section
// names compare without regard to ASCII letter case, and blanks around lines, names and values
// do not count. Reading skips what cannot be an entry: blank lines, comments (';'), lines before
// the first section or in an unnamed one, lines without "=" or without a name, and lines with
// control bytes (a damaged or binary file), so a damaged file reads as far as it is sound.
// Writing produces "[Section]", its entries and a blank line per section, with CR LF line ends,
// and refuses texts that would not read back as written (line breaks, a leading ";", ...).
// Text is kept as the bytes of the file (a single-byte code page): nothing is converted.
//
// Thread-compatible.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace hm {

class IniFile {
 public:
  IniFile() = default;

  // Parses `text`; never fails (what cannot be read is skipped).
  static IniFile Parse(std::string_view text);
  // Reads `file`; a missing file gives an empty IniFile. Other read errors fail.
  static Result<IniFile> Load(const std::filesystem::path& file);
  // The whole file as text.
  std::string ToText() const;
  // Replaces `file` atomically with ToText().
  Status Save(const std::filesystem::path& file) const;

  bool SectionExists(std::string_view section) const;
  // Section names in file order.
  std::vector<std::string> Sections() const;
  // The names of a section's entries in order; empty for a missing section.
  std::vector<std::string> SectionNames(std::string_view section) const;
  // The section's entries as (name, value) pairs in order.
  const std::vector<std::pair<std::string, std::string>>* SectionEntries(
      std::string_view section) const;

  bool ValueExists(std::string_view section, std::string_view name) const;
  // The value, or `fallback` when the section or the name is missing.
  std::string ReadString(std::string_view section, std::string_view name,
                         std::string_view fallback) const;

  // Sets the value, creating the section (at the end) and the entry (at the end of its section).
  // False, and nothing written, when the texts would not read back as written (Writable()).
  bool WriteString(std::string_view section, std::string_view name, std::string_view value);
  static bool Writable(std::string_view section, std::string_view name, std::string_view value);
  // Adds an empty section at the end unless one of that name exists; false for a name that
  // cannot be a section's.
  bool AddSection(std::string_view section);
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view name);

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
  };
  Section* Find(std::string_view section);
  const Section* Find(std::string_view section) const;

  std::vector<Section> sections_;
};

// Letter case ignored for ASCII letters, as the names of an initialisation file compare.
bool IniNamesEqual(std::string_view a, std::string_view b);

}  // namespace hm
