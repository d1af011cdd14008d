#pragma once

// Files where every program of the user can write, as the elevated installer
// reaches them: every name there is hostile.

#include <windows.h>
#include <winternl.h>

#include <string>

#include "common/handles_win32.h"

// Opens `name` itself, never what a link in its place points to: a name in
// the held `folder` (no path is resolved again after the folder was checked),
// or with no folder a path. `disposition` and `options` as NtCreateFile takes
// them (FILE_OPEN, FILE_CREATE; FILE_DIRECTORY_FILE, FILE_NON_DIRECTORY_FILE);
// created with `descriptor` when it creates. Null on failure, with
// GetLastError() set.
UniqueHandle OpenAsItself(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options,
                          PSECURITY_DESCRIPTOR descriptor = nullptr);

// What tells one file from every other: the volume and the file's ID, 128 bits
// where the system gives them (ReFS, where 64 are not unique), else the 64-bit
// index (Windows 7). Compare only identities taken alike.
struct FileIdentity {
  bool wide = false;
  ULONGLONG volume = 0;
  FILE_ID_128 id = {};
};
// The identity of the file open as `handle`, as wide as asked; with `wide`
// and no 128-bit ID, `identity.wide` comes back false. False when it cannot be read.
bool IdentifyFile(HANDLE handle, bool wide, FileIdentity& identity);
bool operator==(const FileIdentity& a, const FileIdentity& b);
// True when the file open as `handle` is a plain file: not a folder, not a
// reparse point, and of one name only (a second name could be a link the user
// made to a file the user may not read or change).
bool IsPlainFile(HANDLE handle);

// Writes all `size` bytes at the file's position; false when they could not all be written.
bool WriteAll(HANDLE file, const void* bytes, std::size_t size);

// Marks the file open as `handle` (with delete access) for deletion when its
// last handle closes, or clears that mark: this very file, never another that
// bears its name now. False when the mark could not be changed.
bool MarkForDeletion(HANDLE handle, bool deleted = true);
