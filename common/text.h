#pragma once

#include <string>
#include <string_view>

// Each byte becomes the UTF-16 unit of the same value: exact for ASCII text
// (URLs, file names, formatted numbers). No UTF-8 decoding takes place.
std::wstring WideFromAscii(std::string_view bytes);
