// The Win32 side of install_platform.h.
#include <windows.h>

#include "common/com_lockdown_win32.h"
#include "install/install_platform.h"
// These need the types of windows.h; shellapi.h comes before shldisp.h, so that
// both name IShellDispatch2's ShellExecute alike (ShellExecuteW).
#include <exdisp.h>
#include <ole2.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// One COM reference, released when the holder ends: holders declared in the
// order of the calls release in reverse.
template <typename T>
struct ComRef {
  T* p = nullptr;
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p != nullptr) p->Release();
  }
  void** out() { return reinterpret_cast<void**>(&p); }
};

// The shell windows' desktop view, its browser, its active view, the view's
// automation object and its application: the shell's own ShellExecute.
bool ShellExecuteInDesktopShell(const std::wstring& url) {
  ComRef<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              windows.out())))
    return false;
  VARIANT desktop = {}, noRoot = {};
  V_VT(&desktop) = VT_I4;
  V_I4(&desktop) = CSIDL_DESKTOP;
  LONG desktopWindow = 0;
  ComRef<IDispatch> found;
  // S_FALSE: there is no desktop window.
  if (windows.p->FindWindowSW(&desktop, &noRoot, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                              &found.p) != S_OK ||
      found.p == nullptr)
    return false;
  ComRef<IServiceProvider> services;
  if (FAILED(found.p->QueryInterface(IID_IServiceProvider, services.out()))) return false;
  ComRef<IShellBrowser> browser;
  if (FAILED(services.p->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.out())))
    return false;
  ComRef<IShellView> view;
  if (FAILED(browser.p->QueryActiveShellView(&view.p)) || view.p == nullptr) return false;
  ComRef<IDispatch> background;
  if (FAILED(view.p->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.out())))
    return false;
  ComRef<IShellFolderViewDual> folderView;
  if (FAILED(background.p->QueryInterface(IID_IShellFolderViewDual, folderView.out())))
    return false;
  ComRef<IDispatch> application;
  if (FAILED(folderView.p->get_Application(&application.p)) || application.p == nullptr)
    return false;
  ComRef<IShellDispatch2> shell;
  if (FAILED(application.p->QueryInterface(IID_IShellDispatch2, shell.out()))) return false;
  BSTR file = SysAllocString(url.c_str());
  if (file == nullptr) return false;
  VARIANT none = {}, show = {};
  V_VT(&show) = VT_I4;
  V_I4(&show) = SW_SHOWNORMAL;
  // S_FALSE: the shell could not open it.
  const HRESULT result = shell.p->ShellExecute(file, none, none, none, show);
  SysFreeString(file);
  return result == S_OK;
}

}  // namespace

bool IsOsVersionAtLeast(std::uint16_t major, std::uint16_t minor, std::uint16_t servicePackMajor) {
  OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.wServicePackMajor = servicePackMajor;
  ULONGLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                            mask) != FALSE;
}

bool ReadRegistryValue(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                       std::vector<unsigned char>& bytes) {
  bytes.clear();
  HKEY key = nullptr;
  if (RegOpenKeyExW(RootKey(root), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  // A cleared buffer of the limit: a larger value is not read at all.
  unsigned char buffer[kRegistryValueLimit] = {};
  DWORD type = REG_SZ;  // never looked at
  DWORD size = sizeof buffer;
  const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, &type, buffer, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return false;
  bytes.assign(buffer, buffer + size);
  return true;
}

void HideInstallerWindow(WindowHandle window) {
  ShowWindow(reinterpret_cast<HWND>(window), SW_HIDE);
}

void CloseInstallerWindow(WindowHandle window) {
  PostMessageW(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
}

bool OpenThroughDesktopShell(const std::wstring& url) {
  // With COM's defaults, what answers in the shell's place could have us load
  // its unmarshaller or act as us: as without a shell, nothing is opened.
  if (!IsComLockedDown()) return false;
  // The worker thread has no COM of its own. A thread already in another
  // apartment stays in it (the init fails, and there is nothing to undo).
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool opened = ShellExecuteInDesktopShell(url);
  if (SUCCEEDED(init)) CoUninitialize();
  return opened;
}

bool AskInErrorBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption) {
  return MessageBoxW(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(),
                     MB_OKCANCEL | MB_ICONERROR) == IDOK;
}
