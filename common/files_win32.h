#pragma once

// Files in folders that every program of the user can write to, where the
// elevated installer treats every name as hostile.

#include <windows.h>

#include <string>

#include "common/handles_win32.h"

// Opens `path` itself, never what a link in its place points to (`flags` get
// FILE_FLAG_OPEN_REPARSE_POINT), created with `security` when it is created.
// Null on failure, with GetLastError() set.
UniqueHandle OpenWithoutFollowing(const std::wstring& path, DWORD access, DWORD share,
                                  DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL,
                                  SECURITY_ATTRIBUTES* security = nullptr);

// Marks the file open as `handle` (with delete access) for deletion when its
// last handle closes, or clears that mark: this very file, never another that
// bears its name now. False when the mark could not be changed.
bool MarkForDeletion(HANDLE handle, bool deleted = true);
