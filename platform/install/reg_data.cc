#include "platform/install/reg_data.h"

#include "platform/hive/hive.h"

namespace hm::install {
namespace {

std::u16string Utf16FromBytes(std::string_view data) {
  std::u16string text;
  text.reserve(data.size() / 2);
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<uint8_t>(data[i]) |
                                         static_cast<uint8_t>(data[i + 1]) << 8));
  }
  return text;
}

void AppendUtf16(std::u16string_view text, std::string* out) {
  for (char16_t c : text) {
    out->push_back(static_cast<char>(c & 0xff));
    out->push_back(static_cast<char>(c >> 8));
  }
}

template <typename T>
std::optional<T> LittleEndian(std::string_view data) {
  if (data.size() != sizeof(T)) return std::nullopt;
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i)
    value |= static_cast<T>(static_cast<uint8_t>(data[i])) << (8 * i);
  return value;
}

template <typename T>
std::string LittleEndianData(T value) {
  std::string data(sizeof(T), '\0');
  for (size_t i = 0; i < sizeof(T); ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xff);
  return data;
}

}  // namespace

std::string RegStringToUtf8(std::string_view data) {
  std::u16string text = Utf16FromBytes(data);
  size_t nul = text.find(u'\0');
  if (nul != std::u16string::npos) text.resize(nul);
  return hive::ToUtf8(text);
}

std::string Utf8ToRegString(std::string_view text) {
  std::string data;
  AppendUtf16(hive::FromUtf8(text), &data);
  data.append(2, '\0');
  return data;
}

std::vector<std::string> RegMultiStringToUtf8(std::string_view data) {
  std::u16string text = Utf16FromBytes(data);
  std::vector<std::string> strings;
  size_t start = 0;
  while (start < text.size()) {
    size_t nul = text.find(u'\0', start);
    if (nul == start) break;  // the empty string that ends the list
    if (nul == std::u16string::npos) nul = text.size();
    strings.push_back(hive::ToUtf8(std::u16string_view(text).substr(start, nul - start)));
    start = nul + 1;
  }
  return strings;
}

std::string Utf8ToRegMultiString(const std::vector<std::string>& strings) {
  std::string data;
  for (const std::string& s : strings) data += Utf8ToRegString(s);
  data.append(2, '\0');
  return data;
}

std::optional<uint32_t> RegDword(std::string_view data) {
  return LittleEndian<uint32_t>(data);
}
std::optional<uint64_t> RegQword(std::string_view data) {
  return LittleEndian<uint64_t>(data);
}
std::string DwordData(uint32_t value) {
  return LittleEndianData(value);
}
std::string QwordData(uint64_t value) {
  return LittleEndianData(value);
}

}  // namespace hm::install
