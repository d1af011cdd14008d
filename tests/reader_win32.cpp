// A screen reader's view of the installer, from another program of its
// prefix. It hooks EVENT_OBJECT_VALUECHANGE out of context and prints
// "hooked", then once the window shows prints its client object read through
// AccessibleObjectFromWindow, "role<TAB>name<TAB>value<TAB>description", and
// then for each value-change event of that window the value read through
// AccessibleObjectFromEvent, until one differs from the first (exit 0). 60 s at most.
#include <windows.h>
// clang-format off: after windows.h
#include <oleacc.h>
// clang-format on

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

namespace {

using Getter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);

HWND installer = nullptr;
std::wstring first;  // the value read from the window
bool changed = false;

std::wstring Read(IAccessible* object, VARIANT child, Getter get) {
  BSTR text = nullptr;
  std::wstring result = SUCCEEDED((object->*get)(child, &text)) && text ? text : L"?";
  SysFreeString(text);
  return result;
}

void Print(const std::wstring& line) {
  std::fputws((line + L"\n").c_str(), stdout);
  std::fflush(stdout);
}

void CALLBACK OnValueChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                            DWORD) {
  IAccessible* accessible = nullptr;
  VARIANT id{};
  if (window != installer || first.empty() ||
      FAILED(AccessibleObjectFromEvent(window, object, child, &accessible, &id)))
    return;
  const std::wstring value = Read(accessible, id, &IAccessible::get_accValue);
  accessible->Release();
  Print(value);
  changed = value != first;
}

}  // namespace

int wmain() {
  _setmode(_fileno(stdout), _O_U8TEXT);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr,
                                       OnValueChange, 0, 0, WINEVENT_OUTOFCONTEXT);
  Print(hook ? L"hooked" : L"no hook");
  for (const ULONGLONG deadline = GetTickCount64() + 60000; !changed && GetTickCount64() < deadline;
       MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT)) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    IAccessible* client = nullptr;
    if (!first.empty() || !(installer = FindWindowW(L"VelnorInstaller", nullptr)) ||
        !IsWindowVisible(installer) ||
        FAILED(AccessibleObjectFromWindow(installer, static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&client))))
      continue;
    VARIANT self{}, role{};
    self.vt = VT_I4, self.lVal = CHILDID_SELF;
    client->get_accRole(self, &role);
    first = Read(client, self, &IAccessible::get_accValue);
    Print(std::to_wstring(role.lVal) + L"\t" + Read(client, self, &IAccessible::get_accName) +
          L"\t" + first + L"\t" + Read(client, self, &IAccessible::get_accDescription));
    client->Release();
  }
  UnhookWinEvent(hook);
  return changed ? 0 : 1;
}
