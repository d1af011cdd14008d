// A stand-in for a DLL planted beside the installer: each process that loads
// it appends its program's path to "<the DLL's path>.loaded". It exports
// nothing, so a program that really used it would fail.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  wchar_t marker[MAX_PATH + 8] = {}, program[MAX_PATH] = {};
  if (reason != DLL_PROCESS_ATTACH || !GetModuleFileNameW(self, marker, MAX_PATH)) return TRUE;
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  HANDLE file = CreateFileW(lstrcatW(marker, L".loaded"), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, program, length * sizeof(wchar_t), &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
