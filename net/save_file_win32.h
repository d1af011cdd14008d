#pragma once

// The Windows form of a save file, for the Windows layers that work on the
// held file itself (save_file_win32.cpp, signature_win32.cpp).

#include <windows.h>

#include <string>

#include "common/handles_win32.h"
#include "net/save_file.h"

// The save file under its name, with the identity of the file that was
// created there, so that it is only ever opened again or deleted as itself.
struct SavedFileTag {
  std::wstring name;
  UniqueHandle handle;  // none: let go after a failed re-open
  bool writing = true;
  DWORD volume = 0;
  ULARGE_INTEGER index = {};
};
