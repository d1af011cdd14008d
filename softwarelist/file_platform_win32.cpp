#include "softwarelist/file_platform.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "common/handles_win32.h"
#include "common/text_win32.h"

namespace {

UniqueHandle OpenFile(const std::wstring& path, DWORD access, DWORD disposition) {
  // Other processes may go on reading and writing the list while we hold it.
  HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::wstring widePath;
  if (!WideFromUtf8(path, widePath)) return FileReadResult::Failed;
  UniqueHandle file = OpenFile(widePath, GENERIC_READ, OPEN_EXISTING);
  if (!file) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return missing ? FileReadResult::Missing : FileReadResult::Failed;
  }
  char buffer[8192];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return FileReadResult::Failed;
    if (got == 0) return FileReadResult::Read;
    bytes.append(buffer, got);
  }
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
  std::wstring widePath;
  if (!WideFromUtf8(path, widePath)) return false;
  // The new content goes to a file of its own beside the old one; only a
  // complete, flushed copy is moved over the old file.
  const std::wstring temporary =
      widePath + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  bool ok = false;
  {
    UniqueHandle file = OpenFile(temporary, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file) return false;
    ok = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    ok = CloseHandle(file.release()) && ok;
  }
  ok = ok && MoveFileExW(temporary.c_str(), widePath.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileW(temporary.c_str());
  return ok;
}
