#include <windows.h>

#include "softwarelist/file_platform.h"
// CoCreateGuid, which WIN32_LEAN_AND_MEAN leaves out of windows.h; the
// native file calls that take a folder's handle for the names in it.
#include <objbase.h>
#include <winternl.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/files_win32.h"
#include "common/text_win32.h"
#include "softwarelist/file_platform_win32.h"

namespace {

// A name with a random part no other program can foresee, so nothing can be
// made ready under that name before we create it.
bool TemporaryName(const std::wstring& name, std::wstring& temporary) {
  GUID guid = {};
  wchar_t text[40] = {};
  if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) == 0) return false;
  temporary = name + L"." + text + L".tmp";
  return true;
}

HANDLE Held(ListFolder folder) { return reinterpret_cast<HANDLE>(folder); }

// Moves the open `file` over `name` in the held folder, replacing what is there.
bool RenameInFolder(HANDLE file, ListFolder folder, const std::wstring& name) {
  const ULONG nameBytes = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  std::vector<char> record(sizeof(FILE_RENAME_INFORMATION) + nameBytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(record.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = Held(folder);
  info->FileNameLength = nameBytes;
  std::memcpy(info->FileName, name.c_str(), nameBytes);
  IO_STATUS_BLOCK io = {};
  return NT_SUCCESS(NtSetInformationFile(file, &io, info, static_cast<ULONG>(record.size()),
                                         FileRenameInformation));
}

}  // namespace

bool IsPlainFolder(HANDLE handle, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  // Wine shows a folder link as a reparse point only by name; the held handle
  // keeps the name on the object opened.
  const DWORD byName = GetFileAttributesW(path.c_str());
  if (byName == INVALID_FILE_ATTRIBUTES) return false;
  for (const DWORD attributes : {info.dwFileAttributes, byName}) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  }
  return true;
}

FileReadResult ReadWholeFile(ListFolder folder, const std::string& name, std::size_t limit,
                             std::string& bytes) {
  bytes.clear();
  std::wstring wideName;
  if (!WideFromUtf8(name, wideName)) return FileReadResult::Failed;
  // Others may go on reading and writing the list while we read it, but not
  // rename or delete it: the name stays on the file checked.
  UniqueHandle file =
      OpenAsItself(Held(folder), wideName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  if (!file) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return missing ? FileReadResult::Missing : FileReadResult::Failed;
  }
  // No link, no second name: the elevated read could copy a file the user may not read.
  if (!IsPlainFile(file.get())) return FileReadResult::Failed;
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

bool ReplaceFileContents(ListFolder folder, const std::string& name, const std::string& bytes) {
  std::wstring wideName, temporary;
  if (!WideFromUtf8(name, wideName) || !TemporaryName(wideName, temporary)) return false;
  // New, unforeseeable and unshared: no planted file or link can take its place.
  UniqueHandle file = OpenAsItself(Held(folder), temporary, GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                   FILE_NON_DIRECTORY_FILE);
  if (!file) return false;
  // Moved (or deleted) through its own handle, never another file by that name.
  const bool ok = WriteAll(file.get(), bytes.data(), bytes.size()) &&
                  FlushFileBuffers(file.get()) && RenameInFolder(file.get(), folder, wideName);
  if (!ok) MarkForDeletion(file.get());
  return ok;
}
