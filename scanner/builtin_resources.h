// The built-in lists of the scanner, as compressed resources ("ZP" and a raw deflate stream),
// generated at build time from scanner/data/*.txt by scanner/tools/zp_pack.
#pragma once

#include <string_view>

namespace hm::scan {

// The default of the settings' skipped-keys section: "KEYTEXT=1" lines.
std::string_view SkippedKeysResource();
// The permanent ignore list: "{Group}" headings and ignore entries.
std::string_view PermanentIgnoresResource();

}  // namespace hm::scan
