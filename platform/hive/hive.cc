// The tree side of the hive engine: keys, values, lookups and changes. Reading lives in
// hive_reader.cc, the file layout in hive_writer.cc.
#include "platform/hive/hive.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/file_io.h"
#include "platform/hive/format.h"
#include "platform/hive/upcase.h"

namespace hm::hive {

namespace {

// Below this many subkeys a linear scan is cheaper than keeping a hash index.
constexpr size_t kIndexThreshold = 16;
// Largest value data the writer can lay out (65,535 big-data segments).
constexpr size_t kMaxValueData = size_t{0xFFFF} * format::kBigDataSegmentSize;

std::string Narrow(std::u16string_view name) {
  return ToUtf8(name);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Key

const std::string& Key::class_name() const {
  static const std::string none;
  return class_name_ != nullptr ? *class_name_ : none;
}

std::string Key::name_utf8() const {
  return ToUtf8(name_);
}

std::u16string Key::path() const {
  std::vector<const Key*> chain;
  for (const Key* k = this; k->parent_ != nullptr; k = k->parent_) chain.push_back(k);
  std::u16string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!out.empty()) out += u'\\';
    out += (*it)->name_;
  }
  return out;
}

size_t Key::LowerBound(std::u16string_view name) const {
  auto it = std::lower_bound(subkeys_.begin(), subkeys_.end(), name,
                             [](const std::unique_ptr<Key>& k, std::u16string_view n) {
                               return CompareNames(k->name_, n) < 0;
                             });
  return static_cast<size_t>(it - subkeys_.begin());
}

Key* Key::FindSubkey(std::u16string_view name) const {
  if (index_ == nullptr) {
    for (const auto& k : subkeys_) {
      if (NamesEqual(k->name_, name)) return k.get();
    }
    return nullptr;
  }
  // Upper-case into a per-thread buffer: lookups run once per key of a walk and must not
  // allocate.
  thread_local std::u16string upcased;
  upcased.resize(name.size());
  for (size_t i = 0; i < name.size(); ++i) upcased[i] = WinUpcase(name[i]);
  auto it = index_->find(upcased);
  return it == index_->end() ? nullptr : it->second;
}

void Key::RecomputeSubkeyMaximum() {
  size_t longest = 0;
  for (const auto& k : subkeys_) longest = std::max(longest, k->name_.size());
  max_subkey_name_ = static_cast<uint32_t>(longest);
}

void Key::RecomputeValueMaxima() {
  size_t name = 0, data = 0;
  for (const Value& v : values_) {
    name = std::max(name, v.name.size());
    data = std::max(data, v.data.size());
  }
  max_value_name_ = static_cast<uint32_t>(name);
  max_value_data_ = static_cast<uint32_t>(data);
}

void Key::UpdateIndex() {
  if (subkeys_.size() < kIndexThreshold) {
    index_.reset();
    return;
  }
  if (index_ != nullptr) return;
  index_ = std::make_unique<std::unordered_map<std::u16string, Key*>>();
  index_->reserve(subkeys_.size());
  for (const auto& k : subkeys_) index_->emplace(WinUpcase(k->name_), k.get());
}

const Value* Key::FindValue(std::u16string_view name) const {
  for (const Value& v : values_) {
    if (NamesEqual(v.name, name)) return &v;
  }
  return nullptr;
}

Value* Key::FindValueMutable(std::u16string_view name) {
  return const_cast<Value*>(FindValue(name));
}

Status Key::CheckWritable() const {
  if (hive_->read_only_) {
    return Status::Error(kErrorAccessDenied,
                         "hive is read-only (" + hive_->read_only_reason_ + ")");
  }
  return Status::Ok();
}

void Key::Touch() {
  last_write_ = FileTimeNow();
  hive_->modified_ = true;
}

Result<Key*> Key::CreateSubkey(std::u16string_view name, bool* created) {
  if (created != nullptr) *created = false;
  if (name.empty() || name.size() > kMaxKeyNameLength ||
      name.find(u'\\') != std::u16string_view::npos) {
    return Status::Error(kErrorInvalidParameter, "invalid key name '" + Narrow(name) + "'");
  }
  if (Key* existing = FindSubkey(name)) return existing;
  HM_RETURN_IF_ERROR(CheckWritable());
  int depth = 0;
  for (const Key* k = this; k->parent_ != nullptr; k = k->parent_) ++depth;
  if (depth + 1 > kMaxKeyDepth) {
    return Status::Error(kErrorInvalidParameter, "key nesting deeper than Windows allows");
  }
  auto key = std::unique_ptr<Key>(new Key(hive_, this, std::u16string(name)));
  key->security_ = security_;
  key->last_write_ = FileTimeNow();
  Key* raw = key.get();
  subkeys_.insert(subkeys_.begin() + static_cast<ptrdiff_t>(LowerBound(name)), std::move(key));
  if (index_ != nullptr) index_->emplace(WinUpcase(name), raw);
  UpdateIndex();
  max_subkey_name_ = std::max(max_subkey_name_, static_cast<uint32_t>(name.size()));
  Touch();
  if (created != nullptr) *created = true;
  return raw;
}

Status Key::DeleteSubkey(std::u16string_view name) {
  Key* victim = FindSubkey(name);
  if (victim == nullptr) {
    return Status::Error(kErrorFileNotFound, "key '" + Narrow(name) + "'");
  }
  HM_RETURN_IF_ERROR(CheckWritable());
  if (index_ != nullptr) index_->erase(WinUpcase(victim->name_));
  auto it = std::find_if(subkeys_.begin(), subkeys_.end(),
                         [victim](const std::unique_ptr<Key>& k) { return k.get() == victim; });
  subkeys_.erase(it);
  UpdateIndex();
  RecomputeSubkeyMaximum();
  Touch();
  return Status::Ok();
}

Status Key::SetValue(std::u16string_view name, uint32_t type, std::string_view data) {
  HM_RETURN_IF_ERROR(CheckWritable());
  if (name.size() > kMaxValueNameLength) {
    return Status::Error(kErrorInvalidParameter, "value name longer than Windows allows");
  }
  if (data.size() > kMaxValueData) {
    return Status::Error(kErrorInvalidParameter, "value data larger than a hive can hold");
  }
  if (Value* existing = FindValueMutable(name)) {
    existing->type = type;
    existing->data = ValueData(data);
  } else {
    values_.push_back(Value{std::u16string(name), type, 0, ValueData(data)});
  }
  RecomputeValueMaxima();
  Touch();
  return Status::Ok();
}

Status Key::DeleteValue(std::u16string_view name) {
  auto it = std::find_if(values_.begin(), values_.end(),
                         [name](const Value& v) { return NamesEqual(v.name, name); });
  if (it == values_.end()) {
    return Status::Error(kErrorFileNotFound, "value '" + Narrow(name) + "'");
  }
  HM_RETURN_IF_ERROR(CheckWritable());
  values_.erase(it);
  RecomputeValueMaxima();
  Touch();
  return Status::Ok();
}

Status Key::SetClassName(std::string class_name) {
  HM_RETURN_IF_ERROR(CheckWritable());
  class_name_ =
      class_name.empty() ? nullptr : std::make_unique<std::string>(std::move(class_name));
  Touch();
  return Status::Ok();
}

Status Key::SetSecurity(SecurityDescriptor descriptor) {
  HM_RETURN_IF_ERROR(CheckWritable());
  if (descriptor.size() < 20 || descriptor[0] != 1) {
    return Status::Error(kErrorInvalidParameter, "not a self-relative security descriptor");
  }
  security_ = hive_->InternSecurity(std::move(descriptor));
  hive_->modified_ = true;
  return Status::Ok();
}

Status Key::SetLastWriteTime(uint64_t filetime) {
  HM_RETURN_IF_ERROR(CheckWritable());
  last_write_ = filetime;
  hive_->modified_ = true;
  return Status::Ok();
}

// ---------------------------------------------------------------------------------------------
// Hive

Hive::~Hive() = default;

// True when the base block says Windows did not finish its last write: the sequence numbers
// differ or the checksum does not hold.
static bool NeedsRecovery(std::string_view image) {
  if (image.size() < format::kBaseBlockSize || image.substr(0, 4) != "regf") return false;
  const char* bb = image.data();
  return format::Get32(bb + format::kBbSequence1) != format::Get32(bb + format::kBbSequence2) ||
         format::BaseBlockChecksum(bb) != format::Get32(bb + format::kBbChecksum);
}

// The transaction logs of `file` (NAME.LOG1, NAME.LOG2, NAME.LOG), matched without regard to
// case as on the Windows disk they come from, LOG1 first.
static std::vector<std::filesystem::path> FindLogs(const std::filesystem::path& file) {
  std::vector<std::filesystem::path> logs;
  std::error_code ec;
  for (const char* suffix : {".LOG1", ".LOG2", ".LOG"}) {
    std::u16string wanted = FromUtf8(file.filename().string() + suffix);
    std::filesystem::directory_iterator it(file.parent_path().empty() ? "." : file.parent_path(),
                                           ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      if (NamesEqual(FromUtf8(it->path().filename().string()), wanted)) {
        logs.push_back(it->path());
        break;
      }
    }
  }
  return logs;
}

Result<std::unique_ptr<Hive>> Hive::Open(const std::filesystem::path& file,
                                         const OpenOptions& options) {
  auto image = FileImage::Read(file);
  if (!image.ok()) return image.status();
  Result<std::unique_ptr<Hive>> hive =
      options.recover_from_logs && NeedsRecovery(image->bytes())
          ? OpenWithLogs(file, std::move(image.value()), options)
          : ParseImage(std::move(image.value()), options, file.filename().string());
  if (hive.ok()) hive.value()->file_ = file;
  return hive;
}

// Replays the logs on a copy of the file in memory and keeps the result only when it reads back
// without damage and passes the structure check; otherwise the hive opens as it is on disk, and
// the notes say why the logs were not used.
Result<std::unique_ptr<Hive>> Hive::OpenWithLogs(const std::filesystem::path& file, FileImage image,
                                                 const OpenOptions& options) {
  std::string label = file.filename().string();
  std::vector<FileImage> log_images;
  std::vector<LogFile> logs;
  std::vector<std::string> found;
  std::vector<std::pair<std::filesystem::path, uint32_t>> paths;
  for (const auto& path : FindLogs(file)) {
    auto log = FileImage::Read(path);
    if (!log.ok()) continue;
    std::string_view head = log->bytes();
    paths.emplace_back(path, head.size() >= format::kSectorSize
                                 ? format::Get32(head.data() + format::kBbFileType)
                                 : 0);
    found.push_back(path.filename().string());
    log_images.push_back(std::move(log.value()));
    logs.push_back(LogFile{found.back(), log_images.back().bytes()});
  }
  std::string patched(image.bytes());
  LogRecovery recovery = RecoverFromLogs(&patched, logs);
  if (recovery.applied()) {
    OpenOptions strict = options;
    strict.salvage = false;
    strict.check_structure = true;
    auto recovered = ParseImage(FileImage::Copy(patched), strict, label);
    if (recovered.ok() && recovered.value()->anomalies().empty()) {
      Hive& hive = *recovered.value();
      hive.logs_found_ = found;
      hive.log_recovery_ = std::move(recovery);
      for (const auto& [path, type] : paths) {
        if (std::find(hive.log_recovery_.logs_used.begin(), hive.log_recovery_.logs_used.end(),
                      path.filename().string()) != hive.log_recovery_.logs_used.end()) {
          hive.logs_to_retire_.emplace_back(path, type);
        }
      }
      if (!options.check_structure) hive.anomalies_.clear();
      return recovered;
    }
    recovery.notes.push_back("the hive recovered from the logs does not verify (" +
                             (recovered.ok() ? recovered.value()->anomalies().front().reason
                                             : recovered.status().ToString()) +
                             "); the logs are not used");
  }
  auto hive = ParseImage(std::move(image), options, label);
  if (!hive.ok()) return hive;
  hive.value()->logs_found_ = std::move(found);
  hive.value()->log_recovery_ = std::move(recovery);
  if (hive.value()->logs_found_.empty()) {
    hive.value()->set_read_only(hive.value()->read_only_reason() +
                                "; no transaction logs were found beside it");
  } else if (!hive.value()->log_recovery_.applied()) {
    hive.value()->set_read_only(hive.value()->read_only_reason() +
                                "; its transaction logs hold nothing usable");
  }
  return hive;
}

Key* Hive::Find(std::u16string_view path) const {
  Key* key = root_.get();
  size_t start = 0;
  while (key != nullptr && start < path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) key = key->FindSubkey(path.substr(start, end - start));
    start = end + 1;
  }
  return key;
}

void Hive::set_read_only(std::string reason) {
  read_only_ = true;
  read_only_reason_ = std::move(reason);
}

static void CountTree(const Key& key, uint64_t* keys, uint64_t* values) {
  *keys += 1;
  *values += key.values().size();
  for (const auto& sub : key.subkeys()) CountTree(*sub, keys, values);
}

uint64_t Hive::CountKeys() const {
  uint64_t keys = 0, values = 0;
  CountTree(*root_, &keys, &values);
  return keys;
}

uint64_t Hive::CountValues() const {
  uint64_t keys = 0, values = 0;
  CountTree(*root_, &keys, &values);
  return values;
}

Status Hive::WriteTo(const std::filesystem::path& file) const {
  // A hive that Windows did not close cleanly may hold only part of its changes; written out it
  // would look clean and the rest, still in its logs, would be lost for good.
  if (!header_.clean()) {
    return Status::Error(kErrorAccessDenied, "hive is read-only (" + read_only_reason_ + ")");
  }
  return AtomicWriteFile(file, Serialize());
}

Status Hive::Save() {
  if (read_only_) {
    return Status::Error(kErrorAccessDenied, "hive is read-only (" + read_only_reason_ + ")");
  }
  if (file_.empty()) return Status::Error(kErrorInvalidParameter, "hive has no file to save to");
  // Read-only covers hives not cleanly closed, so WriteTo's guard holds here too.
  std::string image = Serialize();
  HM_RETURN_IF_ERROR(AtomicWriteFile(file_, image));
  base_block_ = image.substr(0, format::kBaseBlockSize);
  header_.sequence1 = format::Get32(base_block_.data() + format::kBbSequence1);
  header_.sequence2 = header_.sequence1;
  modified_ = false;
  return RetireLogs();
}

// Once the hive on disk is complete and clean, the logs it was recovered from must not be
// replayed over it again. Each is replaced by a bare log: the new base block marked as a log of
// its format, with no entries (a new-format log) or no applicable dirty vector (an old-format
// log carries the new last-written time only in a complete base block, so its vector is dropped
// too). The hive is written first: a crash in between leaves a clean hive whose sequence numbers
// are newer than every entry in the old logs, which Windows then ignores.
Status Hive::RetireLogs() {
  for (const auto& [path, type] : logs_to_retire_) {
    std::string log = base_block_.substr(0, format::kSectorSize);
    format::Put32(log.data() + format::kBbFileType, type);
    format::Put32(log.data() + format::kBbChecksum, format::BaseBlockChecksum(log.data()));
    Status written = AtomicWriteFile(path, log);
    if (!written.ok()) {
      return Status::Error(written.code(), "the hive was saved, but its transaction log '" +
                                               path.filename().string() +
                                               "' could not be reset: " + written.context());
    }
  }
  logs_to_retire_.clear();
  return Status::Ok();
}

void Hive::PackValueData(std::string_view image) {
  const char* const begin = image.data();
  const char* const end = begin + image.size();
  auto in_image = [&](const ValueData& data) {
    return data.is_view() && data.data() >= begin && data.data() + data.size() <= end;
  };
  std::vector<ValueData*> views;
  size_t total = 0;
  std::vector<Key*> pending{root_.get()};
  while (!pending.empty()) {
    Key* key = pending.back();
    pending.pop_back();
    for (Value& value : key->values_) {
      if (!in_image(value.data)) continue;
      views.push_back(&value.data);
      total += value.data.size();
    }
    for (const auto& sub : key->subkeys_) pending.push_back(sub.get());
  }
  if (total == 0) return;
  value_bytes_ = std::make_unique_for_overwrite<char[]>(total);
  char* next = value_bytes_.get();
  for (ValueData* data : views) {
    const size_t size = data->size();
    std::memcpy(next, data->data(), size);
    *data = ValueData::ViewOf(std::string_view(next, size));
    next += size;
  }
}

SecurityRef Hive::InternSecurity(SecurityDescriptor descriptor) {
  auto& slot = security_pool_[descriptor];
  if (SecurityRef shared = slot.lock()) return shared;
  auto made = std::make_shared<const SecurityDescriptor>(std::move(descriptor));
  slot = made;
  return made;
}

// ---------------------------------------------------------------------------------------------
// Free functions

uint64_t FileTimeNow() {
  using namespace std::chrono;
  // FILETIME counts 100 ns intervals since 1601-01-01; the Unix epoch is 11644473600 s later.
  auto since_epoch = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<uint64_t>(since_epoch / 100) + 116444736000000000ULL;
}

}  // namespace hm::hive
