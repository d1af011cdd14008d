#include "common/files_win32.h"

UniqueHandle OpenWithoutFollowing(const std::wstring& path, DWORD access, DWORD share,
                                  DWORD disposition, DWORD flags) {
  HANDLE handle = CreateFileW(path.c_str(), access, share, nullptr, disposition,
                              flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

void DeleteThroughHandle(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}
