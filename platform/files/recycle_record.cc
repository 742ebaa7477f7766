#include "platform/files/recycle_record.h"

#include <chrono>

namespace hm::files {
namespace {

constexpr size_t kHeaderSize = 24;
constexpr size_t kVersion1PathBytes = 520;  // MAX_PATH UTF-16 code units
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 11644473600ull;

void PutLittleEndian(uint64_t value, int bytes, std::string* out) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t GetLittleEndian(std::string_view bytes, size_t offset, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
  }
  return value;
}

void PutUtf16(std::u16string_view text, std::string* out) {
  for (char16_t unit : text) PutLittleEndian(unit, 2, out);
}

std::u16string GetUtf16(std::string_view bytes, size_t offset, size_t units) {
  std::u16string text;
  for (size_t i = 0; i < units; ++i) {
    char16_t unit = static_cast<char16_t>(GetLittleEndian(bytes, offset + 2 * i, 2));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

Status Damaged(const std::string& why) {
  return Status::Error(kErrorInvalidData, "$I record: " + why);
}

}  // namespace

Result<std::string> EncodeRecycleRecord(const RecycleRecord& record) {
  if (record.version != 1 && record.version != 2) {
    return Status::Error(kErrorInvalidParameter,
                         "$I record version " + std::to_string(record.version));
  }
  std::string out;
  PutLittleEndian(record.version, 8, &out);
  PutLittleEndian(record.size, 8, &out);
  PutLittleEndian(record.deletion_time, 8, &out);
  if (record.version == 1) {
    if ((record.original_path.size() + 1) * 2 > kVersion1PathBytes) {
      return Status::Error(
          kErrorFilenameExcedRange,
          "$I record of a path of " + std::to_string(record.original_path.size()) + " characters");
    }
    PutUtf16(record.original_path, &out);
    out.resize(kHeaderSize + kVersion1PathBytes, '\0');
    return out;
  }
  PutLittleEndian(record.original_path.size() + 1, 4, &out);
  PutUtf16(record.original_path, &out);
  PutLittleEndian(0, 2, &out);
  return out;
}

Result<RecycleRecord> DecodeRecycleRecord(std::string_view bytes) {
  if (bytes.size() < kHeaderSize) return Damaged("shorter than its header");
  RecycleRecord record;
  const uint64_t version = GetLittleEndian(bytes, 0, 8);
  record.size = GetLittleEndian(bytes, 8, 8);
  record.deletion_time = GetLittleEndian(bytes, 16, 8);
  if (version == 1) {
    if (bytes.size() < kHeaderSize + kVersion1PathBytes) return Damaged("path field cut short");
    record.version = 1;
    record.original_path = GetUtf16(bytes, kHeaderSize, kVersion1PathBytes / 2);
    return record;
  }
  if (version != 2) return Damaged("unknown version " + std::to_string(version));
  if (bytes.size() < kHeaderSize + 4) return Damaged("path length missing");
  const uint64_t units = GetLittleEndian(bytes, kHeaderSize, 4);
  if (units == 0 || (bytes.size() - kHeaderSize - 4) / 2 < units) {
    return Damaged("path length " + std::to_string(units) + " beyond the end");
  }
  record.version = 2;
  record.original_path = GetUtf16(bytes, kHeaderSize + 4, units);
  return record;
}

uint64_t FileTimeNow() {
  using namespace std::chrono;
  const uint64_t unix_100ns =
      duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
  return unix_100ns + kFileTimeUnixEpoch * 10'000'000ull;
}

}  // namespace hm::files
