// A second program in the installer's Wine prefix. It stops, at the latest,
// when a file named "stop" appears in its current folder, or after 90 s.
//   peer box <ok|cancel|none>     waits for the message box "系统提示", prints
//                                 its text (UTF-8), then answers it
//   peer load <dll>...            loads each DLL unprotected (own folder first)
//   peer hold <file>              creates <file> and holds it open for writing
//                                 (sharing read only), printing "holding"
//   peer tamper <file> <program>  keeps trying to write <program> into <file>,
//                                 or else to rename <file> away or delete it,
//                                 putting <program> in its place; prints how
//                                 often each succeeded
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/text_win32.h"

namespace {

const ULONGLONG kDeadline = GetTickCount64() + 90000;

bool Stopped() {
  return GetFileAttributesW(L"stop") != INVALID_FILE_ATTRIBUTES || GetTickCount64() > kDeadline;
}

bool Put(const std::wstring& file, const std::string& bytes, DWORD disposition) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr) && written == bytes.size();
  CloseHandle(handle);
  return ok;
}

int Box(const std::wstring& answer) {
  HWND box = nullptr;
  while (!(box = FindWindowW(L"#32770", L"系统提示")) || !IsWindowVisible(box)) {
    if (Stopped()) return 1;
    Sleep(20);
  }
  wchar_t text[2048] = {};
  for (int i = 0; i < 100 && !text[0]; ++i, Sleep(20)) GetDlgItemTextW(box, 0xFFFF, text, 2048);
  std::string utf8;
  Utf8FromWide(text, utf8);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  const int id = answer == L"ok" ? IDOK : IDCANCEL;
  if (answer != L"none")
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
  return 0;
}

int Tamper(const std::wstring& file, const wchar_t* program) {
  std::ifstream in(std::filesystem::path(program), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::wstring moved = file + L".moved";
  int wrote = 0, renamed = 0, deleted = 0;
  while (!Stopped()) {
    if (Put(file, bytes, OPEN_EXISTING)) {
      ++wrote;
    } else if (MoveFileExW(file.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      ++renamed;
      Put(file, bytes, CREATE_NEW);
    } else if (DeleteFileW(file.c_str())) {
      ++deleted;
      Put(file, bytes, CREATE_NEW);
    }
    Sleep(2);
  }
  std::printf("wrote %d renamed %d deleted %d\n", wrote, renamed, deleted);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"box" && argc == 3) return Box(argv[2]);
  if (mode == L"tamper" && argc == 4) return Tamper(argv[2], argv[3]);
  if (mode == L"load") {
    for (int i = 2; i < argc; ++i) LoadLibraryW(argv[i]);
    return 0;
  }
  if (mode == L"hold" && argc == 3) {
    HANDLE held = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                              nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    std::puts("holding");
    std::fflush(stdout);
    while (!Stopped()) Sleep(20);
    CloseHandle(held);
    return 0;
  }
  std::fputs("usage: peer box|load|hold|tamper ...\n", stderr);
  return 2;
}
