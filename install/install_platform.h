#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/window_handle.h"

// What the install workflow needs from the system, as plain free functions:
// Win32 in install_platform_win32.cpp, a recording fake natively
// (install_test.cpp).

// True when the running system's (major, minor, service-pack major) is at
// least the one given.
bool IsOsVersionAtLeast(std::uint16_t major, std::uint16_t minor, std::uint16_t servicePackMajor);

enum class RegistryRoot { LocalMachine, CurrentUser };
// The largest registry value read, in bytes.
inline constexpr std::size_t kRegistryValueLimit = 512;
// The bytes of the value `name` under `root`\`path`, whatever its registry
// type. False (and `bytes` empty) when the key or the value is missing or
// unreadable, or the value is larger than kRegistryValueLimit.
bool ReadRegistryValue(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                       std::vector<unsigned char>& bytes);

// Takes the window off the screen (the setup program shows its own).
void HideInstallerWindow(WindowHandle window);
// Closes the window, as its close box does, once the worker is done.
void CloseInstallerWindow(WindowHandle window);

// Has the desktop shell open `url`, so that what it starts runs with the
// shell's rights, not ours. True when the shell reports it opened; false,
// nothing opened, without a shell or when COM could not be locked down.
bool OpenThroughDesktopShell(const std::wstring& url);
// Shows `text` under `caption` in an error box owned by `owner`, and waits
// for the answer: true for OK, false for Cancel or a closed box.
bool AskInErrorBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption);
