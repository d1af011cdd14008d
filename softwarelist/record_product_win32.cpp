#include "softwarelist/record_product.h"

#include <windows.h>
#include <shlobj.h>

#include <exception>
#include <string>

#include "common/handles_win32.h"
#include "common/text_win32.h"
#include "softwarelist/file_platform_win32.h"

namespace {

void RecordInProfile() {
  wchar_t profile[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)))
    return;

  const std::wstring directory = std::wstring(profile) + L"\\.velnor";
  // Fails when the name exists (every start after the first); what is there is checked below.
  CreateDirectoryW(directory.c_str(), nullptr);
  // Security: only a real .velnor, held against rename, delete or a link swap until we are done.
  UniqueHandle folder =
      OpenAsItself(nullptr, directory, GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_DIRECTORY_FILE);
  if (!folder || !IsPlainFolder(folder.get(), directory)) return;

  // Security: hidden only after the check, through the handle, so never a link's target. The
  // hidden attribute alone, as SetFileAttributesW would set it; a failure is ignored: a folder
  // that stays visible changes nothing for the list.
  FILE_BASIC_INFO hidden = {};  // times of zero stay as they are
  hidden.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
  SetFileInformationByHandle(folder.get(), FileBasicInfo, &hidden, sizeof hidden);

  RecordProductInFile(reinterpret_cast<ListFolder>(folder.get()), "config.toml");
}

}  // namespace

void RecordProduct() {
  try {
    RecordInProfile();
  } catch (const std::exception&) {
    // Out of memory, say: the list stays as it was and the window comes up.
  }
}
