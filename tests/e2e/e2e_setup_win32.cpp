// Stand-in for the product's full setup program in the end-to-end runs. The
// installer starts it with no arguments and the environment inherited, so it
// is steered by environment variables:
//   VELNOR_E2E_SETUP_LOG      Windows path of a UTF-8 log to write (required)
//   VELNOR_E2E_SETUP_SECONDS  how long to stay running (default 0)
//   VELNOR_E2E_SETUP_EXIT     its exit code (default 0)
// The log has one "key<TAB>value" line each for the command line, the number
// of arguments, the current directory, its own path, and whether the
// installer's window was visible when it started and when it ended.
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text_win32.h"

namespace {

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

int EnvNumber(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::atoi(value) : 0;
}

const char* InstallerWindowState() {
  HWND window = FindWindowW(L"VelnorInstaller", L"Velnor Installer");
  if (!window) return "none";
  return IsWindowVisible(window) ? "visible" : "hidden";
}

void Line(FILE* log, const char* key, const std::wstring& value) {
  std::string utf8;
  Utf8FromWide(value, utf8);
  std::fprintf(log, "%s\t%s\n", key, utf8.c_str());
  std::fflush(log);
}

}  // namespace

int wmain() {
  const std::wstring logPath = Env(L"VELNOR_E2E_SETUP_LOG");
  FILE* log = logPath.empty() ? nullptr : _wfopen(logPath.c_str(), L"wb");
  if (!log) return 90;

  int argc = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) LocalFree(argv);
  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);

  Line(log, "cmdline", GetCommandLineW());
  Line(log, "argc", std::to_wstring(argc));
  Line(log, "cwd", directory);
  Line(log, "module", module);
  std::fprintf(log, "window-at-start\t%s\n", InstallerWindowState());
  std::fflush(log);

  const int seconds = EnvNumber("VELNOR_E2E_SETUP_SECONDS");
  if (seconds > 0) Sleep(static_cast<DWORD>(seconds) * 1000);

  const int exitCode = EnvNumber("VELNOR_E2E_SETUP_EXIT");
  std::fprintf(log, "window-at-end\t%s\nexit\t%d\n", InstallerWindowState(), exitCode);
  std::fclose(log);
  return exitCode;
}
