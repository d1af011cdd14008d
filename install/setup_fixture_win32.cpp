// A stand-in setup program for the install tests: writes its command line and
// current directory to "setup-fixture.log" in the current directory and exits
// with the code in VELNOR_FIXTURE_EXIT (0 when unset).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

int wmain() {
  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  if (FILE* log = _wfopen(L"setup-fixture.log", L"w, ccs=UTF-8")) {
    std::fwprintf(log, L"%ls\n%ls\n", GetCommandLineW(), directory);
    std::fclose(log);
  }
  const char* code = std::getenv("VELNOR_FIXTURE_EXIT");
  return code ? std::atoi(code) : 0;
}
