// Prints what the descriptor that the setup program's file is created with
// allows, walked as the system applies it: "protected=<0|1> owner=<SID>", a
// "writer=<SID>" for each ACE granting any change, then "label=<SID>/<policy>".
#include <windows.h>
// sddl.h needs the types of windows.h.
#include <sddl.h>

#include <cstdio>
#include <string>

#include "common/handles_win32.h"
#include "setupfile/setup_file.h"

static std::string Text(PSID sid) {
  char* text = nullptr;
  const std::string result = ConvertSidToStringSidA(sid, &text) ? text : "none";
  LocalFree(text);
  return result;
}

int main() {
  PSECURITY_DESCRIPTOR parsed = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupFileRights, SDDL_REVISION_1, &parsed,
                                                       nullptr);
  const LocalMemory descriptor(parsed);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!descriptor || !GetSecurityDescriptorControl(descriptor.get(), &control, &revision) ||
      !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !dacl ||
      !GetSecurityDescriptorSacl(descriptor.get(), &present, &sacl, &defaulted))
    return 1;
  std::printf("protected=%d owner=%s", (control & SE_DACL_PROTECTED) != 0, Text(owner).c_str());
  GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                           FILE_ALL_ACCESS};
  ACCESS_ALLOWED_ACE* ace = nullptr;  // a label's ACE has the same layout: header, mask, SID
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return 1;
    DWORD mask = ace->Mask;
    MapGenericMask(&mask, &files);
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        (mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                 DELETE | WRITE_DAC | WRITE_OWNER)))
      std::printf(" writer=%s", Text(&ace->SidStart).c_str());
  }
  if (sacl && sacl->AceCount == 1 && GetAce(sacl, 0, reinterpret_cast<void**>(&ace)) &&
      ace->Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE)
    std::printf(" label=%s/%lu", Text(&ace->SidStart).c_str(), ace->Mask);
  std::printf("\n");
  return 0;
}
