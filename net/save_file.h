#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Where the downloader puts the body of a 200 response. The file itself
// belongs to the installer's side, which owns it from its creation to its
// deletion (install/setup_file_win32.cpp); natively a fake stands in for it
// (download_test.cpp).

// An open save file, opaque to portable code; null means it could not be had.
struct SavedFileTag;
using SavedFile = SavedFileTag*;

// Creates the file new under `path`, writable by us alone. Until it is
// finished it goes away with its handle, so a download cut short, or a
// process that ends, leaves nothing behind. Null when that cannot be done.
SavedFile CreateSaveFile(const std::string& path);
// Writes all `size` bytes; false when they could not all be written.
bool WriteSaveFile(SavedFile file, const void* bytes, std::uint32_t size);
// The whole body is in: the file is kept from now on and the writing handle
// is let go. False when that fails; the file is then gone.
bool FinishSaveFile(SavedFile file);
// Deletes the file (only this very file, never another that has come to bear
// its name) and releases `file`.
void DeleteSavedFile(SavedFile file);
// Releases `file`; a finished file stays where it is.
void CloseSavedFile(SavedFile file);

struct SavedFileCloser {
  void operator()(SavedFile file) const { CloseSavedFile(file); }
};
// The owner of a save file: let go (not deleted) when the owner ends.
using HeldFile = std::unique_ptr<SavedFileTag, SavedFileCloser>;
