#include <windows.h>

#include "softwarelist/file_platform.h"
// CoCreateGuid, which WIN32_LEAN_AND_MEAN leaves out of windows.h.
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/handles_win32.h"
#include "common/text_win32.h"
#include "softwarelist/file_platform_win32.h"

namespace {

bool WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

// `path` with a random part no other program can foresee, so nothing can be
// made ready under that name before we create it.
bool TemporaryName(const std::wstring& path, std::wstring& name) {
  GUID guid = {};
  wchar_t text[40] = {};
  if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) == 0) return false;
  name = path + L"." + text + L".tmp";
  return true;
}

// The record that renames a file over `target`, replacing what is there.
std::vector<char> RenameRecord(const std::wstring& target) {
  const DWORD nameBytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::vector<char> record(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(record.data());
  info->ReplaceIfExists = TRUE;
  info->FileNameLength = nameBytes;
  std::memcpy(info->FileName, target.c_str(), nameBytes);
  return record;
}

}  // namespace

bool IsPlainObject(HANDLE handle, const std::wstring& path, bool directory) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  // Wine shows a folder link as a reparse point only by name; the held handle
  // keeps the name on the object opened.
  const DWORD byName = GetFileAttributesW(path.c_str());
  if (byName == INVALID_FILE_ATTRIBUTES) return false;
  for (const DWORD attributes : {info.dwFileAttributes, byName}) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if (((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != directory) return false;
  }
  return directory || info.nNumberOfLinks == 1;
}

FileReadResult ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes) {
  bytes.clear();
  std::wstring widePath;
  if (!WideFromUtf8(path, widePath)) return FileReadResult::Failed;
  // Others may go on reading and writing the list while we read it, but not
  // rename or delete it: the name stays on the file checked.
  UniqueHandle file = OpenWithoutFollowing(widePath, GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!file) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return missing ? FileReadResult::Missing : FileReadResult::Failed;
  }
  // Security: no link, no second name: the elevated read could copy a file the user may not read.
  if (!IsPlainObject(file.get(), widePath, false)) return FileReadResult::Failed;
  char buffer[8192];
  while (bytes.size() <= limit) {
    const std::size_t room = limit - bytes.size();
    const DWORD want = static_cast<DWORD>(room < sizeof buffer ? room + 1 : sizeof buffer);
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, want, &got, nullptr)) return FileReadResult::Failed;
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return FileReadResult::Read;
}

bool ReplaceFileContents(const std::string& path, const std::string& bytes) {
  std::wstring widePath, temporary;
  if (!WideFromUtf8(path, widePath) || !TemporaryName(widePath, temporary)) return false;
  // Allocated before the temporary file exists: nothing below can throw and leave it behind.
  std::vector<char> renameRecord = RenameRecord(widePath);
  // Security: new, unforeseeable and unshared: no planted file or link can take its place.
  UniqueHandle file = OpenWithoutFollowing(temporary, GENERIC_WRITE | DELETE, 0, CREATE_NEW);
  if (!file) return false;
  // Security: moved (or deleted) through its own handle, never another file by that name.
  const bool ok = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get()) &&
                  SetFileInformationByHandle(file.get(), FileRenameInfo, renameRecord.data(),
                                             static_cast<DWORD>(renameRecord.size()));
  if (!ok) DeleteThroughHandle(file.get());
  return ok;
}
