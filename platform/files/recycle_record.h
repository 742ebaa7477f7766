// The $I records of the Windows recycle bin (Windows Vista and later).
//
// An item recycled from drive X: is renamed to X:\$Recycle.Bin\<SID>\$R<6 characters><ext>;
// beside it, $I<same 6 characters><ext> records where it came from. Little-endian throughout:
//
//   version 1 (Vista to 8.1): 8 bytes version (1), 8 bytes size, 8 bytes deletion time
//                             (FILETIME, UTC), 520 bytes original path in UTF-16, NUL-padded
//                             (at most 259 characters);
//   version 2 (Windows 10):   8 bytes version (2), 8 bytes size, 8 bytes deletion time, 4 bytes
//                             path length in characters including the NUL, the path in UTF-16
//                             with its NUL.
//
// The size is the file's size, or the sum of the sizes of a folder's files. Stateless:
// thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hm::files {

struct RecycleRecord {
  uint32_t version = 2;
  uint64_t size = 0;
  uint64_t deletion_time = 0;  // FILETIME: 100-ns intervals since 1601-01-01 UTC
  std::u16string original_path;
};

// The bytes of a $I record. ERROR_FILENAME_EXCED_RANGE when a version 1 record cannot hold the
// path; ERROR_INVALID_PARAMETER for a version other than 1 and 2.
Result<std::string> EncodeRecycleRecord(const RecycleRecord& record);
// Reads a $I record; ERROR_INVALID_DATA with the reason when it is damaged.
Result<RecycleRecord> DecodeRecycleRecord(std::string_view bytes);

// The current time as a FILETIME.
uint64_t FileTimeNow();

}  // namespace hm::files
