#pragma once

// The Windows layer's check of the software list and its folder, which sit
// where every program of the user can write.

#include <windows.h>

#include <string>

#include "common/files_win32.h"

// True when `handle`, opened as `path` by OpenAsItself and held so the
// name cannot move, is a directory and no reparse point, by the handle's
// attributes and by the name's.
bool IsPlainFolder(HANDLE handle, const std::wstring& path);
