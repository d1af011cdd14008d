// Where the loader may take DLLs from. The installer runs elevated from
// wherever it was downloaded, usually a folder every program of the user can
// write to, so a DLL planted beside it must never be loaded. The DLLs outside
// the loader's known set are delay-loaded (cmake/DelayLoad.cmake): nothing
// loads them until their first call, and by then the search is limited here.
#include "app/dll_search_win32.h"

#include <windows.h>
// delayimp.h needs the types of windows.h.
#include <delayimp.h>

namespace {

// The delay-loaded DLLs that are not known DLLs (ole32 and oleaut32 are).
const char* const kNotKnown[] = {"winhttp.dll", "gdiplus.dll", "wintrust.dll", "crypt32.dll",
                                 "oleacc.dll"};

bool searchLimited = false;  // SetDefaultDllDirectories took System32 alone

// Without SetDefaultDllDirectories (Windows 7 without its security update),
// the program's own folder stays first in the search, so each of these is
// loaded from System32 by its full path, and its own imports from there too.
FARPROC WINAPI LoadFromSystem32(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary || searchLimited) return nullptr;
  for (const char* name : kNotKnown) {
    if (lstrcmpiA(info->szDll, name) != 0) continue;
    wchar_t path[MAX_PATH + 16] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    HMODULE module = nullptr;
    if (length > 0 && length < MAX_PATH) {
      path[length] = L'\\';
      for (int i = 0; name[i] != '\0'; ++i) path[length + 1 + i] = static_cast<wchar_t>(name[i]);
      module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    // Never null: the delay-load helper would then load the bare name, from
    // the program's folder first. Our own program exports none of the
    // functions asked for, so a failed load fails the call as a missing DLL.
    return reinterpret_cast<FARPROC>(module != nullptr ? module : GetModuleHandleW(nullptr));
  }
  return nullptr;
}

}  // namespace

PfnDliHook __pfnDliNotifyHook2 = LoadFromSystem32;

void LimitDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  SetDefaultDllDirectoriesFn setDefault = nullptr;
#ifndef VELNOR_WITHOUT_DEFAULT_DLL_DIRECTORIES  // the tests' build of a Windows 7 without it
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                            GetProcAddress(kernel, "SetDefaultDllDirectories")))
                      : nullptr;
#endif
  searchLimited = setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // At least the current directory leaves the search.
  if (!searchLimited) SetDllDirectoryW(L"");
}
