#include "common/text.h"

std::wstring WideFromAscii(std::string_view bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  for (unsigned char byte : bytes) wide.push_back(static_cast<wchar_t>(byte));
  return wide;
}
