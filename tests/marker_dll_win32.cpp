// A stand-in for a DLL planted beside the installer. Each process that loads
// it appends its own program path to "<the DLL's path>.loaded", so a test can
// tell afterwards which process, if any, picked it up. It exports nothing: a
// program that really used it would fail.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH + 8] = {};
  wchar_t program[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
  const DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || programLength >= MAX_PATH) return TRUE;
  lstrcatW(marker, L".loaded");
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  char line[4 * MAX_PATH + 2] = {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, program, static_cast<int>(programLength), line,
                                  4 * MAX_PATH, nullptr, nullptr);
  line[bytes++] = '\n';
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
