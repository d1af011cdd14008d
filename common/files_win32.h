#pragma once

// Files in folders that every program of the user can write to, where the
// elevated installer treats every name as hostile.

#include <windows.h>

#include <string>

#include "common/handles_win32.h"

// Opens `path` itself, never what a link in its place points to (`flags` get
// FILE_FLAG_OPEN_REPARSE_POINT). Null on failure, with GetLastError() set.
UniqueHandle OpenWithoutFollowing(const std::wstring& path, DWORD access, DWORD share,
                                  DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL);

// Marks the file open as `handle` (with delete access) for deletion when its
// last handle closes: this very file, never another that bears its name now.
void DeleteThroughHandle(HANDLE handle);
