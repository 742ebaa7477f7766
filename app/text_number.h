// Reading numbers out of settings and message texts. Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace hm::app {

// A decimal integer with an optional sign, spaces and tabs around it allowed ("-12", " 300 ");
// nullopt when the text is not one or does not fit into 32 bits.
std::optional<int32_t> ParseDecimalInteger(std::string_view text);

}  // namespace hm::app
