#include "net/save_file_win32.h"

#include "common/text_win32.h"
#include "net/save_file.h"

namespace {

// Never follow a link: a reparse point is opened as itself.
constexpr DWORD kOpenAsIs = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

bool Identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(handle, &info) != FALSE;
}

bool IsSameFile(const SavedFileTag& file, const BY_HANDLE_FILE_INFORMATION& info) {
  return info.dwVolumeSerialNumber == file.volume && info.nFileIndexHigh == file.index.HighPart &&
         info.nFileIndexLow == file.index.LowPart &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

void MarkForDeletion(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

void CloseOpenHandle(SavedFileTag& file) {
  if (file.handle != INVALID_HANDLE_VALUE) CloseHandle(file.handle);
  file.handle = INVALID_HANDLE_VALUE;
}

}  // namespace

SavedFile CreateSaveFile(const std::string& path) {
  std::wstring name;
  if (!WideFromUtf8(path, name)) return nullptr;
  // Whatever stands under the name goes as a name only: deleting a hard link
  // or a symbolic link leaves the file it points to as it was. A folder, or a
  // file someone holds without sharing deletion, stays and makes the creation
  // below fail.
  DeleteFileW(name.c_str());
  // Created new, so nothing planted under the name in the meantime is
  // written through. Sharing read only: while we write, nobody else can
  // change, rename or delete it. Delete access, so that a download that goes
  // wrong removes this very file.
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, kOpenAsIs, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!Identify(handle, info)) {
    MarkForDeletion(handle);
    CloseHandle(handle);
    return nullptr;
  }
  auto* file = new SavedFileTag;
  file->name = std::move(name);
  file->handle = handle;
  file->volume = info.dwVolumeSerialNumber;
  file->index.HighPart = info.nFileIndexHigh;
  file->index.LowPart = info.nFileIndexLow;
  return file;
}

bool WriteSaveFile(SavedFile file, const void* bytes, std::uint32_t size) {
  DWORD written = 0;
  return WriteFile(file->handle, bytes, size, &written, nullptr) && written == size;
}

bool ReopenSavedFile(SavedFile file) {
  CloseOpenHandle(*file);
  file->writing = false;
  // Read access only, sharing read only: the started setup program may open
  // itself for reading (an open that does not share deletion fails while any
  // handle with delete access is open), and nobody can write, rename or
  // delete it while we hold it.
  HANDLE handle = CreateFileW(file->name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, kOpenAsIs, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  // Between the two opens the name could have been given to another file.
  if (!Identify(handle, info) || !IsSameFile(*file, info)) {
    CloseHandle(handle);
    return false;
  }
  file->handle = handle;
  return true;
}

bool ReadSavedFile(SavedFile file, void* buffer, std::uint32_t size, std::uint32_t& got) {
  DWORD count = 0;
  const BOOL ok = ReadFile(file->handle, buffer, size, &count, nullptr);
  got = ok ? count : 0;
  return ok != FALSE;
}

void DeleteSavedFile(SavedFile file) {
  if (file->writing) {
    if (file->handle != INVALID_HANDLE_VALUE) MarkForDeletion(file->handle);
  } else {
    // Our own read handle shares no deletion, so it goes first; the name is
    // then opened as itself and deleted only when it is still our file.
    CloseOpenHandle(*file);
    HANDLE handle = CreateFileW(file->name.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, kOpenAsIs, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (handle != INVALID_HANDLE_VALUE && Identify(handle, info) && IsSameFile(*file, info))
      MarkForDeletion(handle);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  CloseSavedFile(file);
}

void CloseSavedFile(SavedFile file) {
  CloseOpenHandle(*file);
  delete file;
}
