// JSON text for the command-line tool's machine-readable output. Stateless: thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace hm::cli {

// `text` as a quoted JSON string. Everything outside printable ASCII (control characters,
// non-ASCII characters, unpaired surrogates) is written as \u escapes, so the result is plain
// ASCII and valid JSON whatever the text held.
std::string JsonString(std::u16string_view text);

}  // namespace hm::cli
