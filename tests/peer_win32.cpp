// The stand-in setup program that the installer downloads and starts, and a
// second program of its Wine prefix. It waits 90 s at most.
//   peer                       as the setup program: tries to rename its own file, writes
//                              setup.log and a copy of that file (setup.bin) there, loads
//                              the DLLs there unprotected, and ends once no setup.hold is there
//   peer box <ok|cancel|none>  prints the text of the box "系统提示" and answers it
//   peer try <file>            once <file> exists, tries once each to open it for writing,
//                              rename it and delete it; prints each try's error code (0: done)
//   peer read                  as a screen reader: prints "hooked", the installer's client object
//                              as "role<TAB>name<TAB>value<TAB>description" once shown, then the
//                              value after each of its value-change events until one is new
#include <fcntl.h>
#include <io.h>
#include <oleacc.h>
#include <share.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const ULONGLONG kDeadline = GetTickCount64() + 90000;
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Stopped() { return GetTickCount64() > kDeadline; }

DWORD Outcome(BOOL done) { return done ? 0 : GetLastError(); }

int Setup(int argc) {
  wchar_t cwd[MAX_PATH] = {}, module[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  HWND window = FindWindowW(L"VelnorInstaller", L"Velnor Installer");
  // Renaming its own file, which the installer holds while it runs, must fail.
  const std::wstring moved = std::wstring(module) + L".moved";
  const DWORD rename = Outcome(MoveFileExW(module, moved.c_str(), 0));
  FILE* log = _wfopen(L"setup.log", L"w, ccs=UTF-8");
  std::fwprintf(log, L"argc\t%d\ncwd\t%ls\nmodule\t%ls\nwindow\t%ls\nrename\t%lu\n", argc, cwd,
                module,
                !window                   ? L"none"
                : IsWindowVisible(window) ? L"visible"
                                          : L"hidden",
                rename);
  std::fclose(log);
  // As self-extracting setup programs read themselves: sharing read access only.
  FILE* self = _wfsopen(module, L"rb", _SH_DENYWR);
  FILE* copy = self ? _wfopen(L"setup.bin", L"wb") : nullptr;
  char buffer[1 << 16];
  for (std::size_t got; copy && (got = std::fread(buffer, 1, sizeof buffer, self)) > 0;)
    std::fwrite(buffer, 1, got, copy);
  if (copy) std::fclose(copy);
  if (self) std::fclose(self);
  WIN32_FIND_DATAW dll = {};
  HANDLE search = FindFirstFileW(L"*.dll", &dll);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &dll))
    LoadLibraryW(dll.cFileName);
  while (GetFileAttributesW(L"setup.hold") != INVALID_FILE_ATTRIBUTES && !Stopped()) Sleep(20);
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

int Try(const std::wstring& file) {
  while (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (Stopped()) return 1;
    Sleep(10);
  }
  HANDLE handle =
      CreateFileW(file.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  const DWORD write = Outcome(handle != INVALID_HANDLE_VALUE);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  const DWORD rename = Outcome(MoveFileExW(file.c_str(), (file + L".moved").c_str(), 0));
  std::printf("%lu %lu %lu\n", write, rename, Outcome(DeleteFileW(file.c_str())));
  return 0;
}

HWND installer = nullptr;
std::wstring firstValue;  // as read from the window
bool valueChanged = false;

std::wstring Read(IAccessible* object, VARIANT child,
                  HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) {
  BSTR text = nullptr;
  std::wstring result = SUCCEEDED((object->*get)(child, &text)) && text ? text : L"?";
  SysFreeString(text);
  return result;
}

void CALLBACK OnValueChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                            DWORD) {
  IAccessible* accessible = nullptr;
  VARIANT id{};
  if (window != installer ||
      FAILED(AccessibleObjectFromEvent(window, object, child, &accessible, &id)))
    return;
  const std::wstring value = Read(accessible, id, &IAccessible::get_accValue);
  accessible->Release();
  std::wprintf(L"%ls\n", value.c_str());
  valueChanged = value != firstValue;
}

int ReadWindow() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  _setmode(_fileno(stdout), _O_U8TEXT);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (!SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, OnValueChange,
                       0, 0, WINEVENT_OUTOFCONTEXT))
    return 1;
  std::wprintf(L"hooked\n");
  IAccessible* client = nullptr;
  // Events queue up meanwhile; they are taken once the window has been read.
  while (!(installer = FindWindowW(L"VelnorInstaller", nullptr)) || !IsWindowVisible(installer) ||
         FAILED(AccessibleObjectFromWindow(installer, static_cast<DWORD>(OBJID_CLIENT),
                                           __uuidof(IAccessible),
                                           reinterpret_cast<void**>(&client)))) {
    if (Stopped()) return 1;
    Sleep(20);
  }
  VARIANT self{}, role{};
  self.vt = VT_I4, self.lVal = CHILDID_SELF;
  client->get_accRole(self, &role);
  firstValue = Read(client, self, &IAccessible::get_accValue);
  std::wprintf(L"%ld\t%ls\t%ls\t%ls\n", role.lVal,
               Read(client, self, &IAccessible::get_accName).c_str(), firstValue.c_str(),
               Read(client, self, &IAccessible::get_accDescription).c_str());
  client->Release();
  for (MSG message; !valueChanged && !Stopped(); Sleep(20))
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  return valueChanged ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 1) return Setup(argc);
  const std::wstring mode = argv[1];
  if (mode == L"box" && argc == 3) return Box(argv[2]);
  if (mode == L"try" && argc == 3) return Try(argv[2]);
  if (mode == L"read") return ReadWindow();
  return 2;
}
