#include "common/com_lockdown_win32.h"

// sddl.h needs the types of windows.h.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <sddl.h>
// clang-format on

namespace {

bool lockedDown = false;

// Who may call into the process's COM objects, of which there is one: the
// progress bar's accessible object, read by screen readers. They run at medium
// integrity, as the signed-in user (who need not be the account the installer
// was elevated with), as an administrator or as SYSTEM. So: local calls only
// (0x3: COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL) from SYSTEM,
// Administrators and interactive users; none from the network or from service
// accounts other than SYSTEM; and (the label) none from below medium integrity,
// such as a sandboxed process. Owner and group are set, as COM requires.
const wchar_t kComCallers[] = L"O:BAG:BAD:(A;;0x3;;;SY)(A;;0x3;;;BA)(A;;0x3;;;IU)S:(ML;;NX;;;ME)";

}  // namespace

// Joins this thread to a single-threaded apartment for the whole process (the
// screen readers' calls then arrive through the message loop, between the
// window's messages) and sets the process's COM security before any object
// crosses a process boundary. The installer is elevated and calls into the
// desktop shell to open the browser, and any program of the user can stand in
// for the shell: no custom unmarshaller is loaded for what it answers
// (EOAC_NO_CUSTOM_MARSHAL), COM does not start a shell with our token when none
// runs (EOAC_DISABLE_AAA), and what we call may learn who we are but not act as
// us (RPC_C_IMP_LEVEL_IDENTIFY). Should a step fail, COM keeps its defaults,
// and IsComLockedDown says so.
bool LockDownCom() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
  // CoInitializeSecurity takes the absolute form: one pointing into the parsed
  // descriptor, both kept for the process.
  PSECURITY_DESCRIPTOR parsed = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kComCallers, SDDL_REVISION_1, &parsed,
                                                            nullptr))
    return false;
  static SECURITY_DESCRIPTOR callers;
  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!InitializeSecurityDescriptor(&callers, SECURITY_DESCRIPTOR_REVISION) ||
      !GetSecurityDescriptorOwner(parsed, &owner, &defaulted) ||
      !SetSecurityDescriptorOwner(&callers, owner, FALSE) ||
      !GetSecurityDescriptorGroup(parsed, &group, &defaulted) ||
      !SetSecurityDescriptorGroup(&callers, group, FALSE) ||
      !GetSecurityDescriptorDacl(parsed, &present, &dacl, &defaulted) ||
      !SetSecurityDescriptorDacl(&callers, TRUE, dacl, FALSE) ||
      !GetSecurityDescriptorSacl(parsed, &present, &sacl, &defaulted) ||
      !SetSecurityDescriptorSacl(&callers, TRUE, sacl, FALSE))
    return false;
  lockedDown = SUCCEEDED(CoInitializeSecurity(
      &callers, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
      EOAC_NO_CUSTOM_MARSHAL | EOAC_DISABLE_AAA, nullptr));
  return lockedDown;
}

bool IsComLockedDown() { return lockedDown; }
