// Fuzz target for the exclusion lists' readers: the input is taken as an ignore file, as a
// compressed resource (with and without the "ZP" mark) and as the permanent list, and the
// entries that come out are put through the lookup that a scan builds from them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scanner/exclusions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hm::scan;  // NOLINT: a fuzz driver
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> entries = ParseIgnoreFile(input);
  (void)InflateResource(input);
  (void)InflateResource("ZP" + std::string(input));
  auto permanent = ParsePermanentIgnores("ZP" + std::string(input));
  if (permanent.ok()) entries.insert(entries.end(), permanent->begin(), permanent->end());

  const IgnoreLookup lookup(entries);
  for (const std::string& entry : entries) {
    (void)lookup.IsIgnored(hm::reg::HKEY_LOCAL_MACHINE, entry, entry);
    (void)PassesWordFilter(entry);
  }
  return 0;
}
