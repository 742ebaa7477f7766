// Interoperability of the hive engine with independent regf readers. Every hive the engine writes
// must be read without complaint by libhivex (in-process), reglookup and regfexport, and they must
// see exactly the keys, values, types, data, times, class names and security descriptors the engine
// meant to write. A real hive read and written unchanged must look the same to reglookup as the
// original and must not grow.
//
// A missing reader skips its test on a developer machine; under CI (CI set) it fails the test.
#include <gtest/gtest.h>
#include <hivex.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/hive/format.h"
#include "platform/hive/hive.h"
#include "tests/support/testing.h"

namespace hm::hive {
namespace {

using hm::testing::HaveProgram;
using hm::testing::ReadFileBytes;
using hm::testing::RunCommand;
using hm::testing::TempDir;

// Skips the test when `program` is missing, unless running under CI where that is a failure.
#define HM_REQUIRE_PROGRAM(program)                                               \
  do {                                                                            \
    if (!HaveProgram(program)) {                                                  \
      if (std::getenv("CI") != nullptr) FAIL() << program << " is not installed"; \
      GTEST_SKIP() << program << " is not installed";                             \
    }                                                                             \
  } while (0)

std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::string Latin1(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += static_cast<char>(c);
  return out;
}

bool AllBelow(std::u16string_view text, char16_t limit) {
  return std::all_of(text.begin(), text.end(), [limit](char16_t c) { return c < limit; });
}

// ---------------------------------------------------------------------------------------------
// The sample hive: one of everything the engine must lay out.

// Owner SYSTEM, group Users, one ACE: Everyone may read, inherited by subkeys.
std::string EveryoneReadsDescriptor() {
  static const unsigned char kBytes[] = {
      0x01, 0x00, 0x04, 0x80, 0x30, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x00, 0x00,  // owner 48, group 60
      0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00,                          // DACL at 20
      0x02, 0x00, 0x1C, 0x00, 0x01, 0x00, 0x00, 0x00,  // ACL: 28 bytes, 1 ACE
      0x00, 0x02, 0x14, 0x00, 0x19, 0x00, 0x02, 0x00,  // allow KEY_READ, CI
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // S-1-1-0
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00,  // S-1-5-18
      0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00,
      0x21, 0x02, 0x00, 0x00,
  };
  return std::string(reinterpret_cast<const char*>(kBytes), sizeof kBytes);
}

constexpr size_t kBigValueSize = 100 * 1024;
constexpr int kManySubkeys = 1200;
constexpr int kDeepLevels = 60;

std::string Pattern(size_t size, unsigned seed) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; ++i)
    out[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
  return out;
}

void Set(Key* key, std::u16string_view name, uint32_t type, std::string data) {
  ASSERT_TRUE(key->SetValue(name, type, std::move(data)).ok());
}

Key* Sub(Key* key, std::u16string_view name) {
  auto made = key->CreateSubkey(name);
  EXPECT_TRUE(made.ok()) << made.status().ToString();
  return made.ok() ? made.value() : key;
}

// Gives every key its own last-write time (whole seconds apart, with a sub-second part) so a reader
// that mixes keys up or truncates the time is caught.
void SetDistinctTimes(Key* key, uint64_t* next) {
  ASSERT_TRUE(key->SetLastWriteTime(*next).ok());
  *next += 10'000'000 + 1;
  for (const auto& sub : key->subkeys()) SetDistinctTimes(sub.get(), next);
}

std::unique_ptr<Hive> BuildSampleHive(uint32_t minor) {
  auto hive = Hive::CreateEmpty(minor);
  Key* root = &hive->root();

  Key* types = Sub(root, u"Types");
  Set(types, u"", kRegSz, Utf16Le(std::u16string(u"default\0", 8)));
  Set(types, u"Sz", kRegSz, Utf16Le(std::u16string(u"C:\\Program Files\\App\0", 21)));
  Set(types, u"SzNonAscii", kRegSz, Utf16Le(std::u16string(u"caf\u00e9 \u03b1\u4e2d\0", 8)));
  Set(types, u"Expand", kRegExpandSz, Utf16Le(std::u16string(u"%SystemRoot%\\x.dll\0", 19)));
  Set(types, u"Binary", kRegBinary, Pattern(300, 1));
  Set(types, u"Dword", kRegDword, std::string("\x78\x56\x34\x12", 4));
  Set(types, u"DwordBigEndian", kRegDwordBigEndian, std::string("\x12\x34\x56\x78", 4));
  Set(types, u"Link", kRegLink, Utf16Le(u"\\Registry\\Machine\\Software"));
  Set(types, u"Multi", kRegMultiSz, Utf16Le(std::u16string(u"first\0second\0\0", 14)));
  Set(types, u"ResourceList", kRegResourceList, Pattern(40, 2));
  Set(types, u"FullResource", kRegFullResourceDescriptor, Pattern(36, 3));
  Set(types, u"Requirements", kRegResourceRequirementsList, Pattern(72, 4));
  Set(types, u"Qword", kRegQword, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  Set(types, u"None", kRegNone, "");
  Set(types, u"Unknown", 0x12345, Pattern(12, 5));
  Set(types, u"EmptyBinary", kRegBinary, "");
  Set(types, u"Inline3", kRegBinary, std::string("\x00\xFF\x7F", 3));
  Set(types, u"Odd7", kRegBinary, Pattern(7, 6));
  Set(types, u"Odd16345", kRegBinary, Pattern(16345, 7));  // one byte past a single cell in 1.5
  Set(types, u"Big", kRegBinary, Pattern(kBigValueSize, 8));
  Set(types, u"Wert\u00e4\u00df", kRegDword, "abcd");          // Latin-1 value name
  Set(types, u"\u03c4\u03b9\u03bc\u03ae", kRegDword, "efgh");  // Greek value name
  EXPECT_TRUE(types->SetClassName(Utf16Le(u"TypesClass")).ok());

  Sub(root, u"Caf\u00e9 \u00dcml\u00e4ute");                       // Latin-1: stored compressed
  Sub(root, u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac");  // Greek: stored as UTF-16
  Set(Sub(root, u"\u4e2d\u6587\u952e"), u"\u503c", kRegSz, Utf16Le(std::u16string(u"x\0", 2)));

  Key* many = Sub(root, u"Many");
  for (int i = 0; i < kManySubkeys; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Item%04d", i);
    Key* item = Sub(many, FromUtf8(name));
    if (i % 7 == 0) Set(item, u"Index", kRegDword, std::string(reinterpret_cast<char*>(&i), 4));
  }

  Key* secured = Sub(root, u"Secured");
  EXPECT_TRUE(secured->SetSecurity(EveryoneReadsDescriptor()).ok());
  Set(Sub(secured, u"Inherits"), u"v", kRegDword, "1234");
  Sub(root, u"AfterSecured");

  Key* deep = Sub(root, u"Deep");
  for (int i = 1; i <= kDeepLevels; ++i) deep = Sub(deep, FromUtf8("Level" + std::to_string(i)));
  Set(deep, u"Bottom", kRegSz, Utf16Le(std::u16string(u"end\0", 4)));

  uint64_t next = 133'000'000'000'000'000 + 1234567;  // 2022, with a sub-second part
  SetDistinctTimes(root, &next);
  return hive;
}

// ---------------------------------------------------------------------------------------------
// What a reader saw, in one comparable form. Paths are below the root, names joined by '\'.

struct SeenValue {
  std::string name;  // UTF-8
  uint32_t type;
  std::string data;
  bool operator==(const SeenValue&) const = default;
};

struct SeenKey {
  int64_t timestamp;
  std::vector<SeenValue> values;  // in stored order
  bool operator==(const SeenKey&) const = default;
};

using SeenTree = std::map<std::string, SeenKey>;

std::ostream& operator<<(std::ostream& out, const SeenValue& v) {
  return out << "'" << v.name << "' type " << v.type << " (" << v.data.size() << " bytes)";
}

void CollectEngine(const Key& key, const std::string& path, SeenTree* tree) {
  SeenKey& seen = (*tree)[path];
  seen.timestamp = static_cast<int64_t>(key.last_write_time());
  for (const Value& v : key.values())
    seen.values.push_back({ToUtf8(v.name), v.type, std::string(v.data)});
  for (const auto& sub : key.subkeys()) {
    CollectEngine(*sub, path.empty() ? sub->name_utf8() : path + "\\" + sub->name_utf8(), tree);
  }
}

bool CollectHivex(hive_h* h, hive_node_h node, const std::string& path, SeenTree* tree) {
  SeenKey& seen = (*tree)[path];
  seen.timestamp = hivex_node_timestamp(h, node);
  hive_value_h* values = hivex_node_values(h, node);
  if (values == nullptr) return false;
  for (hive_value_h* v = values; *v != 0; ++v) {
    char* name = hivex_value_key(h, *v);
    // libhivex hands any 32-bit type through its enum; keep it as the number it is.
    uint32_t type = 0;
    size_t length = 0;
    char* data = hivex_value_value(h, *v, reinterpret_cast<hive_type*>(&type), &length);
    if (name == nullptr || data == nullptr) return false;
    seen.values.push_back({name, type, std::string(data, length)});
    free(name);
    free(data);
  }
  free(values);
  hive_node_h* children = hivex_node_children(h, node);
  if (children == nullptr) return false;
  bool ok = true;
  for (hive_node_h* c = children; ok && *c != 0; ++c) {
    char* name = hivex_node_name(h, *c);
    if (name == nullptr) return false;
    ok = CollectHivex(h, *c, path.empty() ? name : path + "\\" + name, tree);
    free(name);
  }
  free(children);
  return ok;
}

// The tree as libhivex reads `file`; fails the test when libhivex refuses any part of it.
SeenTree ReadWithHivex(const std::filesystem::path& file) {
  SeenTree tree;
  hive_h* h = hivex_open(file.c_str(), 0);
  if (h == nullptr) {
    ADD_FAILURE() << "hivex_open failed: " << std::strerror(errno);
    return tree;
  }
  EXPECT_TRUE(CollectHivex(h, hivex_root(h), "", &tree)) << "hivex: " << std::strerror(errno);
  hivex_close(h);
  return tree;
}

void ExpectSameTrees(const SeenTree& expected, const SeenTree& seen) {
  EXPECT_EQ(expected.size(), seen.size());
  for (const auto& [path, key] : expected) {
    auto it = seen.find(path);
    if (it == seen.end()) {
      ADD_FAILURE() << "key '" << path << "' is missing";
      continue;
    }
    EXPECT_EQ(key.timestamp, it->second.timestamp) << path;
    EXPECT_EQ(key.values, it->second.values) << path;
  }
  for (const auto& [path, key] : seen) {
    if (!expected.contains(path)) ADD_FAILURE() << "unexpected key '" << path << "'";
  }
}

// ---------------------------------------------------------------------------------------------
// reglookup: one CSV line per key and value, every awkward byte escaped as %XX. It converts names
// and strings to ASCII and, when that fails, prints the bytes as stored.

std::string Unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> SplitCsv(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

// A name as reglookup prints it: the text when it is ASCII, else its stored bytes (Latin-1 when
// the engine compressed it, UTF-16LE when not).
std::string ReglookupName(std::u16string_view name) {
  return AllBelow(name, 0x100) ? Latin1(name) : Utf16Le(name);
}

std::string ReglookupPath(const Key& key) {
  std::string path;
  for (const Key* k = &key; k->parent() != nullptr; k = k->parent()) {
    path = "/" + ReglookupName(k->name()) + path;
  }
  return path.empty() ? "/" : path;
}

std::string ReglookupType(uint32_t type) {
  static const char* const kNames[] = {"NONE",      "SZ",        "EXPAND_SZ",     "BINARY",
                                       "DWORD",     "DWORD_BE",  "LINK",          "MULTI_SZ",
                                       "RSRC_LIST", "RSRC_DESC", "RSRC_REQ_LIST", "QWORD"};
  if (type < std::size(kNames)) return kNames[type];
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", type);
  return hex;
}

// UTF-16LE text up to its first NUL, as ASCII; false when it is not ASCII.
bool AsciiText(std::string_view utf16, std::string* out) {
  out->clear();
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    auto c = static_cast<char16_t>(static_cast<unsigned char>(utf16[i]) |
                                   static_cast<unsigned char>(utf16[i + 1]) << 8);
    if (c == 0) break;
    if (c >= 0x80) return false;
    *out += static_cast<char>(c);
  }
  return true;
}

// Checks one value line of reglookup (already unescaped) against the value the engine wrote.
void ExpectReglookupData(const Value& v, const std::string& shown, const std::string& where) {
  std::string text;
  uint32_t number = 0;
  uint64_t wide = 0;
  switch (v.type) {
    case kRegSz:
    case kRegExpandSz:
    case kRegLink:
      if (AsciiText(v.data, &text)) {
        EXPECT_EQ(text, shown) << where;
      } else {
        EXPECT_EQ(v.data, shown) << where << ": non-ASCII text is shown as its stored bytes";
      }
      return;
    case kRegMultiSz: {
      std::string joined, part;
      for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
        std::string rest(v.data.view().substr(i));
        ASSERT_TRUE(AsciiText(rest, &part));
        if (part.empty()) break;
        joined += (joined.empty() ? "" : "|") + part;
        i += part.size() * 2;
      }
      EXPECT_EQ(joined, shown) << where;
      return;
    }
    case kRegDword:
    case kRegDwordBigEndian: {
      std::memcpy(&number, v.data.data(), 4);
      if (v.type == kRegDwordBigEndian) number = __builtin_bswap32(number);
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", number);
      EXPECT_EQ(hex, shown) << where;
      return;
    }
    case kRegQword: {
      std::memcpy(&wide, v.data.data(), 8);
      char hex[24];
      std::snprintf(hex, sizeof hex, "0x%016llX", static_cast<unsigned long long>(wide));
      EXPECT_EQ(hex, shown) << where;
      return;
    }
    default:
      EXPECT_EQ(v.data.empty() ? std::string_view("(null)") : v.data.view(), shown) << where;
  }
}

std::string UtcTime(uint64_t filetime) {
  auto seconds = static_cast<time_t>(filetime / 10'000'000 - 11'644'473'600ULL);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

// "S-1-5-18" of the SID at `offset` in a self-relative descriptor.
std::string SidText(const std::string& sd, uint32_t offset) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(sd.at(offset + i)); };
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | byte(i);
  std::string text = "S-" + std::to_string(byte(0)) + "-" + std::to_string(authority);
  for (int i = 0; i < byte(1); ++i) {
    uint32_t sub;
    std::memcpy(&sub, sd.data() + offset + 8 + 4 * i, 4);
    text += "-" + std::to_string(sub);
  }
  return text;
}

// Lines of reglookup's standard error that are not about its ASCII conversion of names and data.
std::vector<std::string> UnexpectedComplaints(const std::string& errors) {
  std::vector<std::string> out;
  std::stringstream in(errors);
  std::string line;
  while (std::getline(in, line)) {
    bool conversion = line.find("warning returned: Data could not be interpreted") != line.npos ||
                      line.find("to encoding US-ASCII") != line.npos;
    if (!conversion) out.push_back(line);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// regfexport: "Key path:", "Value: N name", "Type: ... (REG_X)", "Data size:", hex dumps.

struct ExportedValue {
  std::string name;
  std::string type;
  size_t size = 0;
  bool operator==(const ExportedValue&) const = default;
};
using ExportedTree = std::map<std::string, std::vector<ExportedValue>>;

std::ostream& operator<<(std::ostream& out, const ExportedValue& v) {
  return out << "'" << v.name << "' " << v.type << " " << v.size;
}

ExportedTree ParseRegfexport(const std::string& output) {
  ExportedTree tree;
  std::vector<ExportedValue>* key = nullptr;
  std::stringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    if (line.starts_with("Key path: ")) {
      key = &tree[line.substr(10)];
    } else if (line.starts_with("Value: ") && key != nullptr) {
      std::string rest = line.substr(7);
      key->push_back({rest.substr(rest.find(' ') + 1), "", 0});
    } else if (line.starts_with("Type: ") && key != nullptr && !key->empty()) {
      size_t open = line.rfind("(REG_");
      key->back().type =
          open == line.npos ? line.substr(6) : line.substr(open + 1, line.size() - open - 2);
    } else if (line.starts_with("Data size: ") && key != nullptr && !key->empty()) {
      key->back().size = std::stoul(line.substr(11));
    }
  }
  return tree;
}

std::string RegfexportType(uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD_LITTLE_ENDIAN",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD_LITTLE_ENDIAN"};
  if (type < std::size(kNames)) return kNames[type];
  char hex[32];
  std::snprintf(hex, sizeof hex, "unknown: 0x%08x", type);
  return hex;
}

void CollectExpectedExport(const Key& key, const std::string& path, ExportedTree* tree) {
  auto& values = (*tree)[path];
  for (const Value& v : key.values()) {
    values.push_back(
        {v.name.empty() ? "(default)" : ToUtf8(v.name), RegfexportType(v.type), v.data.size()});
  }
  for (const auto& sub : key.subkeys()) {
    CollectExpectedExport(*sub, path + "\\" + sub->name_utf8(), tree);
  }
}

// Runs `command` with its standard error captured in `errors`; returns its exit status.
int RunCapturingErrors(const std::string& command, const TempDir& dir, std::string* output,
                       std::string* errors) {
  std::filesystem::path error_file = dir / "stderr.txt";
  int status = RunCommand(command + " 2>'" + error_file.string() + "'", output);
  *errors = ReadFileBytes(error_file);
  return status;
}

// ---------------------------------------------------------------------------------------------
// Hives the engine builds, in format 1.3 and 1.5.

class EngineWrittenHive : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    hive_ = BuildSampleHive(GetParam());
    file_ = dir_ / "sample.hiv";
    ASSERT_TRUE(hive_->WriteTo(file_).ok());
    image_ = ReadFileBytes(file_);
  }

  TempDir dir_;
  std::unique_ptr<Hive> hive_;
  std::filesystem::path file_;
  std::string image_;
};

INSTANTIATE_TEST_SUITE_P(Formats, EngineWrittenHive, ::testing::Values(3u, 5u),
                         [](const auto& info) { return "Minor" + std::to_string(info.param); });

// Calls `visit(payload, size)` for each allocated cell of a hive image.
void ForEachAllocatedCell(const std::string& image,
                          const std::function<void(const char*, uint32_t)>& visit) {
  using format::Get32;
  for (size_t bin = format::kBaseBlockSize; bin + 32 <= image.size();) {
    uint32_t bin_size = Get32(image.data() + bin + 8);
    ASSERT_EQ(image.compare(bin, 4, "hbin"), 0) << "no bin at " << bin;
    ASSERT_GE(bin_size, format::kBinAlignment);
    for (size_t cell = bin + 32; cell < bin + bin_size;) {
      auto size = static_cast<int32_t>(Get32(image.data() + cell));
      uint32_t length = size < 0 ? -size : size;
      ASSERT_TRUE(length >= 8 && length % 8 == 0) << "cell at " << cell;
      if (size < 0) visit(image.data() + cell + 4, length - 4);
      cell += length;
    }
    bin += bin_size;
  }
}

TEST_P(EngineWrittenHive, LargeDataIsBigDataRecordFrom1_4AndOneCellBefore) {
  size_t big_cells = 0;
  std::multiset<uint16_t> db_segments;
  ForEachAllocatedCell(image_, [&](const char* payload, uint32_t size) {
    if (size >= kBigValueSize) ++big_cells;
    if (payload[0] == 'd' && payload[1] == 'b') db_segments.insert(format::Get16(payload + 2));
  });
  if (GetParam() >= 5) {
    // 16,345 bytes need 2 segments of 16,344, 100 KiB need 7.
    EXPECT_EQ(db_segments, (std::multiset<uint16_t>{2, 7}));
    EXPECT_EQ(big_cells, 0u);
  } else {
    EXPECT_TRUE(db_segments.empty());
    EXPECT_EQ(big_cells, 1u);
  }
}

TEST_P(EngineWrittenHive, HivexReadsWhatWasWritten) {
  SeenTree expected;
  CollectEngine(hive_->root(), "", &expected);
  ExpectSameTrees(expected, ReadWithHivex(file_));
}

TEST_P(EngineWrittenHive, ReglookupReadsWhatWasWritten) {
  HM_REQUIRE_PROGRAM("reglookup");
  std::string output, errors;
  ASSERT_EQ(RunCapturingErrors("reglookup -s '" + file_.string() + "'", dir_, &output, &errors), 0);
  EXPECT_EQ(UnexpectedComplaints(errors), std::vector<std::string>{});

  // Expected lines by path: keys "KEY" with time, owner, group and class; values with type and
  // data.
  std::map<std::string, std::vector<std::string>> lines;
  std::stringstream in(output);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    auto fields = SplitCsv(line);
    if (fields.size() == 8) fields.push_back("");  // value lines have no class column
    ASSERT_EQ(fields.size(), 9u) << line;
    ASSERT_TRUE(lines.emplace(Unescape(fields[0]), fields).second) << "twice: " << line;
  }

  size_t expected_lines = 0;
  std::set<std::string> dacls[2];
  std::function<void(const Key&)> check = [&](const Key& key) {
    std::string path = ReglookupPath(key);
    ++expected_lines;
    auto it = lines.find(path);
    if (it == lines.end()) {
      ADD_FAILURE() << "key missing: " << path;
    } else {
      const auto& f = it->second;
      EXPECT_EQ(f[1], "KEY") << path;
      EXPECT_EQ(f[3], UtcTime(key.last_write_time())) << path;
      const std::string& sd = *key.security();
      EXPECT_EQ(f[4], SidText(sd, format::Get32(sd.data() + 4))) << path << " owner";
      EXPECT_EQ(f[5], SidText(sd, format::Get32(sd.data() + 8))) << path << " group";
      EXPECT_EQ(f[6], "") << path << " SACL";
      dacls[sd == EveryoneReadsDescriptor()].insert(f[7]);
      std::string class_text;
      ASSERT_TRUE(AsciiText(key.class_name(), &class_text));
      EXPECT_EQ(Unescape(f[8]), class_text) << path;
    }
    for (const Value& v : key.values()) {
      std::string value_path = (path == "/" ? "" : path) + "/" + ReglookupName(v.name);
      ++expected_lines;
      auto found = lines.find(value_path);
      if (found == lines.end()) {
        ADD_FAILURE() << "value missing: " << value_path;
        continue;
      }
      EXPECT_EQ(found->second[1], ReglookupType(v.type)) << value_path;
      ExpectReglookupData(v, Unescape(found->second[2]), value_path);
    }
    for (const auto& sub : key.subkeys()) check(*sub);
  };
  check(hive_->root());
  EXPECT_EQ(lines.size(), expected_lines);
  // Each descriptor shows one DACL wherever it is used, and the two differ.
  ASSERT_EQ(dacls[0].size(), 1u);
  ASSERT_EQ(dacls[1].size(), 1u);
  EXPECT_NE(*dacls[0].begin(), *dacls[1].begin());
  EXPECT_NE(dacls[1].begin()->find("S-1-1-0:ALLOW"), std::string::npos) << *dacls[1].begin();
}

TEST_P(EngineWrittenHive, RegfexportReadsWhatWasWritten) {
  HM_REQUIRE_PROGRAM("regfexport");
  std::string output, errors;
  ASSERT_EQ(RunCapturingErrors("regfexport '" + file_.string() + "'", dir_, &output, &errors), 0);
  EXPECT_EQ(errors, "");
  ExportedTree expected;
  CollectExpectedExport(hive_->root(), hive_->root().name_utf8(), &expected);
  ExportedTree seen = ParseRegfexport(output);
  EXPECT_EQ(seen.size(), expected.size());
  for (const auto& [path, values] : expected) {
    auto it = seen.find(path);
    if (it == seen.end()) {
      ADD_FAILURE() << "key missing: " << path;
    } else {
      EXPECT_EQ(values, it->second) << path;
    }
  }
}

TEST_P(EngineWrittenHive, NamesAreCompressedOnlyWhenLatin1) {
  // The stored forms, found verbatim in the image.
  EXPECT_NE(image_.find(Latin1(u"Caf\u00e9 \u00dcml\u00e4ute")), std::string::npos);
  EXPECT_NE(image_.find(Latin1(u"Wert\u00e4\u00df")), std::string::npos);
  EXPECT_NE(image_.find(Utf16Le(u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac")),
            std::string::npos);
  EXPECT_NE(image_.find(Utf16Le(u"\u4e2d\u6587\u952e")), std::string::npos);
  EXPECT_NE(image_.find(Utf16Le(u"\u03c4\u03b9\u03bc\u03ae")), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Real hives, read and written back unchanged.

class RewrittenRealHive : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    original_ = hm::testing::UnpackSharedHive(GetParam(), dir_.path());
    ASSERT_FALSE(original_.empty());
    auto hive = Hive::Open(original_, {.read_only = true});
    ASSERT_TRUE(hive.ok()) << hive.status().ToString();
    rewrite_ = dir_ / "rewrite.hiv";
    hm::testing::WriteFileBytes(rewrite_, hive.value()->Serialize());
  }

  // Sorted output lines of `command` on `file`; its standard error in `errors`.
  std::vector<std::string> SortedLines(const std::string& command,
                                       const std::filesystem::path& file, std::string* errors) {
    std::string output;
    EXPECT_EQ(RunCapturingErrors(command + " '" + file.string() + "'", dir_, &output, errors), 0);
    std::vector<std::string> lines;
    std::stringstream in(output);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  TempDir dir_;
  std::filesystem::path original_;
  std::filesystem::path rewrite_;
};

INSTANTIATE_TEST_SUITE_P(Shared, RewrittenRealHive, ::testing::Values("NTUSER.DAT", "SYSTEM"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

TEST_P(RewrittenRealHive, IsNoLarger) {
  EXPECT_LE(std::filesystem::file_size(rewrite_), std::filesystem::file_size(original_));
}

TEST_P(RewrittenRealHive, ReglookupSeesTheSameKeysValuesTimesAndSecurity) {
  HM_REQUIRE_PROGRAM("reglookup");
  std::string original_errors, rewrite_errors;
  auto before = SortedLines("reglookup -s", original_, &original_errors);
  auto after = SortedLines("reglookup -s", rewrite_, &rewrite_errors);
  EXPECT_EQ(UnexpectedComplaints(rewrite_errors), std::vector<std::string>{});
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    ASSERT_EQ(before[i], after[i]) << "first difference in sorted line " << i;
  }
}

TEST_P(RewrittenRealHive, RegfexportSeesTheSameExport) {
  HM_REQUIRE_PROGRAM("regfexport");
  std::string original_errors, rewrite_errors;
  std::string before, after;
  EXPECT_EQ(RunCapturingErrors("regfexport '" + original_.string() + "'", dir_, &before,
                               &original_errors),
            0);
  EXPECT_EQ(
      RunCapturingErrors("regfexport '" + rewrite_.string() + "'", dir_, &after, &rewrite_errors),
      0);
  EXPECT_EQ(rewrite_errors, "");
  // Same keys in the same order, the same values in the same order with the same data.
  EXPECT_TRUE(before == after) << before.size() << " bytes before, " << after.size() << " after";
}

TEST_P(RewrittenRealHive, HivexSeesTheSameTree) {
  SeenTree before = ReadWithHivex(original_);
  ASSERT_FALSE(before.empty());
  ExpectSameTrees(before, ReadWithHivex(rewrite_));
}

}  // namespace
}  // namespace hm::hive
