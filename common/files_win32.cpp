#include "common/files_win32.h"

UniqueHandle OpenWithoutFollowing(const std::wstring& path, DWORD access, DWORD share,
                                  DWORD disposition, DWORD flags, SECURITY_ATTRIBUTES* security) {
  HANDLE handle = CreateFileW(path.c_str(), access, share, security, disposition,
                              flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool MarkForDeletion(HANDLE handle, bool deleted) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != FALSE;
}
