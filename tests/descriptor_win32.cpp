// Prints what the descriptor that the setup program's file is created with
// allows, walked as the system would apply it:
//   "protected=<0|1> owner=<BA|other> writers=<trustees granted any change> label=<HI-NW|...>"
#include <windows.h>

#include <cstdio>
#include <string>

#include "install/setup_file_win32.h"

namespace {

std::string Trustee(PSID sid) {
  for (const auto& [kind, name] : {std::pair{WinLocalSystemSid, "SY"},
                                   {WinBuiltinAdministratorsSid, "BA"},
                                   {WinAuthenticatedUserSid, "AU"}}) {
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    if (CreateWellKnownSid(kind, nullptr, known, &size) && EqualSid(sid, known)) return name;
  }
  return "other";
}

}  // namespace

int main() {
  SecurityDescriptor descriptor = NewSetupFileDescriptor();
  if (!descriptor || !IsValidSecurityDescriptor(descriptor.get())) return std::puts("unparsed"), 1;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
  PACL dacl = nullptr, sacl = nullptr;
  GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
  std::string writers;
  GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                           FILE_ALL_ACCESS};
  const DWORD change = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                       DELETE | WRITE_DAC | WRITE_OWNER;
  for (DWORD i = 0; present && dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return std::puts("bad ace"), 1;
    DWORD mask = ace->Mask;
    MapGenericMask(&mask, &files);
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (mask & change) != 0)
      writers += (writers.empty() ? "" : ",") + Trustee(&ace->SidStart);
  }
  std::string label = "none";
  GetSecurityDescriptorSacl(descriptor.get(), &present, &sacl, &defaulted);
  SYSTEM_MANDATORY_LABEL_ACE* ace = nullptr;
  if (present && sacl && sacl->AceCount == 1 && GetAce(sacl, 0, reinterpret_cast<void**>(&ace)) &&
      ace->Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
    BYTE high[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof high;
    CreateWellKnownSid(WinHighLabelSid, nullptr, high, &size);
    label = std::string(EqualSid(&ace->SidStart, high) ? "HI" : "other") +
            (ace->Mask == SYSTEM_MANDATORY_LABEL_NO_WRITE_UP ? "-NW" : "-other");
  }
  std::printf("protected=%d owner=%s writers=%s label=%s\n", (control & SE_DACL_PROTECTED) != 0,
              owner ? Trustee(owner).c_str() : "none", writers.c_str(), label.c_str());
  return 0;
}
