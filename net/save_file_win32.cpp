#include "net/save_file_win32.h"

#include "common/files_win32.h"
#include "common/text_win32.h"
#include "net/save_file.h"

namespace {

bool Identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(handle, &info) != FALSE;
}

bool IsSameFile(const SavedFileTag& file, const BY_HANDLE_FILE_INFORMATION& info) {
  return info.dwVolumeSerialNumber == file.volume && info.nFileIndexHigh == file.index.HighPart &&
         info.nFileIndexLow == file.index.LowPart &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
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
  UniqueHandle handle =
      OpenWithoutFollowing(name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW);
  if (!handle) return nullptr;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!Identify(handle.get(), info)) {
    DeleteThroughHandle(handle.get());
    return nullptr;
  }
  auto* file = new SavedFileTag;
  file->name = std::move(name);
  file->handle = std::move(handle);
  file->volume = info.dwVolumeSerialNumber;
  file->index.HighPart = info.nFileIndexHigh;
  file->index.LowPart = info.nFileIndexLow;
  return file;
}

bool WriteSaveFile(SavedFile file, const void* bytes, std::uint32_t size) {
  DWORD written = 0;
  return WriteFile(file->handle.get(), bytes, size, &written, nullptr) && written == size;
}

bool ReopenSavedFile(SavedFile file) {
  file->handle.reset();
  file->writing = false;
  // Read access only, sharing read only: the started setup program may open
  // itself for reading (an open that does not share deletion fails while any
  // handle with delete access is open), and nobody can write, rename or
  // delete it while we hold it.
  UniqueHandle handle =
      OpenWithoutFollowing(file->name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  BY_HANDLE_FILE_INFORMATION info = {};
  // Between the two opens the name could have been given to another file.
  if (!handle || !Identify(handle.get(), info) || !IsSameFile(*file, info)) return false;
  file->handle = std::move(handle);
  return true;
}

bool ReadSavedFile(SavedFile file, void* buffer, std::uint32_t size, std::uint32_t& got) {
  DWORD count = 0;
  const BOOL ok = ReadFile(file->handle.get(), buffer, size, &count, nullptr);
  got = ok ? count : 0;
  return ok != FALSE;
}

void DeleteSavedFile(SavedFile file) {
  if (file->writing) {
    if (file->handle) DeleteThroughHandle(file->handle.get());
  } else {
    // Our own read handle shares no deletion, so it goes first; the name is
    // then opened as itself and deleted only when it is still our file.
    file->handle.reset();
    UniqueHandle handle =
        OpenWithoutFollowing(file->name, DELETE | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (handle && Identify(handle.get(), info) && IsSameFile(*file, info))
      DeleteThroughHandle(handle.get());
  }
  CloseSavedFile(file);
}

void CloseSavedFile(SavedFile file) { delete file; }
