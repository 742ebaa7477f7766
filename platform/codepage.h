// CodePage converts between UTF-16 and one of Windows' single-byte "ANSI" code pages (1250, 1251,
// 1252), the encoding of REGEDIT4 files and of data written through the registry's "A" functions.
// Bytes a code page leaves undefined decode to the C1 control of the same number (0x81 ->
// U+0081), as MultiByteToWideChar does, so every byte string survives a round trip.
// Immutable after construction: thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hm {

class CodePage {
 public:
  static constexpr uint32_t kDefault = 1252;  // Western European

  // The code page with that Windows number, or nullptr when this program does not know it.
  static std::unique_ptr<CodePage> ForNumber(uint32_t number);

  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  uint32_t number() const { return number_; }

  // Every byte becomes exactly one UTF-16 code unit (NUL bytes included).
  std::u16string ToUtf16(std::string_view ansi) const;
  // The same into *out, reusing its storage.
  void ToUtf16(std::string_view ansi, std::u16string* out) const;

  // Converts `text` into *ansi. A character the code page cannot represent becomes '?' (one per
  // code point, so a surrogate pair gives one '?'), as WideCharToMultiByte does without best-fit
  // mapping; the function then returns false, so callers that must be lossless can refuse.
  bool FromUtf16(std::u16string_view text, std::string* ansi) const;

 private:
  CodePage(uint32_t number, const char16_t* high);

  const uint32_t number_;
  const char16_t* const high_;  // 128 code units for bytes 0x80..0xFF; static storage
  // (code unit, byte) for the upper half, sorted by code unit: the reverse mapping.
  std::vector<std::pair<char16_t, uint8_t>> reverse_;
};

}  // namespace hm
