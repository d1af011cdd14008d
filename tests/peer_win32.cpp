// The stand-in setup program that the installer downloads and starts, and a
// second program of its Wine prefix. It stops, at the latest, when a file
// named "stop" appears in its current folder, or after 90 s.
//   peer                         as the setup program: writes setup.log and a copy of its own
//                                file (setup.bin) there, and loads the DLLs there unprotected
//   peer box <ok|cancel|none>    prints the text of the box "系统提示" and answers it
//   peer tamper <file> <offset>  keeps trying to write 8 bytes into <file> at <offset>,
//                                or else to rename or delete it
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

namespace {

const ULONGLONG kDeadline = GetTickCount64() + 90000;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Stopped() {
  return GetFileAttributesW(L"stop") != INVALID_FILE_ATTRIBUTES || GetTickCount64() > kDeadline;
}

int Setup(int argc) {
  wchar_t cwd[MAX_PATH] = {}, module[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  HWND window = FindWindowW(L"VelnorInstaller", L"Velnor Installer");
  FILE* log = _wfopen(L"setup.log", L"w, ccs=UTF-8");
  std::fwprintf(log, L"argc\t%d\ncwd\t%ls\nmodule\t%ls\nwindow\t%ls\n", argc, cwd, module,
                !window ? L"none" : IsWindowVisible(window) ? L"visible" : L"hidden");
  std::fclose(log);
  CopyFileW(module, L"setup.bin", FALSE);
  WIN32_FIND_DATAW dll = {};
  HANDLE search = FindFirstFileW(L"*.dll", &dll);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &dll))
    LoadLibraryW(dll.cFileName);
  return 0;
}

int Box(const std::wstring& answer) {
  HWND box = nullptr;
  while (!(box = FindWindowW(L"#32770", L"系统提示")) || !IsWindowVisible(box)) {
    if (Stopped()) return 1;
    Sleep(20);
  }
  wchar_t text[2048] = {};
  for (int i = 0; i < 100 && !text[0]; ++i, Sleep(20)) GetDlgItemTextW(box, 0xFFFF, text, 2048);
  _setmode(_fileno(stdout), _O_U8TEXT);
  std::fputws(text, stdout);
  const int id = answer == L"ok" ? IDOK : IDCANCEL;
  if (answer != L"none") PostMessageW(box, WM_COMMAND, id, (LPARAM)GetDlgItem(box, id));
  return 0;
}

int Tamper(const std::wstring& file, LONGLONG at) {
  // Seldom enough that the installer's own opening of the file rarely meets ours.
  for (; !Stopped(); Sleep(50)) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    if (handle != INVALID_HANDLE_VALUE && SetFilePointerEx(handle, LARGE_INTEGER{{DWORD(at), LONG(at >> 32)}},
                                                           nullptr, FILE_BEGIN))
      WriteFile(handle, "tampered", 8, &written, nullptr);
    else if (!MoveFileExW(file.c_str(), (file + L".moved").c_str(), 0))
      DeleteFileW(file.c_str());
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 1) return Setup(argc);
  const std::wstring mode = argv[1];
  if (mode == L"box" && argc == 3) return Box(argv[2]);
  if (mode == L"tamper" && argc == 4) return Tamper(argv[2], _wtoi64(argv[3]));
  return 2;
}
