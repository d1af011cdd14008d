#pragma once

// The Windows layer's way of opening the software list and its folder, which
// sit where every program of the user can write.

#include <windows.h>

#include <string>

#include "common/handles_win32.h"

// Opens `path` itself, never what a link in its place points to (flags get
// FILE_FLAG_OPEN_REPARSE_POINT). Null on failure, with GetLastError() set.
UniqueHandle OpenWithoutFollowing(const std::wstring& path, DWORD access, DWORD share,
                                  DWORD disposition, DWORD flags);

// True when `handle`, opened as `path` by OpenWithoutFollowing and held so the
// name cannot move, is a directory (or else a file with no other name) and no
// reparse point, by the handle's attributes and by the name's.
bool IsPlainObject(HANDLE handle, const std::wstring& path, bool directory);
