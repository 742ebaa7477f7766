// libFuzzer target of transaction-log recovery. Each input is a log file (either format) for a
// small hive that was not cleanly closed; whatever the log holds, recovery must not crash, and
// what it produces is read like any hive: strictly, and in salvage mode when that fails.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/hive/format.h"
#include "platform/hive/hive.h"
#include "platform/hive/hive_log.h"

namespace {

using namespace hm::hive;

// A small hive whose base block says a write was under way when it was last closed.
const std::string& DirtyPrimary() {
  static const std::string image = [] {
    auto hive = Hive::CreateEmpty(5);
    for (int i = 0; i < 30; ++i) {
      auto key = hive->root().CreateSubkey(FromUtf8("key" + std::to_string(i)));
      if (key.ok()) (void)key.value()->SetValue(u"v", kRegDword, std::string(4, char(i)));
    }
    std::string bytes = hive->Serialize();
    format::Put32(bytes.data() + format::kBbSequence1, 7);
    format::Put32(bytes.data() + format::kBbSequence2, 6);
    format::Put32(bytes.data() + format::kBbChecksum, format::BaseBlockChecksum(bytes.data()));
    return bytes;
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string image = DirtyPrimary();
  std::string_view log(reinterpret_cast<const char*>(data), size);
  LogRecovery recovery = RecoverFromLogs(&image, {LogFile{"fuzz.LOG1", log}});
  if (recovery.applied()) {
    auto strict = Hive::Parse(image, {.check_structure = true}, "recovered");
    if (!strict.ok()) (void)Hive::Parse(image, {.salvage = true}, "recovered");
  }
  return 0;
}
