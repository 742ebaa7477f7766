// Conversions between registry value data (raw bytes as a hive stores them) and the forms the
// installation code and the command-line tool work with. Stateless: thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hm::install {

// REG_SZ / REG_EXPAND_SZ data (UTF-16LE) as UTF-8, up to the first NUL. A trailing odd byte is
// ignored; unpaired surrogates become U+FFFD.
std::string RegStringToUtf8(std::string_view data);
// UTF-8 text as REG_SZ data: UTF-16LE with the terminating NUL, as Windows stores strings.
std::string Utf8ToRegString(std::string_view text);
// REG_MULTI_SZ data as its strings; the empty string that ends the list is not included.
std::vector<std::string> RegMultiStringToUtf8(std::string_view data);
std::string Utf8ToRegMultiString(const std::vector<std::string>& strings);
// Little-endian numbers; nullopt when the data has another length.
std::optional<uint32_t> RegDword(std::string_view data);
std::optional<uint64_t> RegQword(std::string_view data);
std::string DwordData(uint32_t value);
std::string QwordData(uint64_t value);

}  // namespace hm::install
