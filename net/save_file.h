#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The save file as the downloader needs it from the platform:
// save_file_win32.cpp works on it by its UTF-16 name with CreateFileW;
// natively a fake keeps the files in memory (download_test.cpp).
//
// The installer runs elevated and saves into a folder that every program of
// the user can write to, so the name is hostile: the file is created new,
// never written or read through a link, and after it has been let go it is
// only opened again, or deleted, while the name still names the same file.

// An open save file, opaque to portable code; null means it could not be had.
struct SavedFileTag;
using SavedFile = SavedFileTag*;

// Removes `path` as a name when it exists (the file a link points to stays as
// it is), then creates it new for writing, without following links. While it
// is open others may read it and nothing else: no writing, renaming or
// deleting. Null when that cannot be done.
SavedFile CreateSaveFile(const std::string& path);
// Writes all `size` bytes; false when they could not all be written.
bool WriteSaveFile(SavedFile file, const void* bytes, std::uint32_t size);
// Lets go of the write access (a program cannot be started while anyone holds
// it open for writing) and opens the file again under its name for reading
// only, sharing read only, without following links. False when the name no
// longer names the file that was written, or it cannot be opened so; the
// file then has no open handle and can only be deleted or closed.
bool ReopenSavedFile(SavedFile file);
// Up to `size` bytes; true with `got` 0 at the end.
bool ReadSavedFile(SavedFile file, void* buffer, std::uint32_t size, std::uint32_t& got);
// Deletes the file and releases `file`: while it is open for writing through
// that handle, else by its name, and then only when the name still names this
// very file, so that no other file that has come to bear the name is hit.
void DeleteSavedFile(SavedFile file);
// Releases `file` and leaves the file where it is.
void CloseSavedFile(SavedFile file);

struct SavedFileCloser {
  void operator()(SavedFile file) const { CloseSavedFile(file); }
};
// The owner of a save file that has been checked and is held open for
// reading; the file is let go (not deleted) when the owner ends.
using HeldFile = std::unique_ptr<SavedFileTag, SavedFileCloser>;
