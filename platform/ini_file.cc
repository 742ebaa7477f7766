#include "platform/ini_file.h"

#include <algorithm>

#include "platform/file_io.h"
#include "platform/text_lines.h"

namespace hm {
namespace {

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// Control bytes other than the tab mark a damaged or binary line.
bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
}

bool SectionNameWritable(std::string_view section) {
  return !section.empty() && section.find(']') == std::string_view::npos &&
         !HasControlByte(section);
}

}  // namespace

bool IniNamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiUpper(x) == AsciiUpper(y);
         });
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  Section* current = nullptr;
  for (const std::string& whole_line : SplitLines(text)) {
    std::string_view line = Trim(whole_line);
    if (line.empty() || line.front() == ';' || HasControlByte(line)) continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      std::string_view name = Trim(line.substr(1, line.size() - 2));
      if (name.empty()) {  // entries of an unnamed section belong nowhere
        current = nullptr;
        continue;
      }
      current = ini.Find(name);
      if (current == nullptr) {
        ini.sections_.push_back(Section{std::string(name), {}});
        current = &ini.sections_.back();
      }
      continue;
    }
    const size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, equals));
    if (name.empty()) continue;
    current->entries.emplace_back(std::string(name), std::string(Trim(line.substr(equals + 1))));
  }
  return ini;
}

Result<IniFile> IniFile::Load(const std::filesystem::path& file) {
  std::string text;
  Status status = ReadWholeFile(file, &text);
  if (status.code() == kErrorFileNotFound || status.code() == kErrorPathNotFound) {
    return IniFile();
  }
  if (!status.ok()) return status;
  return Parse(text);
}

std::string IniFile::ToText() const {
  std::string text;
  for (const Section& section : sections_) {
    text += "[" + section.name + "]\r\n";
    for (const auto& [name, value] : section.entries) text += name + "=" + value + "\r\n";
    text += "\r\n";
  }
  return text;
}

Status IniFile::Save(const std::filesystem::path& file) const {
  return AtomicWriteFile(file, ToText());
}

IniFile::Section* IniFile::Find(std::string_view section) {
  for (Section& s : sections_) {
    if (IniNamesEqual(s.name, section)) return &s;
  }
  return nullptr;
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  return const_cast<IniFile*>(this)->Find(section);
}

bool IniFile::SectionExists(std::string_view section) const {
  return Find(section) != nullptr;
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> names;
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> IniFile::SectionNames(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* s = Find(section)) {
    for (const auto& entry : s->entries) names.push_back(entry.first);
  }
  return names;
}

const std::vector<std::pair<std::string, std::string>>* IniFile::SectionEntries(
    std::string_view section) const {
  const Section* s = Find(section);
  return s == nullptr ? nullptr : &s->entries;
}

bool IniFile::ValueExists(std::string_view section, std::string_view name) const {
  const Section* s = Find(section);
  return s != nullptr && std::any_of(s->entries.begin(), s->entries.end(),
                                     [&](const auto& e) { return IniNamesEqual(e.first, name); });
}

std::string IniFile::ReadString(std::string_view section, std::string_view name,
                                std::string_view fallback) const {
  if (const Section* s = Find(section)) {
    for (const auto& [entry_name, value] : s->entries) {
      if (IniNamesEqual(entry_name, name)) return value;
    }
  }
  return std::string(fallback);
}

bool IniFile::Writable(std::string_view section, std::string_view name, std::string_view value) {
  name = Trim(name);
  value = Trim(value);
  if (!SectionNameWritable(Trim(section))) return false;
  // A "=" inside a name is allowed: the line reads back as the same text, split at its first
  // "=" instead (lists of "name=value" lines rely on that).
  if (name.empty() || name.front() == ';' || name.front() == '=' || HasControlByte(name) ||
      HasControlByte(value)) {
    return false;
  }
  // "[name=value]" would read back as a section.
  return !(name.front() == '[' && !value.empty() && value.back() == ']');
}

bool IniFile::WriteString(std::string_view section, std::string_view name, std::string_view value) {
  if (!Writable(section, name, value)) return false;
  section = Trim(section);
  name = Trim(name);
  value = Trim(value);
  AddSection(section);
  Section* s = Find(section);
  for (auto& [entry_name, entry_value] : s->entries) {
    if (IniNamesEqual(entry_name, name)) {
      entry_value = std::string(value);
      return true;
    }
  }
  s->entries.emplace_back(std::string(name), std::string(value));
  return true;
}

bool IniFile::AddSection(std::string_view section) {
  section = Trim(section);
  if (!SectionNameWritable(section)) return false;
  if (Find(section) == nullptr) sections_.push_back(Section{std::string(section), {}});
  return true;
}

void IniFile::EraseSection(std::string_view section) {
  std::erase_if(sections_, [&](const Section& s) { return IniNamesEqual(s.name, section); });
}

void IniFile::DeleteKey(std::string_view section, std::string_view name) {
  if (Section* s = Find(section)) {
    std::erase_if(s->entries, [&](const auto& e) { return IniNamesEqual(e.first, name); });
  }
}

}  // namespace hm
