// libFuzzer target of the hive reader and writer. Each input is parsed strictly and in salvage
// mode; a hive that opens is walked, laid out anew, and the new image must parse strictly into the
// same tree. Anything else (a crash, a sanitizer report, a rewrite that fails) is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/hive/hive.h"

namespace {

using hm::hive::Hive;
using hm::hive::Key;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "hive_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

// Touches every name and data byte so the sanitizers see each read.
size_t Walk(const Key& key) {
  size_t sum = key.name().size() + key.class_name().size() + key.path().size();
  for (const auto& v : key.values()) {
    sum += v.name.size() + v.type;
    for (char c : v.data) sum += static_cast<unsigned char>(c);
  }
  for (const auto& sub : key.subkeys()) sum += Walk(*sub);
  return sum;
}

void ExpectSame(const Key& a, const Key& b) {
  if (a.name() != b.name()) Fail("rewrite renamed a key", a.name_utf8() + " / " + b.name_utf8());
  const std::string where = hm::hive::ToUtf8(a.path());
  if (a.class_name() != b.class_name() || a.flags() != b.flags() ||
      a.last_write_time() != b.last_write_time() || a.values().size() != b.values().size() ||
      a.subkeys().size() != b.subkeys().size()) {
    Fail("rewrite changed a key", where);
  }
  // A key whose security record was damaged has none; the rewrite gives it one.
  if (a.security() != nullptr && (b.security() == nullptr || *a.security() != *b.security())) {
    Fail("rewrite changed the security of", where);
  }
  for (size_t i = 0; i < a.values().size(); ++i) {
    const auto& x = a.values()[i];
    const auto& y = b.values()[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data || x.flags != y.flags) {
      Fail("rewrite changed a value of", where);
    }
  }
  for (size_t i = 0; i < a.subkeys().size(); ++i) ExpectSame(*a.subkeys()[i], *b.subkeys()[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view image(reinterpret_cast<const char*>(data), size);
  for (bool salvage : {false, true}) {
    auto hive = Hive::Parse(image, {.salvage = salvage}, "input");
    if (!hive.ok()) continue;
    volatile size_t sink = Walk(hive.value()->root());
    (void)sink;
    std::string rewrite = hive.value()->Serialize();
    auto again = Hive::Parse(rewrite, {}, "rewrite");
    if (!again.ok()) Fail("rewrite does not parse", again.status().ToString());
    ExpectSame(hive.value()->root(), again.value()->root());
  }
  return 0;
}
