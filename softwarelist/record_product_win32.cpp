#include "softwarelist/record_product.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "common/text_win32.h"

void RecordProduct() {
  wchar_t profile[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile))) return;

  const std::wstring directory = std::wstring(profile) + L"\\.velnor";
  // Both results are ignored: the folder exists on every start after the first,
  // and a folder that stays visible changes nothing for the list.
  CreateDirectoryW(directory.c_str(), nullptr);
  SetFileAttributesW(directory.c_str(), FILE_ATTRIBUTE_HIDDEN);

  std::string file;
  if (Utf8FromWide(directory + L"\\config.toml", file)) RecordProductInFile(file);
}
