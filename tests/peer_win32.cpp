// The stand-in setup program that the installer starts, and a second program
// of its Wine prefix. Each gives up after 90 s.
//   peer               the setup program: logs argc and the error of renaming its own
//                      (held) file to setup.log, loads the DLLs beside it, and ends once
//                      setup.hold is gone
//   peer box ok|cancel prints the text of the box "系统提示" and answers it
//   peer try FILE      once FILE exists, prints the errors (0: done) of opening it for
//                      writing, renaming it and deleting it
//   peer read          a screen reader: after each value-change event, prints the object's
//                      "role<TAB>name<TAB>value<TAB>description", until a value differs
//                      from the first
//   peer speed         prints the description (the speed) of the installer's bar once
#include <fcntl.h>
#include <io.h>
#include <oleacc.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const ULONGLONG kDeadline = GetTickCount64() + 90000;

template <typename Ready>
bool WaitFor(Ready ready) {
  for (; !ready(); Sleep(20))
    if (GetTickCount64() > kDeadline) return false;
  return true;
}

DWORD Error(BOOL done) { return done ? 0 : GetLastError(); }

int Setup(int argc) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  FILE* log = _wfopen(L"setup.log", L"w");
  std::fprintf(log, "argc\t%d\nrename\t%lu\n", argc, Error(MoveFileExW(self, L"moved.exe", 0)));
  std::fclose(log);
  WIN32_FIND_DATAW dll = {};
  HANDLE search = FindFirstFileW(L"*.dll", &dll);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &dll))
    LoadLibraryW(dll.cFileName);
  WaitFor([] { return GetFileAttributesW(L"setup.hold") == INVALID_FILE_ATTRIBUTES; });
  return 0;
}

int Box(bool ok) {
  HWND box = nullptr;
  wchar_t text[2048] = {};
  if (!WaitFor([&] {
        box = FindWindowW(L"#32770", L"系统提示");
        return box && IsWindowVisible(box) && GetDlgItemTextW(box, 0xFFFF, text, 2048);
      }))
    return 1;
  _setmode(_fileno(stdout), _O_U8TEXT);
  std::fputws(text, stdout);
  const int id = ok ? IDOK : IDCANCEL;
  PostMessageW(box, WM_COMMAND, id, reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
  return 0;
}

int Try(const std::wstring& file) {
  if (!WaitFor([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }))
    return 1;
  const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE handle =
      CreateFileW(file.c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  const DWORD write = Error(handle != INVALID_HANDLE_VALUE);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  const DWORD rename = Error(MoveFileExW(file.c_str(), (file + L".moved").c_str(), 0));
  std::printf("%lu %lu %lu\n", write, rename, Error(DeleteFileW(file.c_str())));
  return 0;
}

std::wstring firstValue;
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
  VARIANT id{}, role{};
  if (FAILED(AccessibleObjectFromEvent(window, object, child, &accessible, &id))) return;
  accessible->get_accRole(id, &role);
  const std::wstring value = Read(accessible, id, &IAccessible::get_accValue);
  std::wprintf(L"%ld\t%ls\t%ls\t%ls\n", role.lVal,
               Read(accessible, id, &IAccessible::get_accName).c_str(), value.c_str(),
               Read(accessible, id, &IAccessible::get_accDescription).c_str());
  accessible->Release();
  if (firstValue.empty()) firstValue = value;
  valueChanged = value != firstValue;
}

int ReadWindow() {
  _setmode(_fileno(stdout), _O_U8TEXT);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (!SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, OnValueChange,
                       0, 0, WINEVENT_OUTOFCONTEXT))
    return 1;
  const bool changed = WaitFor([] {
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
    return valueChanged;
  });
  return changed ? 0 : 1;
}

int ReadSpeed() {
  _setmode(_fileno(stdout), _O_U8TEXT);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IAccessible* bar = nullptr;
  HWND window = FindWindowW(L"VelnorInstaller", nullptr);
  if (!window || FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                                   reinterpret_cast<void**>(&bar))))
    return 1;
  VARIANT self{};
  self.vt = VT_I4;
  std::fputws(Read(bar, self, &IAccessible::get_accDescription).c_str(), stdout);
  bar->Release();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 1) return Setup(argc);
  const std::wstring mode = argv[1];
  if (mode == L"box" && argc == 3) return Box(std::wstring(argv[2]) == L"ok");
  if (mode == L"try" && argc == 3) return Try(argv[2]);
  if (mode == L"read") return ReadWindow();
  if (mode == L"speed") return ReadSpeed();
  return 2;
}
