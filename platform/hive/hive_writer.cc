// Laying the tree out as a compact regf image. Cells are placed first-fit into the free tails of
// the open bins (oldest first), else into a new 4 KiB bin (a larger bin for a cell that needs one);
// what is left of a bin at the end becomes one free cell. Each key is followed by its class, values
// and subtree, then its subkey list, so a subtree stays together. Equal security descriptors share
// one reference-counted security cell.
#include <algorithm>
#include <unordered_map>

#include "platform/hive/format.h"
#include "platform/hive/hive.h"
#include "platform/hive/upcase.h"

namespace hm::hive {

using namespace format;

namespace {

// Entries per subkey-list leaf: a leaf stays within one 4 KiB bin, as Windows keeps it; keys
// with more subkeys get an index ("ri") of leaves.
constexpr uint32_t kMaxFastLeafEntries = 500;
constexpr uint32_t kMaxPlainLeafEntries = 1000;
// Bins whose free tails are still offered to new cells; more packs tighter but costs time.
constexpr size_t kMaxOpenTails = 128;

bool Compressible(std::u16string_view name) {
  return std::all_of(name.begin(), name.end(), [](char16_t c) { return c <= 0xFF; });
}

uint32_t StoredNameLength(std::u16string_view name) {
  return static_cast<uint32_t>(Compressible(name) ? name.size() : name.size() * 2);
}

void PutName(char* out, std::u16string_view name) {
  if (Compressible(name)) {
    for (size_t i = 0; i < name.size(); ++i) out[i] = static_cast<char>(name[i]);
  } else {
    for (size_t i = 0; i < name.size(); ++i) Put16(out + 2 * i, name[i]);
  }
}

// The four-character hint of an "lf" list entry: the first characters of the name as stored,
// or zeros when the name has a character that does not fit in a byte.
uint32_t NameHint(std::u16string_view name) {
  char hint[4] = {0, 0, 0, 0};
  if (Compressible(name)) {
    for (size_t i = 0; i < name.size() && i < 4; ++i) hint[i] = static_cast<char>(name[i]);
  }
  return Get32(hint);
}

}  // namespace

// A self-relative descriptor for keys that have none: owner Administrators, group SYSTEM;
// SYSTEM and Administrators full control, Users read, all inherited by subkeys.
std::string DefaultSecurityDescriptor() {
  // clang-format off
  static const unsigned char kBytes[] = {
      0x01, 0x00, 0x04, 0x80,                          // revision 1, self-relative, DACL present
      0x60, 0x00, 0x00, 0x00, 0x70, 0x00, 0x00, 0x00,  // owner at 96, group at 112
      0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00,  // no SACL, DACL at 20
      0x02, 0x00, 0x4C, 0x00, 0x03, 0x00, 0x00, 0x00,  // DACL: revision 2, 76 bytes, 3 entries
      // allow SYSTEM KEY_ALL_ACCESS, inherited by subkeys
      0x00, 0x02, 0x14, 0x00, 0x3F, 0x00, 0x0F, 0x00,
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00,
      // allow Administrators KEY_ALL_ACCESS
      0x00, 0x02, 0x18, 0x00, 0x3F, 0x00, 0x0F, 0x00,
      0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00, 0x20, 0x02, 0x00, 0x00,
      // allow Users KEY_READ
      0x00, 0x02, 0x18, 0x00, 0x19, 0x00, 0x02, 0x00,
      0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00, 0x21, 0x02, 0x00, 0x00,
      // owner S-1-5-32-544 (Administrators)
      0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00, 0x20, 0x02, 0x00, 0x00,
      // group S-1-5-18 (SYSTEM)
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00,
  };
  // clang-format on
  return std::string(reinterpret_cast<const char*>(kBytes), sizeof kBytes);
}

class HiveWriter {
 public:
  explicit HiveWriter(const Hive& hive) : hive_(hive), minor_(hive.header().minor_version) {}

  std::string Write(const std::string& old_base_block);

 private:
  struct SecurityCell {
    uint32_t references = 0;
    uint32_t offset = 0;
  };
  struct ListEntry {
    uint32_t offset;
    uint32_t hash;  // lh: name hash; lf: name hint
  };

  // The unused end of a bin: [pos, end).
  struct Tail {
    uint32_t pos;
    uint32_t end;
  };

  uint32_t Alloc(size_t payload);
  uint32_t NewBin(uint32_t cell_size);
  char* At(uint32_t cell) { return out_.data() + cell + 4; }
  void CloseTail(const Tail& tail);

  void CountSecurity(const Key& key, const SecurityDescriptor* inherited);
  void WriteSecurityCells();
  uint32_t WriteKey(const Key& key, uint32_t parent, const SecurityDescriptor* inherited);
  uint32_t WriteValueList(const Key& key, uint32_t* max_name, uint32_t* max_data);
  uint32_t WriteValue(const Value& value);
  uint32_t WriteBigData(std::string_view data);
  uint32_t WriteSubkeyList(const std::vector<ListEntry>& entries);
  uint32_t WriteLeaf(const ListEntry* entries, uint32_t count);
  SecurityCell& SecurityFor(const SecurityDescriptor* descriptor);

  const Hive& hive_;
  uint32_t minor_;
  std::string out_;          // the bins area; cell offsets index it directly
  std::vector<Tail> tails_;  // oldest first: filling old bins first leaves the least waste
  const std::string default_security_ = DefaultSecurityDescriptor();
  std::unordered_map<const SecurityDescriptor*, SecurityCell*> by_pointer_;
  std::unordered_map<std::string_view, SecurityCell> by_content_;
  std::vector<std::string_view> security_order_;
};

std::string Hive::Serialize() const {
  HiveWriter writer(*this);
  return writer.Write(base_block_);
}

uint32_t HiveWriter::Alloc(size_t payload) {
  uint32_t size = static_cast<uint32_t>((payload + 4 + 7) & ~size_t{7});
  auto fits = std::find_if(tails_.begin(), tails_.end(),
                           [size](const Tail& t) { return t.end - t.pos >= size; });
  uint32_t cell;
  if (fits != tails_.end()) {
    cell = fits->pos;
    fits->pos += size;
    if (fits->pos == fits->end) tails_.erase(fits);
  } else {
    cell = NewBin(size);
  }
  Put32(out_.data() + cell, static_cast<uint32_t>(-static_cast<int32_t>(size)));
  return cell;
}

// Appends a bin large enough for a cell of `cell_size` bytes, places the cell at its start and
// offers the rest of the bin to later cells.
uint32_t HiveWriter::NewBin(uint32_t cell_size) {
  auto start = static_cast<uint32_t>(out_.size());
  uint32_t bin_size = (kBinHeaderSize + cell_size + kBinAlignment - 1) & ~(kBinAlignment - 1);
  out_.resize(start + bin_size, '\0');
  char* bin = out_.data() + start;
  std::memcpy(bin, "hbin", 4);
  Put32(bin + 4, start);
  Put32(bin + 8, bin_size);
  uint32_t cell = start + kBinHeaderSize;
  Tail rest{cell + cell_size, start + bin_size};
  if (rest.pos < rest.end) tails_.push_back(rest);
  if (tails_.size() > kMaxOpenTails) {
    auto smallest = std::min_element(
        tails_.begin(), tails_.end(),
        [](const Tail& a, const Tail& b) { return a.end - a.pos < b.end - b.pos; });
    CloseTail(*smallest);
    tails_.erase(smallest);
  }
  return cell;
}

void HiveWriter::CloseTail(const Tail& tail) {
  Put32(out_.data() + tail.pos, tail.end - tail.pos);
}

std::string HiveWriter::Write(const std::string& old_base_block) {
  CountSecurity(hive_.root(), nullptr);
  WriteSecurityCells();
  uint32_t root = WriteKey(hive_.root(), kNilCell, nullptr);
  for (const Tail& tail : tails_) CloseTail(tail);
  if (out_.empty()) NewBin(0);

  std::string base = old_base_block;
  base.resize(kBaseBlockSize, '\0');
  char* bb = base.data();
  uint32_t sequence = std::max(Get32(bb + kBbSequence1), Get32(bb + kBbSequence2)) + 1;
  uint64_t now = FileTimeNow();
  std::memcpy(bb, "regf", 4);
  Put32(bb + kBbSequence1, sequence);
  Put32(bb + kBbSequence2, sequence);
  Put64(bb + kBbTimestamp, now);
  Put32(bb + kBbMajor, 1);
  Put32(bb + kBbMinor, minor_);
  Put32(bb + kBbFileType, 0);
  Put32(bb + kBbFileFormat, 1);
  Put32(bb + kBbRootCell, root);
  Put32(bb + kBbBinsSize, static_cast<uint32_t>(out_.size()));
  Put32(bb + kBbClustering, 1);
  Put32(bb + kBbFlags, 0);
  std::memset(bb + 0x200, 0, kBaseBlockSize - 0x200);  // thaw fields and boot state
  Put32(bb + kBbChecksum, BaseBlockChecksum(bb));
  Put64(out_.data() + 0x14, now);  // the first bin carries the time of the write
  return base + out_;
}

// ---------------------------------------------------------------------------------------------
// Security cells

HiveWriter::SecurityCell& HiveWriter::SecurityFor(const SecurityDescriptor* descriptor) {
  if (descriptor == nullptr) descriptor = &default_security_;
  auto found = by_pointer_.find(descriptor);
  if (found != by_pointer_.end()) return *found->second;
  auto [it, inserted] = by_content_.try_emplace(std::string_view(*descriptor));
  if (inserted) security_order_.push_back(it->first);
  by_pointer_.emplace(descriptor, &it->second);
  return it->second;
}

void HiveWriter::CountSecurity(const Key& key, const SecurityDescriptor* inherited) {
  const SecurityDescriptor* own = key.security() ? key.security().get() : inherited;
  SecurityFor(own).references += 1;
  for (const auto& sub : key.subkeys()) CountSecurity(*sub, own);
}

void HiveWriter::WriteSecurityCells() {
  std::vector<uint32_t> offsets;
  for (std::string_view descriptor : security_order_) {
    SecurityCell& cell = by_content_[descriptor];
    cell.offset = Alloc(kSkDescriptor + descriptor.size());
    char* sk = At(cell.offset);
    std::memcpy(sk, "sk", 2);
    Put32(sk + kSkRefCount, cell.references);
    Put32(sk + kSkDescriptorSize, static_cast<uint32_t>(descriptor.size()));
    std::memcpy(sk + kSkDescriptor, descriptor.data(), descriptor.size());
    offsets.push_back(cell.offset);
  }
  // All security cells form one circular list in both directions.
  for (size_t i = 0; i < offsets.size(); ++i) {
    char* sk = At(offsets[i]);
    Put32(sk + kSkFlink, offsets[(i + 1) % offsets.size()]);
    Put32(sk + kSkBlink, offsets[(i + offsets.size() - 1) % offsets.size()]);
  }
}

// ---------------------------------------------------------------------------------------------
// Keys and values

uint32_t HiveWriter::WriteKey(const Key& key, uint32_t parent,
                              const SecurityDescriptor* inherited) {
  const SecurityDescriptor* own = key.security() ? key.security().get() : inherited;
  uint32_t name_length = StoredNameLength(key.name());
  uint32_t nk = Alloc(kNkName + name_length);

  uint32_t class_cell = kNilCell;
  if (!key.class_name().empty()) {
    class_cell = Alloc(key.class_name().size());
    std::memcpy(At(class_cell), key.class_name().data(), key.class_name().size());
  }
  uint32_t max_value_name = 0, max_value_data = 0;
  uint32_t value_list = WriteValueList(key, &max_value_name, &max_value_data);

  std::vector<ListEntry> entries;
  entries.reserve(key.subkeys().size());
  uint32_t max_subkey_name = 0, max_subkey_class = 0;
  for (const auto& sub : key.subkeys()) {
    uint32_t child = WriteKey(*sub, nk, own);
    uint32_t hash = minor_ >= 5 ? NameHash(sub->name()) : NameHint(sub->name());
    entries.push_back(ListEntry{child, hash});
    max_subkey_name = std::max<uint32_t>(max_subkey_name, sub->name().size() * 2);
    max_subkey_class = std::max<uint32_t>(max_subkey_class, sub->class_name().size());
  }
  uint32_t subkey_list = entries.empty() ? kNilCell : WriteSubkeyList(entries);

  char* p = At(nk);
  std::memcpy(p, "nk", 2);
  uint16_t flags = key.flags() & ~kKeyCompressedName;
  if (Compressible(key.name())) flags |= kKeyCompressedName;
  Put16(p + kNkFlags, flags);
  Put64(p + kNkTimestamp, key.last_write_time());
  Put32(p + kNkAccessBits, key.access_bits());
  Put32(p + kNkParent, parent);
  Put32(p + kNkSubkeyCount, static_cast<uint32_t>(entries.size()));
  Put32(p + kNkSubkeyList, subkey_list);
  Put32(p + kNkVolatileSubkeyList, kNilCell);
  Put32(p + kNkValueCount, static_cast<uint32_t>(key.values().size()));
  Put32(p + kNkValueList, value_list);
  Put32(p + kNkSecurity, SecurityFor(own).offset);
  Put32(p + kNkClass, class_cell);
  Put32(p + kNkMaxSubkeyName, (max_subkey_name & 0xFFFF) | (uint32_t{key.user_flags()} << 16));
  Put32(p + kNkMaxSubkeyClass, max_subkey_class);
  Put32(p + kNkMaxValueName, max_value_name);
  Put32(p + kNkMaxValueData, max_value_data);
  Put16(p + kNkNameLength, static_cast<uint16_t>(name_length));
  Put16(p + kNkClassLength, static_cast<uint16_t>(key.class_name().size()));
  PutName(p + kNkName, key.name());
  return nk;
}

uint32_t HiveWriter::WriteValueList(const Key& key, uint32_t* max_name, uint32_t* max_data) {
  if (key.values().empty()) return kNilCell;
  std::vector<uint32_t> cells;
  cells.reserve(key.values().size());
  for (const Value& value : key.values()) {
    cells.push_back(WriteValue(value));
    *max_name = std::max<uint32_t>(*max_name, value.name.size() * 2);
    *max_data = std::max<uint32_t>(*max_data, value.data.size());
  }
  uint32_t list = Alloc(4 * cells.size());
  for (size_t i = 0; i < cells.size(); ++i) Put32(At(list) + 4 * i, cells[i]);
  return list;
}

uint32_t HiveWriter::WriteValue(const Value& value) {
  uint32_t size = static_cast<uint32_t>(value.data.size());
  uint32_t data_cell = 0;
  uint32_t size_field = size;
  char inline_data[4] = {0, 0, 0, 0};
  if (size <= kInlineDataMax) {
    size_field |= kInlineDataFlag;
    std::memcpy(inline_data, value.data.data(), size);
    data_cell = Get32(inline_data);
  } else if (minor_ >= 4 && size > kBigDataThreshold) {
    data_cell = WriteBigData(value.data);
  } else {
    data_cell = Alloc(size);
    std::memcpy(At(data_cell), value.data.data(), size);
  }
  uint32_t name_length = StoredNameLength(value.name);
  uint32_t vk = Alloc(kVkName + name_length);
  char* p = At(vk);
  std::memcpy(p, "vk", 2);
  Put16(p + kVkNameLength, static_cast<uint16_t>(name_length));
  Put32(p + kVkDataSize, size_field);
  Put32(p + kVkDataOffset, data_cell);
  Put32(p + kVkType, value.type);
  uint16_t flags = value.flags & ~kValueCompressedName;
  if (Compressible(value.name)) flags |= kValueCompressedName;
  Put16(p + kVkFlags, flags);
  PutName(p + kVkName, value.name);
  return vk;
}

uint32_t HiveWriter::WriteBigData(std::string_view data) {
  std::vector<uint32_t> segments;
  for (size_t done = 0; done < data.size(); done += kBigDataSegmentSize) {
    // Windows gives every segment, the last one too, a full-sized cell; readers rely on it.
    size_t length = std::min<size_t>(kBigDataSegmentSize, data.size() - done);
    uint32_t cell = Alloc(kBigDataSegmentSize);
    std::memcpy(At(cell), data.data() + done, length);
    segments.push_back(cell);
  }
  uint32_t list = Alloc(4 * segments.size());
  for (size_t i = 0; i < segments.size(); ++i) Put32(At(list) + 4 * i, segments[i]);
  uint32_t db = Alloc(8);
  std::memcpy(At(db), "db", 2);
  Put16(At(db) + 2, static_cast<uint16_t>(segments.size()));
  Put32(At(db) + 4, list);
  return db;
}

uint32_t HiveWriter::WriteSubkeyList(const std::vector<ListEntry>& entries) {
  uint32_t per_leaf = minor_ >= 3 ? kMaxFastLeafEntries : kMaxPlainLeafEntries;
  auto count = static_cast<uint32_t>(entries.size());
  if (count <= per_leaf) return WriteLeaf(entries.data(), count);
  std::vector<uint32_t> leaves;
  for (uint32_t first = 0; first < count; first += per_leaf) {
    leaves.push_back(WriteLeaf(entries.data() + first, std::min(per_leaf, count - first)));
  }
  uint32_t ri = Alloc(4 + 4 * leaves.size());
  std::memcpy(At(ri), "ri", 2);
  Put16(At(ri) + 2, static_cast<uint16_t>(leaves.size()));
  for (size_t i = 0; i < leaves.size(); ++i) Put32(At(ri) + 4 + 4 * i, leaves[i]);
  return ri;
}

uint32_t HiveWriter::WriteLeaf(const ListEntry* entries, uint32_t count) {
  bool fast = minor_ >= 3;
  uint32_t leaf = Alloc(4 + (fast ? 8 : 4) * count);
  char* p = At(leaf);
  std::memcpy(p, minor_ >= 5 ? "lh" : fast ? "lf" : "li", 2);
  Put16(p + 2, static_cast<uint16_t>(count));
  for (uint32_t i = 0; i < count; ++i) {
    if (fast) {
      Put32(p + 4 + 8 * i, entries[i].offset);
      Put32(p + 8 + 8 * i, entries[i].hash);
    } else {
      Put32(p + 4 + 4 * i, entries[i].offset);
    }
  }
  return leaf;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<Hive> Hive::CreateEmpty(uint32_t minor_version, std::u16string root_name) {
  std::unique_ptr<Hive> hive(new Hive());
  hive->header_.minor_version = minor_version;
  hive->header_.sequence1 = hive->header_.sequence2 = 0;
  hive->base_block_.assign(kBaseBlockSize, '\0');
  Put32(hive->base_block_.data() + kBbMinor, minor_version);
  hive->root_ = std::unique_ptr<Key>(new Key(hive.get(), nullptr, std::move(root_name)));
  hive->root_->flags_ = kKeyHiveEntry | kKeyNoDelete;
  hive->root_->last_write_ = FileTimeNow();
  hive->root_->security_ = hive->InternSecurity(DefaultSecurityDescriptor());
  hive->modified_ = true;
  return hive;
}

}  // namespace hm::hive
