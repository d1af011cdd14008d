// Stand-in for the product's setup program. Writes setup.log in its current
// folder (argument count, current folder, own path, whether the installer's
// window was shown) and copies its own file to setup.bin there, so a test can
// tell that what ran is byte for byte what was served.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/text_win32.h"

int wmain(int argc, wchar_t**) {
  wchar_t cwd[MAX_PATH] = {}, module[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  HWND window = FindWindowW(L"VelnorInstaller", L"Velnor Installer");
  std::string dir, path;
  Utf8FromWide(cwd, dir);
  Utf8FromWide(module, path);
  FILE* log = _wfopen(L"setup.log", L"wb");
  FILE* copy = _wfopen(L"setup.bin", L"wb");
  HANDLE self = CreateFileW(module, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (!log || !copy || self == INVALID_HANDLE_VALUE) return 90;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(self, buffer, sizeof buffer, &got, nullptr) && got > 0)
    std::fwrite(buffer, 1, got, copy);
  CloseHandle(self);
  std::fprintf(log, "argc\t%d\ncwd\t%s\nmodule\t%s\nwindow\t%s\n", argc, dir.c_str(), path.c_str(),
               !window ? "none" : IsWindowVisible(window) ? "visible" : "hidden");
  return std::fclose(copy) == 0 && std::fclose(log) == 0 ? 0 : 91;
}
