#pragma once

#include <string>

#include "common/text.h"

// Strict conversions between UTF-8 and UTF-16 for paths and other text handed
// to Windows. False (and an empty result) on invalid input.
bool WideFromUtf8(const std::string& utf8, std::wstring& wide);
bool Utf8FromWide(const std::wstring& wide, std::string& utf8);
