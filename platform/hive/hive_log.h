// Recovery of a hive that Windows did not close cleanly, from its transaction logs, the way
// Windows does it when it loads the hive. Internal to the hive engine; stateless: thread-safe.
//
// Both log formats are read: the one of Windows 8.1 and later (a base block followed by "HvLE"
// log entries, each with its own sequence number and two Marvin32 hashes) and the older one (a
// base block, a "DIRT" bitmap of dirty 512-byte pages, then the pages). Every hash and checksum
// is checked; application stops at the first entry that does not verify. Nothing is written to
// disk here: the logs are applied to a copy of the primary file in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hm::hive {

// One transaction log as found beside the hive.
struct LogFile {
  std::string name;  // file name, for reports ("SYSTEM.LOG1")
  std::string_view bytes;
};

// What recovery did, for the user and for tests.
struct LogRecovery {
  std::vector<std::string> logs_used;  // in the order they were applied
  uint32_t entries = 0;                // log entries applied (new format)
  uint32_t pages = 0;                  // dirty pages written into the image
  uint32_t sequence = 0;               // sequence number of the recovered hive
  // Why application stopped before the end of a log ("SYSTEM.LOG2: entry at offset 0x3000:
  // hash does not match"), or why a log was not used; empty when nothing was left out.
  std::vector<std::string> notes;
  bool applied() const { return pages > 0 || entries > 0; }
};

// Applies `logs` to `image`, a copy of the whole primary file whose base block says it was not
// cleanly closed. On return the image is the recovered hive (sequence numbers equal, checksum
// right) when recovery.applied(); otherwise it is unchanged.
LogRecovery RecoverFromLogs(std::string* image, const std::vector<LogFile>& logs);

// The Marvin32 hash with the seed Windows uses for log entries.
uint64_t LogEntryHash(std::string_view bytes);

}  // namespace hm::hive
