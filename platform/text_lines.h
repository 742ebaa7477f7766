// Splitting text into lines the way a string list reads it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hm {

// The lines of `text`, separated by CR, LF or CR LF; a final line break gives no empty last line.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace hm
