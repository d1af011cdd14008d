#include "common/text.h"

#include <charconv>

std::string DecimalText(std::uint64_t value) {
  char digits[20];
  return std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

std::wstring WideFromAscii(std::string_view bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  for (unsigned char byte : bytes) wide.push_back(static_cast<wchar_t>(byte));
  return wide;
}
