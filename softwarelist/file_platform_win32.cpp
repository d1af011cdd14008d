#include <windows.h>

#include "softwarelist/file_platform.h"
// CoCreateGuid, which WIN32_LEAN_AND_MEAN leaves out of windows.h; the
// native file calls that take a folder's handle for the names in it.
#include <objbase.h>
#include <winternl.h>

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

// `name` in the held folder, itself and never what a link in its place points
// to. Relative to the folder's handle: no path is resolved again after the
// folder was checked. Null on failure, with GetLastError() set.
UniqueHandle OpenInFolder(ListFolder folder, const std::wstring& name, ACCESS_MASK access,
                          ULONG share, ULONG disposition) {
  UNICODE_STRING text = {};
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes = {};
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, Held(folder), nullptr);
  IO_STATUS_BLOCK io = {};
  HANDLE handle = nullptr;
  const NTSTATUS status = NtCreateFile(
      &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
      disposition, FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
      nullptr, 0);
  if (!NT_SUCCESS(status)) {
    SetLastError(RtlNtStatusToDosError(status));
    return nullptr;
  }
  return UniqueHandle(handle);
}

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
      OpenInFolder(folder, wideName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN);
  if (!file) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return missing ? FileReadResult::Missing : FileReadResult::Failed;
  }
  // Security: no link, no second name: the elevated read could copy a file the user may not read.
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file.get(), &info) || info.nNumberOfLinks != 1 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return FileReadResult::Failed;
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
  // Security: new, unforeseeable and unshared: no planted file or link can take its place.
  UniqueHandle file = OpenInFolder(folder, temporary, GENERIC_WRITE | DELETE, 0, FILE_CREATE);
  if (!file) return false;
  // Security: moved (or deleted) through its own handle, never another file by that name.
  const bool ok = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get()) &&
                  RenameInFolder(file.get(), folder, wideName);
  if (!ok) MarkForDeletion(file.get());
  return ok;
}
