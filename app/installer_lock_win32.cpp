// The lock that keeps a second installer from running. It is a named mutex
// that exists while we hold a handle to it: ownership is never taken, so any
// thread can let it go by closing the handle.
//
// The installer is elevated, and any program of the user could take a name in
// the session's namespace first and so stop every install. The mutex lives in
// a private namespace whose boundary holds the Administrators group, which
// only an administrator can create or open, and both carry a descriptor that
// only SYSTEM and Administrators may open, so no such program can hold the
// lock alive either. Where the system refuses private namespaces (Wine has
// none), the name goes in the session's namespace instead.
#include "app/installer_lock_win32.h"

#include <sddl.h>

#include "common/handles_win32.h"

namespace {

const wchar_t kNamespace[] = L"VelnorInstaller";
const wchar_t kPrivateName[] = L"VelnorInstaller\\Install";
const wchar_t kSessionName[] = L"Local\\VelnorInstaller.Install";
// The window property that names the lock holder's window; an old window left
// open after a failure no longer carries it.
const wchar_t kHolderMark[] = L"VelnorInstaller.HoldsLock";
const wchar_t kAdminsOnly[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

struct Lock {
  HANDLE privateNamespace = nullptr;
  HANDLE mutex = nullptr;
  HWND window = nullptr;
};
Lock lock;

// The private namespace, created or opened; null where it cannot be had.
HANDLE OpenAdminNamespace(SECURITY_ATTRIBUTES& attributes) {
  // Wine's CreateBoundaryDescriptorW returns null without an error code, and
  // calling its next three ends the process: each only after the one before.
  HANDLE boundary = CreateBoundaryDescriptorW(kNamespace, 0);
  if (boundary == nullptr) return nullptr;
  HANDLE opened = nullptr;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sid;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) &&
      AddSIDToBoundaryDescriptor(&boundary, sid)) {
    opened = CreatePrivateNamespaceW(&attributes, boundary, kNamespace);
    if (opened == nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
      opened = OpenPrivateNamespaceW(boundary, kNamespace);
  }
  DeleteBoundaryDescriptor(boundary);
  return opened;
}

BOOL CALLBACK FindHolderWindow(HWND window, LPARAM found) {
  if (GetPropW(window, kHolderMark) != nullptr) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// The holder's window, restored if minimised, with its prompt on top if one
// is open. This
// process was just started by the user and may take the foreground; it hands
// that right to the holder, whose window it brings.
void BringHolderForward() {
  HWND holder = nullptr;
  EnumWindows(FindHolderWindow, reinterpret_cast<LPARAM>(&holder));
  if (holder == nullptr || !IsWindowVisible(holder)) return;
  DWORD process = 0;
  GetWindowThreadProcessId(holder, &process);
  AllowSetForegroundWindow(process);
  // Never waits on the other process's threads.
  if (IsIconic(holder)) ShowWindowAsync(holder, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(holder));
}

}  // namespace

bool BecomeTheOnlyInstaller() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminsOnly, SDDL_REVISION_1,
                                                            &descriptor, nullptr))
    return true;
  LocalMemory owned(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE adminNamespace = OpenAdminNamespace(attributes);
  HANDLE mutex =
      CreateMutexW(&attributes, FALSE, adminNamespace != nullptr ? kPrivateName : kSessionName);
  const bool exists = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
  if (mutex == nullptr || exists) {
    if (mutex != nullptr) CloseHandle(mutex);
    if (adminNamespace != nullptr) ClosePrivateNamespace(adminNamespace, 0);
    if (exists) BringHolderForward();
    return !exists;
  }
  lock.privateNamespace = adminNamespace;
  lock.mutex = mutex;
  return true;
}

void MarkInstallerWindow(HWND window) {
  if (lock.mutex == nullptr || !SetPropW(window, kHolderMark, reinterpret_cast<HANDLE>(1))) return;
  lock.window = window;
}

void ReleaseInstallerLock() {
  if (lock.window != nullptr) RemovePropW(lock.window, kHolderMark);
  if (lock.mutex != nullptr) CloseHandle(lock.mutex);
  if (lock.privateNamespace != nullptr) ClosePrivateNamespace(lock.privateNamespace, 0);
  lock = Lock{};
}
