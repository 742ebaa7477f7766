// The hive engine: a Windows registry hive file (regf) held in memory as a tree of keys and values.
//
// Open() reads the whole file into memory once, verifies it and builds the tree; the file itself
// is not touched again until it is saved. Of the file's bytes only the value data is kept, packed
// into one block (unchanged value data points into it, see ValueData). Changes are made to the tree; Save() and WriteTo() lay the whole tree out anew
// as a compact hive (no free space but the tails of bins) and replace the file atomically. The byte
// layout is described in docs/hive-format.md.
//
// Names are kept as the exact UTF-16 code units Windows stores; lookups compare them the way the
// Windows registry does (upper-casing each code unit with Windows' own table, see upcase.h).
//
// Thread safety: a Hive and its keys are thread-compatible. Concurrent const access is safe
// (lookups change nothing); any change needs exclusive access to the whole hive.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/hive/hive_log.h"
#include "platform/status.h"
#include "platform/utf.h"

namespace hm::hive {

class Hive;

// Registry value types as stored in a hive. Any 32-bit number may appear; these are the named ones.
enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegDwordBigEndian = 5,
  kRegLink = 6,
  kRegMultiSz = 7,
  kRegResourceList = 8,
  kRegFullResourceDescriptor = 9,
  kRegResourceRequirementsList = 10,
  kRegQword = 11,
};

// Key node flags of the file format that callers may see or set.
enum : uint16_t {
  kKeyVolatile = 0x0001,
  kKeyHiveExit = 0x0002,
  kKeyHiveEntry = 0x0004,
  kKeyNoDelete = 0x0008,
  kKeySymLink = 0x0010,
  kKeyCompressedName = 0x0020,  // chosen by the writer, never kept in Key::flags()
  kKeyPredefinedHandle = 0x0040,
};

// Longest key name and value name Windows accepts, in UTF-16 code units.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
// Deepest nesting of keys below the root that Windows accepts.
inline constexpr int kMaxKeyDepth = 512;

// A self-relative SECURITY_DESCRIPTOR as stored in a security cell. Keys share them.
using SecurityDescriptor = std::string;
using SecurityRef = std::shared_ptr<const SecurityDescriptor>;

// The raw bytes of a value (any length, any content). While a value is unchanged since its hive
// was read they are a view into the bytes the hive keeps from its file, which saves copying
// every value on open; after a change, and in every copy taken of a value, they are owned. So a
// copy may outlive its hive; the Value inside a hive lives as long as its key.
//
// A pointer and a size (whose top bit says "owned"): a large hive holds hundreds of thousands
// of values, and a std::string beside the view would triple the size of each.
class ValueData {
 public:
  ValueData() = default;
  explicit ValueData(std::string_view bytes) { Own(bytes); }
  ValueData(const ValueData& other) { Own(other.view()); }
  ValueData& operator=(const ValueData& other) {
    if (this != &other) *this = ValueData(other);
    return *this;
  }
  ValueData(ValueData&& other) noexcept  // a view stays a view
      : data_(std::exchange(other.data_, kNoBytes)), size_(std::exchange(other.size_, 0)) {}
  ValueData& operator=(ValueData&& other) noexcept {
    if (this != &other) {
      Free();
      data_ = std::exchange(other.data_, kNoBytes);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~ValueData() { Free(); }

  std::string_view view() const { return std::string_view(data_, size_ & ~kOwned); }
  operator std::string_view() const { return view(); }  // NOLINT: reads like a string
  const char* data() const { return data_; }
  size_t size() const { return size_ & ~kOwned; }
  bool empty() const { return size() == 0; }
  char operator[](size_t i) const { return data_[i]; }
  std::string_view::const_iterator begin() const { return view().begin(); }
  std::string_view::const_iterator end() const { return view().end(); }

  friend bool operator==(const ValueData& a, const ValueData& b) { return a.view() == b.view(); }
  friend bool operator==(const ValueData& a, std::string_view b) { return a.view() == b; }

 private:
  friend class Hive;
  friend class HiveReader;
  // REQUIRES: `bytes` outlives this object and every object moved from it.
  static ValueData ViewOf(std::string_view bytes) {
    ValueData data;
    data.data_ = bytes.data() != nullptr ? bytes.data() : kNoBytes;
    data.size_ = bytes.size();
    return data;
  }
  bool is_view() const { return (size_ & kOwned) == 0 && size_ != 0; }

  void Own(std::string_view bytes) {
    if (bytes.empty()) return;
    char* copy = new char[bytes.size()];
    std::memcpy(copy, bytes.data(), bytes.size());
    data_ = copy;
    size_ = bytes.size() | kOwned;
  }
  void Free() {
    if ((size_ & kOwned) != 0) delete[] data_;
    data_ = kNoBytes;
    size_ = 0;
  }

  static constexpr size_t kOwned = size_t{1} << (sizeof(size_t) * 8 - 1);
  // Never null, so that the bytes of empty data can be handed to memcpy and the like.
  static constexpr const char* kNoBytes = "";
  const char* data_ = kNoBytes;
  size_t size_ = 0;
};

// A named, typed piece of data. The default value of a key has the empty name.
struct Value {
  std::u16string name;
  uint32_t type = kRegNone;
  uint16_t flags = 0;  // value flags other than the compressed-name bit
  ValueData data;
};

// One key of the tree. Keys are owned by their parent (the root by the Hive); a Key* stays valid
// until the key or one of its ancestors is deleted, or the Hive is destroyed.
class Key {
 public:
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  const std::u16string& name() const { return name_; }
  std::string name_utf8() const;
  Key* parent() const { return parent_; }
  Hive& hive() const { return *hive_; }
  // The path below the root, components joined by backslashes (empty for the root).
  std::u16string path() const;

  uint64_t last_write_time() const { return last_write_; }  // FILETIME, 100 ns since 1601
  uint16_t flags() const { return flags_; }
  // Raw bytes of the class name (UTF-16LE text in practice; may be empty).
  const std::string& class_name() const;
  const SecurityRef& security() const { return security_; }
  // Access bits and the user/virtualization flag bits kept beside the name lengths; opaque.
  uint32_t access_bits() const { return access_bits_; }
  uint16_t user_flags() const { return user_flags_; }

  // Subkeys in the order Windows keeps them (by upper-cased name).
  const std::vector<std::unique_ptr<Key>>& subkeys() const { return subkeys_; }
  // Values in stored order.
  const std::vector<Value>& values() const { return values_; }

  // The longest subkey name and value name (in code units) and the largest value data (in
  // bytes), as a key node records them for RegQueryInfoKey; kept current by every change.
  uint32_t max_subkey_name_length() const { return max_subkey_name_; }
  uint32_t max_value_name_length() const { return max_value_name_; }
  uint32_t max_value_data_size() const { return max_value_data_; }

  // Case-insensitive lookups as Windows does them; constant time per call on average.
  Key* FindSubkey(std::u16string_view name) const;
  const Value* FindValue(std::u16string_view name) const;

  // Changes. Each fails with ERROR_ACCESS_DENIED on a read-only hive and updates the last-write
  // time of the key whose contents changed, as Windows does.
  //
  // Returns the existing subkey of that name, or creates it (with this key's security).
  Result<Key*> CreateSubkey(std::u16string_view name, bool* created = nullptr);
  // Deletes the subkey and its whole subtree. ERROR_FILE_NOT_FOUND when there is none.
  Status DeleteSubkey(std::u16string_view name);
  Status SetValue(std::u16string_view name, uint32_t type, std::string_view data);
  Status DeleteValue(std::u16string_view name);
  Status SetClassName(std::string class_name);
  Status SetSecurity(SecurityDescriptor descriptor);
  // For builders that reproduce a hive exactly.
  Status SetLastWriteTime(uint64_t filetime);

 private:
  friend class Hive;
  friend class HiveReader;
  Key(Hive* hive, Key* parent, std::u16string name) noexcept
      : hive_(hive), parent_(parent), name_(std::move(name)) {}

  Status CheckWritable() const;
  void Touch();
  size_t LowerBound(std::u16string_view upcased_name) const;
  // Builds or drops the hash index as the number of subkeys crosses the threshold.
  void UpdateIndex();
  Value* FindValueMutable(std::u16string_view name);
  void RecomputeSubkeyMaximum();
  void RecomputeValueMaxima();

  Hive* hive_;
  Key* parent_;
  std::u16string name_;
  uint64_t last_write_ = 0;
  uint16_t flags_ = 0;
  uint16_t user_flags_ = 0;
  uint32_t access_bits_ = 0;
  // Null for no class name, as nearly every key has: a pointer costs a quarter of a string.
  std::unique_ptr<std::string> class_name_;
  SecurityRef security_;
  std::vector<std::unique_ptr<Key>> subkeys_;
  std::vector<Value> values_;
  uint32_t max_subkey_name_ = 0;
  uint32_t max_value_name_ = 0;
  uint32_t max_value_data_ = 0;
  // Upper-cased name -> subkey, kept for keys with many subkeys so lookups stay constant-time.
  std::unique_ptr<std::unordered_map<std::u16string, Key*>> index_;
};

// Where Open() found damage, for the salvage mode and for structure checks.
struct Damage {
  uint64_t file_offset;  // offset in the file (not the cell offset)
  std::string reason;
};

// The fields of the base block that describe the file.
struct HiveHeader {
  uint32_t sequence1 = 1;
  uint32_t sequence2 = 1;
  uint64_t timestamp = 0;
  uint32_t major_version = 1;
  uint32_t minor_version = 5;
  uint32_t file_type = 0;
  uint32_t root_cell = 0;
  uint32_t bins_size = 0;
  std::u16string file_name;  // the last 31 characters of the path Windows loaded it from
  bool checksum_ok = true;
  bool clean() const { return sequence1 == sequence2; }
};

// Figures of the file as it was read.
struct HiveFileStats {
  uint64_t file_size = 0;
  uint64_t bins = 0;
  uint64_t allocated_bytes = 0;
  uint64_t free_bytes = 0;
};

struct OpenOptions {
  bool read_only = false;  // refuse all changes
  // Read what is intact instead of failing on the first damage: a damaged key, list or value is
  // left out (and recorded in Hive::damage()); only a file with no usable root fails.
  bool salvage = false;
  // Also look for flaws that lose no data but that Windows' own check would mend (wrong hashes,
  // unsorted lists, stale parent links and reference counts, too small maximum-length fields,
  // allocated cells nothing uses), and record them in Hive::anomalies(). Slower.
  bool check_structure = false;
  // Replay the transaction logs beside a hive that was not cleanly closed (Open() only).
  bool recover_from_logs = true;
};

class Hive {
 public:
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  // Reads a hive file. Errors: ERROR_FILE_NOT_FOUND and other file errors, ERROR_NOT_REGISTRY_FILE
  // (not a regf file), ERROR_BADDB with the file offset and the reason for damage.
  // A hive whose two sequence numbers differ (not cleanly closed) opens read-only.
  static Result<std::unique_ptr<Hive>> Open(const std::filesystem::path& file,
                                            const OpenOptions& options = {});
  // The same over an image in memory; `label` names it in error texts.
  static Result<std::unique_ptr<Hive>> Parse(std::string_view image, const OpenOptions& options,
                                             std::string label = "hive");
  // A new hive with an empty root key, as Windows creates one (format 1.minor_version).
  static std::unique_ptr<Hive> CreateEmpty(uint32_t minor_version = 5,
                                           std::u16string root_name = u"ROOT");

  Key& root() { return *root_; }
  const Key& root() const { return *root_; }
  // Key below the root by backslash-separated path; nullptr when any component is missing.
  Key* Find(std::u16string_view path) const;

  const HiveHeader& header() const { return header_; }
  const HiveFileStats& file_stats() const { return file_stats_; }
  const std::vector<Damage>& damage() const { return damage_; }
  // The transaction logs found beside a hive that was not cleanly closed, and what replaying
  // them did (nothing when the hive was clean).
  const std::vector<std::string>& logs_found() const { return logs_found_; }
  const LogRecovery& log_recovery() const { return log_recovery_; }
  // Flaws found with OpenOptions::check_structure; they never make the hive read-only.
  const std::vector<Damage>& anomalies() const { return anomalies_; }
  const std::filesystem::path& file() const { return file_; }
  bool read_only() const { return read_only_; }
  // Why changes are refused, for the user ("not cleanly closed by Windows ...").
  const std::string& read_only_reason() const { return read_only_reason_; }
  bool modified() const { return modified_; }
  void set_read_only(std::string reason);

  // Number of keys and values in the tree.
  uint64_t CountKeys() const;
  uint64_t CountValues() const;

  // The whole tree laid out as a compact hive image (base block included).
  std::string Serialize() const;
  // Writes the compact image to `file` atomically: a new file in the same folder, flushed, then
  // renamed over the old one. A crash leaves the old file or the new one.
  Status WriteTo(const std::filesystem::path& file) const;
  // WriteTo() the file the hive came from; ERROR_ACCESS_DENIED when read-only. For a hive that
  // was recovered from its transaction logs, the logs are reset afterwards (see RetireLogs()).
  Status Save();

 private:
  friend class Key;
  friend class HiveReader;
  Hive() = default;
  static Result<std::unique_ptr<Hive>> ParseImage(FileImage image, const OpenOptions& options,
                                                  std::string label);
  static Result<std::unique_ptr<Hive>> OpenWithLogs(const std::filesystem::path& file,
                                                    FileImage image, const OpenOptions& options);

  std::filesystem::path file_;
  HiveHeader header_;
  // The value data of the file as read, packed; unchanged values point into it. The rest of the
  // file (key and value cells, lists, free space) is in the tree or not needed once it is read.
  std::unique_ptr<char[]> value_bytes_;
  std::string base_block_;  // the 4096 bytes as read, kept so a rewrite preserves unknown fields
  HiveFileStats file_stats_;
  std::vector<Damage> damage_;
  std::vector<Damage> anomalies_;
  std::vector<std::string> logs_found_;
  LogRecovery log_recovery_;
  // Logs replayed into this hive, with their file type; Save() resets them after the hive itself
  // is written, so that they hold nothing Windows would replay again.
  std::vector<std::pair<std::filesystem::path, uint32_t>> logs_to_retire_;
  std::unique_ptr<Key> root_;
  bool read_only_ = false;
  std::string read_only_reason_;
  bool modified_ = false;
  // Security descriptors by content, so equal descriptors are shared.
  std::unordered_map<std::string, std::weak_ptr<const SecurityDescriptor>> security_pool_;

  SecurityRef InternSecurity(SecurityDescriptor descriptor);
  // Copies the value data that still points into `image` into value_bytes_ and points it there.
  void PackValueData(std::string_view image);
  Status RetireLogs();
};

// Current time as a FILETIME.
uint64_t FileTimeNow();

// The engine's callers convert names with these (see platform/utf.h).
using ::hm::FromUtf8;
using ::hm::ToUtf8;

}  // namespace hm::hive
