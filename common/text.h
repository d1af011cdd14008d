#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// `value` in decimal digits, without the C runtime's formatting engine.
std::string DecimalText(std::uint64_t value);

// Each byte becomes the UTF-16 unit of the same value: exact for ASCII text
// (URLs, file names, formatted numbers). No UTF-8 decoding takes place.
std::wstring WideFromAscii(std::string_view bytes);
