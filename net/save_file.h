#pragma once

#include <array>
#include <cstdint>
#include <string>

// The save file and a digest of its bytes, as the downloader needs them from
// the platform: save_file_win32.cpp opens files by their UTF-16 name with
// CreateFileW and hashes with the system's SHA-256 (CryptoAPI); natively a
// fake keeps the files in memory (download_test.cpp).

// An open file or a running digest, opaque to portable code; null means the
// operation failed.
using FileHandle = void*;
using DigestHandle = void*;

using Sha256 = std::array<unsigned char, 32>;

// Creates `path`, or truncates it, for writing. While it is open other
// processes may read it and nothing else: no writing, renaming or deleting.
// Null when it cannot be created so, also when another process already holds
// it open for writing.
FileHandle CreateSaveFile(const std::string& path);
// Writes all `size` bytes; false when they could not all be written.
bool WriteSaveFile(FileHandle file, const void* bytes, std::uint32_t size);
// Opens `path` again with read and delete access, sharing read only. Null
// when it cannot be opened so (another process holds it open for writing,
// renaming or deleting, or it is gone).
FileHandle OpenSavedFile(const std::string& path);
// Up to `size` bytes; true with `got` 0 at the end.
bool ReadSavedFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t& got);
// Deletes the file through its own handle, so no other file that has come to
// bear its name can be hit, then closes the handle.
void DeleteSavedFile(FileHandle file);
// Closes the handle and leaves the file.
void CloseSavedFile(FileHandle file);

// SHA-256 over the bytes added in order. FinishDigest gives the digest and
// releases the handle; false when any step failed.
DigestHandle BeginDigest();
bool AddToDigest(DigestHandle digest, const void* bytes, std::uint32_t size);
bool FinishDigest(DigestHandle digest, Sha256& value);
