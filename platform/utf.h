// Conversions between UTF-16 (as Windows stores names and strings) and UTF-8 (as the host shows
// them). Lenient both ways: unpaired surrogates and malformed UTF-8 become U+FFFD; callers that
// must be lossless keep the UTF-16 form. Stateless: thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace hm {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace hm
