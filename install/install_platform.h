#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/window_handle.h"

// The platform operations of the install workflow as plain free functions.
// The Windows layer (install_platform_win32.cpp) makes the Win32 calls; the
// native tests link a recording fake instead (install_test.cpp).

// An open registry key, opaque to portable code.
struct RegistryKeyTag;
using RegistryKey = RegistryKeyTag*;

// True when the running system's (major, minor, service-pack major) is at
// least the one given (VerSetConditionMask / VerifyVersionInfoW).
bool IsOsVersionAtLeast(std::uint16_t major, std::uint16_t minor, std::uint16_t servicePackMajor);

enum class RegistryRoot { LocalMachine, CurrentUser };

// RegOpenKeyExW(root, path, 0, KEY_READ). True on ERROR_SUCCESS with `key` set.
bool OpenRegistryKey(RegistryRoot root, const std::wstring& path, RegistryKey& key);
// RegQueryValueExW(key, name, nullptr, &type = REG_SZ, buffer, &size). The
// caller clears the buffer and sets `size` to its length in bytes. True on 0.
bool QueryRegistryValue(RegistryKey key, const std::wstring& name, unsigned char* buffer,
                        std::uint32_t& size);
// RegCloseKey.
void CloseRegistryKey(RegistryKey key);

// ShowWindow(window, SW_HIDE); the result is not examined.
void HideWindow(WindowHandle window);
// PostMessageW(window, WM_CLOSE, 0, 0); the result is not examined.
void PostCloseMessage(WindowHandle window);

// Has the desktop shell open `url` with its own ShellExecute (IShellWindows'
// desktop view, IShellDispatch2::ShellExecute), so that what it starts runs
// with the shell's rights, not ours. True when the shell reports it opened.
bool OpenThroughDesktopShell(const std::wstring& url);
// MessageBoxW(owner, text, caption, MB_OKCANCEL | MB_ICONERROR). True when
// the answer is IDOK.
bool AskOkCancel(WindowHandle owner, const std::wstring& text, const std::wstring& caption);
