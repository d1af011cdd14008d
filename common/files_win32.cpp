#include "common/files_win32.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>

UniqueHandle OpenAsItself(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR descriptor) {
  UNICODE_STRING text = {};
  if (folder != nullptr) {
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  } else if (!RtlDosPathNameToNtPathName_U(name.c_str(), &text, nullptr, nullptr)) {
    SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  OBJECT_ATTRIBUTES attributes = {};
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, descriptor);
  IO_STATUS_BLOCK io = {};
  HANDLE handle = nullptr;
  const NTSTATUS status =
      NtCreateFile(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
                   FILE_ATTRIBUTE_NORMAL, share, disposition,
                   options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (folder == nullptr) RtlFreeUnicodeString(&text);
  if (!NT_SUCCESS(status)) {
    SetLastError(RtlNtStatusToDosError(status));
    return nullptr;
  }
  return UniqueHandle(handle);
}

namespace {

// Windows 8's FileIdInfo class and its record, which the headers for Windows 7
// leave out; Windows 7 refuses the class.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInfo {
  ULONGLONG VolumeSerialNumber;
  FILE_ID_128 FileId;
};

}  // namespace

bool IdentifyFile(HANDLE handle, bool wide, FileIdentity& identity) {
  identity = {};
  FileIdInfo info = {};
  if (wide && GetFileInformationByHandleEx(handle, kFileIdInfo, &info, sizeof info)) {
    identity = {true, info.VolumeSerialNumber, info.FileId};
    return true;
  }
  BY_HANDLE_FILE_INFORMATION narrow = {};
  if (!GetFileInformationByHandle(handle, &narrow)) return false;
  identity.volume = narrow.dwVolumeSerialNumber;
  const ULONGLONG index = (ULONGLONG(narrow.nFileIndexHigh) << 32) | narrow.nFileIndexLow;
  std::memcpy(identity.id.Identifier, &index, sizeof index);
  return true;
}

bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.wide == b.wide && a.volume == b.volume &&
         std::memcmp(a.id.Identifier, b.id.Identifier, sizeof a.id.Identifier) == 0;
}

bool IsPlainFile(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(handle, &info) && info.nNumberOfLinks == 1 &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool WriteAll(HANDLE file, const void* bytes, std::size_t size) {
  const char* at = static_cast<const char*>(bytes);
  for (std::size_t done = 0; done < size;) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, at + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

bool MarkForDeletion(HANDLE handle, bool deleted) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != FALSE;
}
