#include "platform/hive/hive_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/hive/format.h"

namespace hm::hive {

using namespace format;

namespace {

constexpr uint64_t kMarvinSeed = 0x82EF4D887A4E55C5ULL;
constexpr size_t kSector = 512;
constexpr size_t kEntryHeader = 40;
constexpr uint32_t kNewLogType = 6;
constexpr uint32_t kOldLogType = 1;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// A fuzzer cannot forge the hashes; let its entries through so the code behind them is reached.
constexpr bool kVerifyHashes = false;
#else
constexpr bool kVerifyHashes = true;
#endif

std::string Hex(uint64_t v) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(v));
  return buffer;
}

// A log's base block is a copy of the first sector of the primary's, marked as a log; it counts
// only when its checksum holds and both sequence numbers agree (the log was written completely).
bool LogBaseBlockValid(std::string_view log, uint32_t type) {
  if (log.size() < kSector || log.substr(0, 4) != "regf") return false;
  return Get32(log.data() + kBbFileType) == type &&
         BaseBlockChecksum(log.data()) == Get32(log.data() + kBbChecksum) &&
         Get32(log.data() + kBbSequence1) == Get32(log.data() + kBbSequence2);
}

void FinishBaseBlock(std::string* image, uint32_t sequence, uint32_t bins_size) {
  char* bb = image->data();
  Put32(bb + kBbFileType, 0);
  Put32(bb + kBbSequence1, sequence);
  Put32(bb + kBbSequence2, sequence);
  Put32(bb + kBbBinsSize, bins_size);
  Put32(bb + kBbChecksum, BaseBlockChecksum(bb));
}

// ---------------------------------------------------------------------------------------------
// New format: log entries

struct PageRef {
  uint32_t offset;  // within the hive bins
  uint32_t size;
  const char* data;
};

struct Entry {
  uint32_t sequence;
  uint32_t bins_size;
  std::vector<PageRef> pages;
};

// Reads one entry at `pos`; false (with the reason) when it does not verify.
bool ReadEntry(std::string_view log, size_t pos, Entry* entry, std::string* why) {
  const char* e = log.data() + pos;
  uint32_t size = Get32(e + 4);
  if (size < kEntryHeader || size % kSector != 0 || size > log.size() - pos) {
    *why = "entry size " + std::to_string(size) + " is not valid";
    return false;
  }
  if (kVerifyHashes &&
      (LogEntryHash(std::string_view(e, 32)) != Get64(e + 32) ||
       LogEntryHash(std::string_view(e + kEntryHeader, size - kEntryHeader)) != Get64(e + 24))) {
    *why = "hash does not match";
    return false;
  }
  entry->sequence = Get32(e + 12);
  entry->bins_size = Get32(e + 16);
  uint32_t count = Get32(e + 20);
  if (entry->bins_size == 0 || entry->bins_size % kBinAlignment != 0 ||
      count > (size - kEntryHeader) / 8) {
    *why = "entry header is not valid";
    return false;
  }
  const char* data = e + kEntryHeader + 8 * size_t{count};
  const char* end = e + size;
  for (uint32_t i = 0; i < count; ++i) {
    PageRef page{Get32(e + kEntryHeader + 8 * i), Get32(e + kEntryHeader + 8 * i + 4), data};
    if (page.size > static_cast<size_t>(end - data) || page.offset > entry->bins_size ||
        page.size > entry->bins_size - page.offset) {
      *why = "dirty page " + std::to_string(i) + " lies outside the entry or the hive";
      return false;
    }
    entry->pages.push_back(page);
    data += page.size;
  }
  return true;
}

// The entries of one log that are newer than the primary file, up to the first that does not
// verify. Entries older than the primary were applied before and are skipped.
std::vector<Entry> ReadEntries(const LogFile& log, uint32_t first_wanted, LogRecovery* recovery) {
  std::vector<Entry> entries;
  size_t pos = kSector;
  while (pos + kEntryHeader <= log.bytes.size() && log.bytes.substr(pos, 4) == "HvLE") {
    Entry entry;
    std::string why;
    if (!ReadEntry(log.bytes, pos, &entry, &why)) {
      recovery->notes.push_back(log.name + ": entry at offset " + Hex(pos) + ": " + why +
                                "; recovery stops before it");
      break;
    }
    if (entry.sequence >= first_wanted) entries.push_back(std::move(entry));
    pos += Get32(log.bytes.data() + pos + 4);
  }
  return entries;
}

void ApplyEntry(const Entry& entry, std::string* image) {
  image->resize(kBaseBlockSize + size_t{entry.bins_size}, '\0');
  for (const PageRef& page : entry.pages) {
    std::memcpy(image->data() + kBaseBlockSize + page.offset, page.data, page.size);
  }
}

bool RecoverNewFormat(std::string* image, const std::vector<LogFile>& logs, LogRecovery* recovery) {
  uint32_t primary_sequence = Get32(image->data() + kBbSequence1);
  struct Usable {
    const LogFile* log;
    std::vector<Entry> entries;
  };
  std::vector<Usable> usable;
  for (const LogFile& log : logs) {
    if (!LogBaseBlockValid(log.bytes, kNewLogType)) continue;
    auto entries = ReadEntries(log, primary_sequence, recovery);
    if (!entries.empty()) usable.push_back({&log, std::move(entries)});
  }
  if (usable.empty()) return false;
  // The log holding the older entries goes first; between them the numbers must run on.
  std::stable_sort(usable.begin(), usable.end(), [](const Usable& a, const Usable& b) {
    return a.entries.front().sequence < b.entries.front().sequence;
  });
  std::string recovered = *image;
  const Entry* last = nullptr;
  for (const Usable& u : usable) {
    uint32_t applied_here = 0;
    for (const Entry& entry : u.entries) {
      if (last != nullptr && entry.sequence != last->sequence + 1) {
        recovery->notes.push_back(u.log->name + ": entry " + std::to_string(entry.sequence) +
                                  " does not follow entry " + std::to_string(last->sequence) +
                                  "; recovery stops before it");
        break;
      }
      ApplyEntry(entry, &recovered);
      recovery->entries += 1;
      recovery->pages += static_cast<uint32_t>(entry.pages.size());
      last = &entry;
      ++applied_here;
    }
    if (applied_here > 0) recovery->logs_used.push_back(u.log->name);
    if (applied_here < u.entries.size()) break;  // stopped inside this log
  }
  // A primary base block that does not verify is replaced by the log's copy of it.
  if (BaseBlockChecksum(recovered.data()) != Get32(recovered.data() + kBbChecksum)) {
    std::memcpy(recovered.data(), usable.front().log->bytes.data(), kSector);
  }
  recovery->sequence = last->sequence;
  FinishBaseBlock(&recovered, last->sequence, last->bins_size);
  *image = std::move(recovered);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Old format: a dirty vector

bool RecoverOldFormat(std::string* image, const std::vector<LogFile>& logs, LogRecovery* recovery) {
  uint64_t primary_time = Get64(image->data() + kBbTimestamp);
  for (const LogFile& log : logs) {
    std::string_view bytes = log.bytes;
    if (!LogBaseBlockValid(bytes, kOldLogType)) continue;
    // A log belongs to the state of the primary it was written for: same last-written time.
    if (Get64(bytes.data() + kBbTimestamp) != primary_time) {
      recovery->notes.push_back(log.name + ": written for another state of the hive; not used");
      continue;
    }
    uint32_t bins_size = Get32(bytes.data() + kBbBinsSize);
    size_t bitmap_bytes = bins_size / kSector / 8;
    if (bins_size % kBinAlignment != 0 || bytes.size() < kSector + 4 + bitmap_bytes ||
        bytes.substr(kSector, 4) != "DIRT") {
      recovery->notes.push_back(log.name + ": no valid dirty vector; not used");
      continue;
    }
    const char* bitmap = bytes.data() + kSector + 4;
    size_t pages_start = (kSector + 4 + bitmap_bytes + kSector - 1) / kSector * kSector;
    std::string recovered = *image;
    recovered.resize(kBaseBlockSize + size_t{bins_size}, '\0');
    size_t next = pages_start;
    bool complete = true;
    for (size_t bit = 0; bit < bitmap_bytes * 8; ++bit) {
      if (((static_cast<unsigned char>(bitmap[bit / 8]) >> (bit % 8)) & 1) == 0) continue;
      if (next + kSector > bytes.size()) {
        recovery->notes.push_back(log.name + ": dirty pages end early; not used");
        complete = false;
        break;
      }
      std::memcpy(recovered.data() + kBaseBlockSize + bit * kSector, bytes.data() + next, kSector);
      next += kSector;
      recovery->pages += 1;
    }
    if (!complete) {
      recovery->pages = 0;
      continue;
    }
    std::memcpy(recovered.data(), bytes.data(), kSector);
    uint32_t sequence = Get32(bytes.data() + kBbSequence1);
    FinishBaseBlock(&recovered, sequence, bins_size);
    recovery->logs_used.push_back(log.name);
    recovery->sequence = sequence;
    *image = std::move(recovered);
    return true;
  }
  return false;
}

}  // namespace

uint64_t LogEntryHash(std::string_view bytes) {
  auto rotl = [](uint32_t v, int n) { return (v << n) | (v >> (32 - n)); };
  uint32_t lo = static_cast<uint32_t>(kMarvinSeed);
  uint32_t hi = static_cast<uint32_t>(kMarvinSeed >> 32);
  auto mix = [&] {
    hi ^= lo;
    lo = rotl(lo, 20);
    lo += hi;
    hi = rotl(hi, 9);
    hi ^= lo;
    lo = rotl(lo, 27);
    lo += hi;
    hi = rotl(hi, 19);
  };
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  for (; n >= 4; p += 4, n -= 4) {
    lo += Get32(reinterpret_cast<const char*>(p));
    mix();
  }
  // The tail of 0 to 3 bytes, closed by a 0x80 byte.
  uint32_t tail = 0x80;
  for (size_t i = n; i-- > 0;) tail = (tail << 8) | p[i];
  lo += tail;
  mix();
  mix();
  return (uint64_t{hi} << 32) | lo;
}

LogRecovery RecoverFromLogs(std::string* image, const std::vector<LogFile>& logs) {
  LogRecovery recovery;
  if (image->size() < kBaseBlockSize) return recovery;
  if (!RecoverNewFormat(image, logs, &recovery)) RecoverOldFormat(image, logs, &recovery);
  return recovery;
}

}  // namespace hm::hive
