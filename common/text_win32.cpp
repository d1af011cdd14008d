#include "common/text_win32.h"

#include <windows.h>

bool WideFromUtf8(const std::string& utf8, std::wstring& wide) {
  wide.clear();
  if (utf8.empty()) return true;
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n) == n) {
    return true;
  }
  wide.clear();
  return false;
}

bool Utf8FromWide(const std::wstring& wide, std::string& utf8) {
  utf8.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  const int n =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  utf8.resize(static_cast<std::size_t>(n));
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, utf8.data(), n, nullptr,
                          nullptr) == n) {
    return true;
  }
  utf8.clear();
  return false;
}
