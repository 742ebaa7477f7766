// Reading a regf image into the tree. Every offset taken from the file is checked before it is
// followed: cells must lie inside one bin, be allocated and large enough for what is read from
// them; key nodes are visited once (a loop is damage) and nesting is bounded. Damage is recorded
// with its file offset; in strict mode the first damage fails the open, in salvage mode the
// damaged key, list or value is left out and reading goes on.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "platform/hive/format.h"
#include "platform/hive/hive.h"
#include "platform/hive/upcase.h"

namespace hm::hive {

using namespace format;

class HiveReader {
 public:
  HiveReader(std::string_view image, const OpenOptions& options, std::string label, Hive* hive)
      : image_(image), options_(options), label_(std::move(label)), hive_(hive) {}

  Status Read();

 private:
  // A cell's payload (the bytes after its size field) and where it is.
  struct Cell {
    const char* data = nullptr;
    uint32_t size = 0;
    uint32_t offset = 0;
  };

  // One entry of a subkey list leaf: the key node and the hash or hint stored beside it.
  struct ListEntry {
    uint32_t offset;
    uint32_t check;  // "lh": name hash; "lf": name hint; "li": unused
    char kind;       // 'h', 'f' or 'i'
  };

  Status ReadBaseBlock();
  void ScanBins();
  uint32_t BinSizeAt(uint32_t pos) const;
  void ScanCellsOfBin(uint32_t bin_start, uint32_t bin_end);

  // Records damage at a cell offset (or file offset when `is_file_offset`).
  void Damaged(uint64_t file_offset, std::string reason);
  bool Stopped() const { return !options_.salvage && !hive_->damage_.empty(); }
  static uint64_t FileOffset(uint32_t cell) { return uint64_t{kBaseBlockSize} + cell; }

  bool GetCell(uint32_t offset, uint32_t min_size, const char* what, Cell* cell);
  bool CheckSignature(const Cell& cell, const char* sig, const char* what);

  std::unique_ptr<Key> ReadKey(uint32_t offset, Key* parent, uint32_t parent_offset, int depth);
  bool ReadKeyFields(const Cell& cell, Key* key);
  void ReadValues(const Cell& nk, Key* key);
  bool ReadValue(uint32_t offset, Value* value);
  bool ReadValueData(const Cell& vk, uint32_t size, Value* value);
  bool ReadBigData(uint32_t offset, uint32_t size, std::string* data);
  void ReadSubkeys(const Cell& nk, Key* key, int depth);
  void CollectSubkeyEntries(uint32_t list, bool top_level, std::vector<ListEntry>* out);
  SecurityRef ReadSecurity(uint32_t offset);
  std::u16string ReadName(const char* data, uint16_t length, bool compressed);
  void SortAndDeduplicate(Key* key);

  // Structure checks (OpenOptions::check_structure).
  void Note(uint64_t file_offset, std::string reason);
  void CheckListEntry(const ListEntry& entry, const Key& child);
  void CheckMaximumLengths(const Cell& nk, const Key& key);
  void CheckSecurityReferences();
  void CheckUnusedCells();

  std::string_view image_;
  OpenOptions options_;
  std::string label_;
  Hive* hive_;
  uint32_t minor_version_ = 5;
  uint32_t bins_end_ = 0;  // cell offsets below this are inside the image
  // Per 4 KiB page of the bins area: start and end of the bin that covers it (end 0: none).
  std::vector<uint32_t> bin_start_;
  std::vector<uint32_t> bin_end_;
  std::vector<bool> visited_;  // one bit per 8-byte cell slot, for key nodes
  std::unordered_map<uint32_t, SecurityRef> security_by_offset_;
  // Filled only when checking the structure:
  std::vector<uint8_t> used_;              // per 8-byte slot: a cell the tree refers to
  std::vector<uint32_t> allocated_cells_;  // every allocated cell found in the bins
  std::unordered_map<uint32_t, uint32_t> security_uses_;  // security cell -> keys using it
};

namespace {

std::string Hex(uint64_t v) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(v));
  return buffer;
}

std::string Printable(std::string_view sig) {
  std::string out;
  for (char c : sig) out += (c >= 0x20 && c < 0x7F) ? c : '?';
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

Result<std::unique_ptr<Hive>> Hive::Parse(std::string_view image, const OpenOptions& options,
                                          std::string label) {
  return ParseImage(FileImage::Copy(image), options, std::move(label));
}

Result<std::unique_ptr<Hive>> Hive::ParseImage(FileImage image, const OpenOptions& options,
                                               std::string label) {
  std::unique_ptr<Hive> hive(new Hive());
  {
    HiveReader reader(image.bytes(), options, label, hive.get());
    HM_RETURN_IF_ERROR(reader.Read());
  }  // the reader's tables go before the value data is copied
  // A hive's value data is a fraction of its file (a quarter for large ones): keeping only that
  // instead of the whole image lets a process hold large hives at less than half the memory.
  hive->PackValueData(image.bytes());
  if (options.read_only) hive->set_read_only("opened read-only");
  return hive;
}

Status HiveReader::Read() {
  HM_RETURN_IF_ERROR(ReadBaseBlock());
  ScanBins();
  if (Stopped()) {
    const Damage& d = hive_->damage_.front();
    return Status::Error(kErrorBadDb, label_ + ": offset " + Hex(d.file_offset) + ": " + d.reason);
  }
  visited_.assign(bins_end_ / 8 + 1, false);
  if (options_.check_structure) used_.assign(bins_end_ / 8 + 1, 0);
  hive_->root_ = ReadKey(hive_->header_.root_cell, nullptr, kNilCell, 0);
  if (Stopped() || hive_->root_ == nullptr) {
    if (hive_->damage_.empty()) Damaged(FileOffset(hive_->header_.root_cell), "no root key");
    const Damage& d = hive_->damage_.front();
    return Status::Error(kErrorBadDb, label_ + ": offset " + Hex(d.file_offset) + ": " + d.reason);
  }
  if (options_.check_structure) {
    CheckSecurityReferences();
    CheckUnusedCells();
  }
  if (!hive_->header_.clean()) {
    hive_->set_read_only("not cleanly closed by Windows: its sequence numbers " +
                         std::to_string(hive_->header_.sequence1) + " and " +
                         std::to_string(hive_->header_.sequence2) +
                         " differ, so its latest changes may still be in its transaction logs");
  } else if (!hive_->damage_.empty()) {
    hive_->set_read_only("damaged: only its intact parts were read");
  }
  return Status::Ok();
}

Status HiveReader::ReadBaseBlock() {
  if (image_.size() < kBaseBlockSize || image_.substr(0, 4) != "regf") {
    return Status::Error(kErrorNotRegistryFile, label_ + ": no registry hive signature");
  }
  const char* bb = image_.data();
  HiveHeader& h = hive_->header_;
  h.sequence1 = Get32(bb + kBbSequence1);
  h.sequence2 = Get32(bb + kBbSequence2);
  h.timestamp = Get64(bb + kBbTimestamp);
  h.major_version = Get32(bb + kBbMajor);
  h.minor_version = Get32(bb + kBbMinor);
  h.file_type = Get32(bb + kBbFileType);
  h.root_cell = Get32(bb + kBbRootCell);
  h.bins_size = Get32(bb + kBbBinsSize);
  h.checksum_ok = BaseBlockChecksum(bb) == Get32(bb + kBbChecksum);
  for (size_t i = 0; i + 1 < kBbFileNameSize; i += 2) {
    char16_t c = Get16(bb + kBbFileName + i);
    if (c == 0) break;
    h.file_name += c;
  }
  hive_->base_block_.assign(bb, kBaseBlockSize);
  hive_->file_stats_.file_size = image_.size();
  if (h.major_version != 1 || h.minor_version < 1 || h.minor_version > 6) {
    return Status::Error(kErrorNotRegistryFile, label_ + ": unsupported format version " +
                                                    std::to_string(h.major_version) + "." +
                                                    std::to_string(h.minor_version));
  }
  if (h.file_type != 0) {
    return Status::Error(kErrorNotRegistryFile,
                         label_ + ": a transaction log or other non-primary file (type " +
                             std::to_string(h.file_type) + ")");
  }
  minor_version_ = h.minor_version;
  if (!h.checksum_ok) Damaged(kBbChecksum, "base block checksum does not match");
  uint64_t available = image_.size() - kBaseBlockSize;
  if (h.bins_size % kBinAlignment != 0 || h.bins_size == 0) {
    Damaged(kBbBinsSize, "hive bins size " + Hex(h.bins_size) + " is not a multiple of 4096");
  }
  if (h.bins_size > available) {
    Damaged(kBbBinsSize, "file is truncated: the base block announces " +
                             std::to_string(h.bins_size) + " bytes of hive bins, the file holds " +
                             std::to_string(available));
  }
  bins_end_ = static_cast<uint32_t>(std::min<uint64_t>({h.bins_size, available, 0xFFFFFFF0u}));
  bins_end_ -= bins_end_ % kBinAlignment;
  return Status::Ok();
}

void HiveReader::ScanBins() {
  size_t pages = bins_end_ / kBinAlignment;
  bin_start_.assign(pages, 0);
  bin_end_.assign(pages, 0);
  uint32_t pos = 0;
  while (pos < bins_end_ && !Stopped()) {
    uint32_t size = BinSizeAt(pos);
    if (size == 0) {
      // Salvage: step over the damaged pages up to the next page that starts a valid bin.
      uint32_t next = pos + kBinAlignment;
      while (next < bins_end_ && BinSizeAt(next) == 0) next += kBinAlignment;
      Damaged(FileOffset(pos), std::to_string(next - pos) + " bytes hold no valid hive bin");
      pos = next;
      continue;
    }
    for (uint32_t page = pos / kBinAlignment; page < (pos + size) / kBinAlignment; ++page) {
      bin_start_[page] = pos;
      bin_end_[page] = pos + size;
    }
    hive_->file_stats_.bins += 1;
    ScanCellsOfBin(pos, pos + size);
    pos += size;
  }
}

// The size of the bin that starts at `pos`, or 0 when no valid bin starts there.
uint32_t HiveReader::BinSizeAt(uint32_t pos) const {
  const char* bin = image_.data() + kBaseBlockSize + pos;
  uint32_t size = Get32(bin + 8);
  bool ok = std::string_view(bin, 4) == "hbin" && Get32(bin + 4) == pos && size >= kBinAlignment &&
            size % kBinAlignment == 0 && size <= bins_end_ - pos;
  return ok ? size : 0;
}

void HiveReader::ScanCellsOfBin(uint32_t bin_start, uint32_t bin_end) {
  uint32_t pos = bin_start + kBinHeaderSize;
  while (pos < bin_end) {
    auto size = static_cast<int32_t>(Get32(image_.data() + kBaseBlockSize + pos));
    uint32_t length =
        size < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(size)) : static_cast<uint32_t>(size);
    if (length < 8 || length % 8 != 0 || length > bin_end - pos) {
      Damaged(FileOffset(pos), "cell size " + std::to_string(size) + " breaks the bin");
      return;
    }
    (size < 0 ? hive_->file_stats_.allocated_bytes : hive_->file_stats_.free_bytes) += length;
    if (size < 0 && options_.check_structure) allocated_cells_.push_back(pos);
    pos += length;
  }
}

void HiveReader::Damaged(uint64_t file_offset, std::string reason) {
  hive_->damage_.push_back(Damage{file_offset, std::move(reason)});
}

bool HiveReader::GetCell(uint32_t offset, uint32_t min_size, const char* what, Cell* cell) {
  if (offset % 8 != 0 || offset >= bins_end_ || bins_end_ - offset < 8) {
    Damaged(FileOffset(offset),
            std::string(what) + " at cell offset " + Hex(offset) + " lies outside the hive bins");
    return false;
  }
  uint32_t page = offset / kBinAlignment;
  uint32_t end = bin_end_[page];
  if (end == 0 || offset < bin_start_[page] + kBinHeaderSize) {
    Damaged(FileOffset(offset), std::string(what) + " at cell offset " + Hex(offset) +
                                    " is not inside a valid hive bin");
    return false;
  }
  auto size = static_cast<int32_t>(Get32(image_.data() + kBaseBlockSize + offset));
  if (size >= 0) {
    Damaged(FileOffset(offset), std::string(what) + " refers to a free cell");
    return false;
  }
  uint32_t length = static_cast<uint32_t>(-static_cast<int64_t>(size));
  if (length < 4 + min_size || length > end - offset) {
    Damaged(FileOffset(offset),
            std::string(what) + " cell has a bad size (" + std::to_string(size) + ")");
    return false;
  }
  cell->data = image_.data() + kBaseBlockSize + offset + 4;
  cell->size = length - 4;
  cell->offset = offset;
  if (!used_.empty()) used_[offset / 8] = 1;
  return true;
}

bool HiveReader::CheckSignature(const Cell& cell, const char* sig, const char* what) {
  if (cell.data[0] == sig[0] && cell.data[1] == sig[1]) return true;
  Damaged(FileOffset(cell.offset), std::string(what) + " expected, found signature '" +
                                       Printable(std::string_view(cell.data, 2)) + "'");
  return false;
}

std::u16string HiveReader::ReadName(const char* data, uint16_t length, bool compressed) {
  if (compressed) {
    auto bytes = reinterpret_cast<const unsigned char*>(data);
    return std::u16string(bytes, bytes + length);
  }
  std::u16string name(length / 2, u'\0');
  std::memcpy(name.data(), data, name.size() * 2);  // the host is little-endian, as the file
  return name;
}

// ---------------------------------------------------------------------------------------------
// Keys

std::unique_ptr<Key> HiveReader::ReadKey(uint32_t offset, Key* parent, uint32_t parent_offset,
                                         int depth) {
  Cell nk;
  if (!GetCell(offset, kNkName, "key node", &nk) || !CheckSignature(nk, "nk", "key node")) {
    return nullptr;
  }
  if (visited_[offset / 8]) {
    Damaged(FileOffset(offset), "key node is reached twice (a loop in the tree)");
    return nullptr;
  }
  visited_[offset / 8] = true;
  if (depth > kMaxKeyDepth) {
    Damaged(FileOffset(offset), "keys nested deeper than Windows allows");
    return nullptr;
  }
  auto key = std::unique_ptr<Key>(new Key(hive_, parent, {}));
  if (!ReadKeyFields(nk, key.get())) return nullptr;
  ReadValues(nk, key.get());
  ReadSubkeys(nk, key.get(), depth);
  if (options_.check_structure) {
    if (parent != nullptr && Get32(nk.data + kNkParent) != parent_offset) {
      Note(FileOffset(offset), "key '" + ToUtf8(key->path()) + "' names the wrong parent");
    }
    CheckMaximumLengths(nk, *key);
  }
  return key;
}

bool HiveReader::ReadKeyFields(const Cell& nk, Key* key) {
  uint16_t flags = Get16(nk.data + kNkFlags);
  uint16_t name_length = Get16(nk.data + kNkNameLength);
  if (name_length > nk.size - kNkName) {
    Damaged(FileOffset(nk.offset), "key name runs past the end of its cell");
    return false;
  }
  key->name_ = ReadName(nk.data + kNkName, name_length, (flags & kKeyCompressedName) != 0);
  key->flags_ = flags & ~kKeyCompressedName;
  key->last_write_ = Get64(nk.data + kNkTimestamp);
  key->access_bits_ = Get32(nk.data + kNkAccessBits);
  key->user_flags_ = static_cast<uint16_t>(Get32(nk.data + kNkMaxSubkeyName) >> 16);

  uint16_t class_length = Get16(nk.data + kNkClassLength);
  uint32_t class_cell = Get32(nk.data + kNkClass);
  Cell cls;
  if (class_length > 0 && class_cell != kNilCell &&
      GetCell(class_cell, class_length, "class name", &cls)) {
    key->class_name_ = std::make_unique<std::string>(cls.data, class_length);
  }
  key->security_ = ReadSecurity(Get32(nk.data + kNkSecurity));
  if (options_.check_structure && key->security_ != nullptr) {
    security_uses_[Get32(nk.data + kNkSecurity)] += 1;
  }
  if (key->security_ == nullptr && key->parent_ != nullptr)
    key->security_ = key->parent_->security_;
  return true;
}

SecurityRef HiveReader::ReadSecurity(uint32_t offset) {
  auto found = security_by_offset_.find(offset);
  if (found != security_by_offset_.end()) return found->second;
  Cell sk;
  SecurityRef result;
  if (offset != kNilCell && GetCell(offset, kSkDescriptor, "security record", &sk) &&
      CheckSignature(sk, "sk", "security record")) {
    uint32_t length = Get32(sk.data + kSkDescriptorSize);
    if (length > sk.size - kSkDescriptor) {
      Damaged(FileOffset(offset), "security descriptor runs past the end of its cell");
    } else {
      result = hive_->InternSecurity(SecurityDescriptor(sk.data + kSkDescriptor, length));
    }
  }
  security_by_offset_.emplace(offset, result);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Values

void HiveReader::ReadValues(const Cell& nk, Key* key) {
  uint32_t count = Get32(nk.data + kNkValueCount);
  if (count == 0 || (key->flags_ & kKeyPredefinedHandle) != 0) return;
  Cell list;
  if (!GetCell(Get32(nk.data + kNkValueList), 0, "value list", &list)) return;
  if (count > list.size / 4) {
    Damaged(FileOffset(list.offset), "value list holds fewer entries than its key announces");
    count = list.size / 4;
  }
  key->values_.reserve(count);
  // Names seen so far, upper-cased; only built for keys with many values, where a linear
  // search per value would cost quadratic time.
  std::unordered_set<std::u16string> seen;
  bool use_set = count > 8;
  for (uint32_t i = 0; i < count && !Stopped(); ++i) {
    Value value;
    if (!ReadValue(Get32(list.data + 4 * i), &value)) continue;
    bool duplicate = use_set ? !seen.insert(WinUpcase(value.name)).second
                             : key->FindValue(value.name) != nullptr;
    if (duplicate) {
      Damaged(FileOffset(list.offset), "value name appears twice in one key");
      continue;
    }
    key->values_.push_back(std::move(value));
  }
  key->RecomputeValueMaxima();
}

bool HiveReader::ReadValue(uint32_t offset, Value* value) {
  Cell vk;
  if (!GetCell(offset, kVkName, "value", &vk) || !CheckSignature(vk, "vk", "value")) return false;
  uint16_t name_length = Get16(vk.data + kVkNameLength);
  uint16_t flags = Get16(vk.data + kVkFlags);
  if (name_length > vk.size - kVkName) {
    Damaged(FileOffset(offset), "value name runs past the end of its cell");
    return false;
  }
  value->name = ReadName(vk.data + kVkName, name_length, (flags & kValueCompressedName) != 0);
  value->flags = flags & ~kValueCompressedName;
  value->type = Get32(vk.data + kVkType);
  return ReadValueData(vk, Get32(vk.data + kVkDataSize), value);
}

bool HiveReader::ReadValueData(const Cell& vk, uint32_t size, Value* value) {
  uint32_t data_cell = Get32(vk.data + kVkDataOffset);
  if (size & kInlineDataFlag) {
    size &= ~kInlineDataFlag;
    if (size > kInlineDataMax) {
      Damaged(FileOffset(vk.offset), "inline value data longer than 4 bytes");
      return false;
    }
    value->data = ValueData::ViewOf(std::string_view(vk.data + kVkDataOffset, size));
    return true;
  }
  if (size == 0) return true;
  if (minor_version_ >= 4 && size > kBigDataThreshold) {
    Cell probe;
    if (!GetCell(data_cell, 2, "value data", &probe)) return false;
    if (probe.data[0] == 'd' && probe.data[1] == 'b') {
      std::string joined;
      if (!ReadBigData(data_cell, size, &joined)) return false;
      value->data = ValueData(joined);
      return true;
    }
    // Not a big-data record: some writers store large data in one cell; read it as such.
  }
  Cell data;
  if (!GetCell(data_cell, size, "value data", &data)) return false;
  value->data = ValueData::ViewOf(std::string_view(data.data, size));
  return true;
}

bool HiveReader::ReadBigData(uint32_t offset, uint32_t size, std::string* data) {
  Cell db, list;
  if (!GetCell(offset, 8, "big-data record", &db)) return false;
  uint16_t segments = Get16(db.data + 2);
  if (!GetCell(Get32(db.data + 4), 4u * segments, "big-data segment list", &list)) return false;
  data->reserve(size);
  for (uint16_t i = 0; i < segments && data->size() < size; ++i) {
    uint32_t want =
        std::min<uint32_t>(size - static_cast<uint32_t>(data->size()), kBigDataSegmentSize);
    Cell segment;
    if (!GetCell(Get32(list.data + 4 * i), want, "big-data segment", &segment)) return false;
    data->append(segment.data, want);
  }
  if (data->size() != size) {
    Damaged(FileOffset(offset), "big-data record holds less than its value announces");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Subkeys

void HiveReader::ReadSubkeys(const Cell& nk, Key* key, int depth) {
  uint32_t count = Get32(nk.data + kNkSubkeyCount);
  if (count == 0) return;
  std::vector<ListEntry> entries;
  CollectSubkeyEntries(Get32(nk.data + kNkSubkeyList), true, &entries);
  if (entries.size() != count && !Stopped()) {
    Damaged(FileOffset(nk.offset), "key announces " + std::to_string(count) +
                                       " subkeys, its lists hold " +
                                       std::to_string(entries.size()));
  }
  key->subkeys_.reserve(entries.size());
  for (const ListEntry& entry : entries) {
    if (Stopped()) return;
    auto sub = ReadKey(entry.offset, key, nk.offset, depth + 1);
    if (sub == nullptr) continue;
    if (options_.check_structure) CheckListEntry(entry, *sub);
    key->subkeys_.push_back(std::move(sub));
  }
  SortAndDeduplicate(key);
  key->UpdateIndex();
  key->RecomputeSubkeyMaximum();
}

void HiveReader::CollectSubkeyEntries(uint32_t offset, bool top_level,
                                      std::vector<ListEntry>* out) {
  Cell list;
  if (!GetCell(offset, 4, "subkey list", &list)) return;
  std::string_view sig(list.data, 2);
  uint32_t count = Get16(list.data + 2);
  uint32_t stride = (sig == "lf" || sig == "lh") ? 8 : (sig == "li" || sig == "ri") ? 4 : 0;
  if (stride == 0 || (sig == "ri" && !top_level)) {
    Damaged(FileOffset(offset), "subkey list expected, found signature '" + Printable(sig) + "'");
    return;
  }
  if (count > (list.size - 4) / stride) {
    Damaged(FileOffset(offset), "subkey list announces more entries than its cell holds");
    count = (list.size - 4) / stride;
  }
  for (uint32_t i = 0; i < count && !Stopped(); ++i) {
    const char* entry = list.data + 4 + stride * i;
    if (sig == "ri") {
      CollectSubkeyEntries(Get32(entry), false, out);
    } else {
      out->push_back(ListEntry{Get32(entry), stride == 8 ? Get32(entry + 4) : 0, sig[1]});
    }
  }
}

// Windows keeps subkeys ordered by upper-cased name; a damaged hive may not, and may name two
// subkeys alike. The tree needs both invariants, so restore them here.
void HiveReader::SortAndDeduplicate(Key* key) {
  auto& subs = key->subkeys_;
  auto less = [](const std::unique_ptr<Key>& a, const std::unique_ptr<Key>& b) {
    return CompareNames(a->name_, b->name_) < 0;
  };
  if (!std::is_sorted(subs.begin(), subs.end(), less)) {
    if (options_.check_structure)
      Note(0, "subkeys of '" + ToUtf8(key->path()) + "' are out of order");
    std::stable_sort(subs.begin(), subs.end(), less);
  }
  for (size_t i = 1; i < subs.size();) {
    if (NamesEqual(subs[i - 1]->name_, subs[i]->name_)) {
      Damaged(0, "key '" + ToUtf8(key->path()) + "' has two subkeys named '" +
                     subs[i]->name_utf8() + "'");
      subs.erase(subs.begin() + static_cast<ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Structure checks: flaws that lose nothing but that Windows would mend when it loads the hive.

void HiveReader::Note(uint64_t file_offset, std::string reason) {
  hive_->anomalies_.push_back(Damage{file_offset, std::move(reason)});
}

void HiveReader::CheckListEntry(const ListEntry& entry, const Key& child) {
  bool ok = true;
  if (entry.kind == 'h') ok = entry.check == NameHash(child.name_);
  if (entry.kind == 'f') {
    // The hint holds the first characters as stored; Windows compares it without regard to case.
    for (size_t i = 0; i < 4 && ok; ++i) {
      auto hint = static_cast<char16_t>((entry.check >> (8 * i)) & 0xFF);
      char16_t want = i < child.name_.size() && child.name_[i] <= 0xFF ? child.name_[i] : 0;
      ok = hint == 0 || WinUpcase(hint) == WinUpcase(want);
    }
  }
  if (!ok) {
    Note(FileOffset(entry.offset),
         "subkey list entry of '" + ToUtf8(child.path()) + "' has a wrong name hash");
  }
}

void HiveReader::CheckMaximumLengths(const Cell& nk, const Key& key) {
  uint32_t subkey_name = 0, subkey_class = 0, value_name = 0, value_data = 0;
  for (const auto& sub : key.subkeys_) {
    subkey_name = std::max<uint32_t>(subkey_name, sub->name_.size() * 2);
    subkey_class = std::max<uint32_t>(subkey_class, sub->class_name().size());
  }
  for (const Value& value : key.values_) {
    value_name = std::max<uint32_t>(value_name, value.name.size() * 2);
    value_data = std::max<uint32_t>(value_data, value.data.size());
  }
  // Windows sizes its buffers from these fields; they may be too large, never too small.
  bool ok = (Get32(nk.data + kNkMaxSubkeyName) & 0xFFFF) >= subkey_name &&
            Get32(nk.data + kNkMaxSubkeyClass) >= subkey_class &&
            Get32(nk.data + kNkMaxValueName) >= value_name &&
            Get32(nk.data + kNkMaxValueData) >= value_data;
  if (!ok) {
    Note(FileOffset(nk.offset),
         "key '" + ToUtf8(key.path()) + "' records smaller maximum lengths than it holds");
  }
}

void HiveReader::CheckSecurityReferences() {
  for (const auto& [offset, uses] : security_uses_) {
    uint32_t stored = Get32(image_.data() + kBaseBlockSize + offset + 4 + kSkRefCount);
    if (stored != uses) {
      Note(FileOffset(offset), "security record is used by " + std::to_string(uses) +
                                   " keys but counts " + std::to_string(stored));
    }
  }
}

void HiveReader::CheckUnusedCells() {
  uint64_t count = 0, bytes = 0;
  uint32_t first = 0;
  for (uint32_t cell : allocated_cells_) {
    if (used_[cell / 8]) continue;
    if (count++ == 0) first = cell;
    bytes +=
        static_cast<uint32_t>(-static_cast<int32_t>(Get32(image_.data() + kBaseBlockSize + cell)));
  }
  if (count > 0) {
    Note(FileOffset(first), std::to_string(count) + " allocated cells (" + std::to_string(bytes) +
                                " bytes) are used by nothing; the first is here");
  }
}

}  // namespace hm::hive
