// Constants and little-endian accessors of the regf file format (docs/hive-format.md).
// Internal to the hive engine. Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace hm::hive::format {

inline constexpr uint32_t kBaseBlockSize = 4096;
// A log file starts with the first sector of the base block.
inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint32_t kBinAlignment = 4096;
inline constexpr uint32_t kBinHeaderSize = 32;
inline constexpr uint32_t kNilCell = 0xFFFFFFFF;
// Data above this size is kept in a big-data record ("db") from format 1.4 on.
inline constexpr uint32_t kBigDataThreshold = 16344;
inline constexpr uint32_t kBigDataSegmentSize = 16344;
// Data of this size or less lives in the value record itself.
inline constexpr uint32_t kInlineDataMax = 4;
inline constexpr uint32_t kInlineDataFlag = 0x80000000;
inline constexpr uint16_t kValueCompressedName = 0x0001;

// Offsets in the base block.
inline constexpr size_t kBbSignature = 0x00;
inline constexpr size_t kBbSequence1 = 0x04;
inline constexpr size_t kBbSequence2 = 0x08;
inline constexpr size_t kBbTimestamp = 0x0C;
inline constexpr size_t kBbMajor = 0x14;
inline constexpr size_t kBbMinor = 0x18;
inline constexpr size_t kBbFileType = 0x1C;
inline constexpr size_t kBbFileFormat = 0x20;
inline constexpr size_t kBbRootCell = 0x24;
inline constexpr size_t kBbBinsSize = 0x28;
inline constexpr size_t kBbClustering = 0x2C;
inline constexpr size_t kBbFileName = 0x30;
inline constexpr size_t kBbFileNameSize = 64;
inline constexpr size_t kBbFlags = 0x90;
inline constexpr size_t kBbChecksum = 0x1FC;

// Offsets in a key node ("nk"), counted from the start of the cell's payload.
inline constexpr size_t kNkFlags = 0x02;
inline constexpr size_t kNkTimestamp = 0x04;
inline constexpr size_t kNkAccessBits = 0x0C;
inline constexpr size_t kNkParent = 0x10;
inline constexpr size_t kNkSubkeyCount = 0x14;
inline constexpr size_t kNkVolatileSubkeyCount = 0x18;
inline constexpr size_t kNkSubkeyList = 0x1C;
inline constexpr size_t kNkVolatileSubkeyList = 0x20;
inline constexpr size_t kNkValueCount = 0x24;
inline constexpr size_t kNkValueList = 0x28;
inline constexpr size_t kNkSecurity = 0x2C;
inline constexpr size_t kNkClass = 0x30;
inline constexpr size_t kNkMaxSubkeyName = 0x34;  // low 16 bits; user/virtualization flags above
inline constexpr size_t kNkMaxSubkeyClass = 0x38;
inline constexpr size_t kNkMaxValueName = 0x3C;
inline constexpr size_t kNkMaxValueData = 0x40;
inline constexpr size_t kNkWorkVar = 0x44;
inline constexpr size_t kNkNameLength = 0x48;
inline constexpr size_t kNkClassLength = 0x4A;
inline constexpr size_t kNkName = 0x4C;

// Offsets in a value record ("vk").
inline constexpr size_t kVkNameLength = 0x02;
inline constexpr size_t kVkDataSize = 0x04;
inline constexpr size_t kVkDataOffset = 0x08;
inline constexpr size_t kVkType = 0x0C;
inline constexpr size_t kVkFlags = 0x10;
inline constexpr size_t kVkName = 0x14;

// Offsets in a security record ("sk").
inline constexpr size_t kSkFlink = 0x04;
inline constexpr size_t kSkBlink = 0x08;
inline constexpr size_t kSkRefCount = 0x0C;
inline constexpr size_t kSkDescriptorSize = 0x10;
inline constexpr size_t kSkDescriptor = 0x14;

inline uint16_t Get16(const char* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t Get32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t Get64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Put16(char* p, uint16_t v) {
  std::memcpy(p, &v, 2);
}
inline void Put32(char* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}
inline void Put64(char* p, uint64_t v) {
  std::memcpy(p, &v, 8);
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the hive engine assumes a little-endian host");

// XOR of the first 127 double words, with 0 and -1 mapped as Windows maps them.
inline uint32_t BaseBlockChecksum(const char* block) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kBbChecksum; i += 4) sum ^= Get32(block + i);
  if (sum == 0xFFFFFFFF) return 0xFFFFFFFE;
  if (sum == 0) return 1;
  return sum;
}

}  // namespace hm::hive::format
