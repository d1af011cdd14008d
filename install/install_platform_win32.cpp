// The Win32 side of install_platform.h.
#include <windows.h>

#include "install/install_platform.h"
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
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

bool OpenRegistryKey(RegistryRoot root, const std::wstring& path, RegistryKey& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(RootKey(root), path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
    return false;
  key = reinterpret_cast<RegistryKey>(opened);
  return true;
}

bool QueryRegistryValue(RegistryKey key, const std::wstring& name, unsigned char* buffer,
                        std::uint32_t& size) {
  DWORD type = REG_SZ;
  DWORD bytes = size;
  const LONG result =
      RegQueryValueExW(reinterpret_cast<HKEY>(key), name.c_str(), nullptr, &type, buffer, &bytes);
  size = bytes;
  return result == ERROR_SUCCESS;
}

void CloseRegistryKey(RegistryKey key) { RegCloseKey(reinterpret_cast<HKEY>(key)); }

void HideWindow(WindowHandle window) { ShowWindow(reinterpret_cast<HWND>(window), SW_HIDE); }

bool StartProcess(const std::wstring& applicationName, ProcessHandle& process,
                  ProcessHandle& thread) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(applicationName.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info))
    return false;
  // The caller owns both handles from here and closes them, process first.
  process = reinterpret_cast<ProcessHandle>(info.hProcess);
  thread = reinterpret_cast<ProcessHandle>(info.hThread);
  return true;
}

void WaitForProcess(ProcessHandle process) {
  WaitForSingleObject(reinterpret_cast<HANDLE>(process), INFINITE);
}

void CloseProcessHandle(ProcessHandle handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

void PostCloseMessage(WindowHandle window) {
  PostMessageW(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
}

void OpenInBrowser(const std::wstring& url) {
  ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool AskOkCancel(WindowHandle owner, const std::wstring& text, const std::wstring& caption) {
  return MessageBoxW(reinterpret_cast<HWND>(owner), text.c_str(), caption.c_str(),
                     MB_OKCANCEL | MB_ICONERROR) == IDOK;
}
