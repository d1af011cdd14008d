// Prints what the descriptor that the setup program's file is created with
// allows, walked as the system applies it:
//   "protected=<0|1> owner=<SID> writers=<SIDs granted any change> label=<SID>/<mask>"
#include <windows.h>
// sddl.h needs the types of windows.h.
#include <sddl.h>

#include <cstdio>
#include <string>

#include "common/handles_win32.h"
#include "install/setup_file.h"

namespace {

std::string Text(PSID sid) {
  char* text = nullptr;
  const std::string result = sid && ConvertSidToStringSidA(sid, &text) ? text : "none";
  LocalFree(text);
  return result;
}

}  // namespace

int main() {
  PSECURITY_DESCRIPTOR parsed = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupFileRights, SDDL_REVISION_1, &parsed,
                                                       nullptr);
  const LocalMemory descriptor(parsed);
  if (!descriptor || !IsValidSecurityDescriptor(descriptor.get())) return std::puts("unparsed"), 1;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
  BOOL defaulted = FALSE, hasDacl = FALSE, hasSacl = FALSE;
  GetSecurityDescriptorControl(descriptor.get(), &control, &revision);
  GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor.get(), &hasDacl, &dacl, &defaulted);
  GetSecurityDescriptorSacl(descriptor.get(), &hasSacl, &sacl, &defaulted);
  GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                           FILE_ALL_ACCESS};
  const DWORD change = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                       DELETE | WRITE_DAC | WRITE_OWNER;
  std::string writers, label = "none";
  ACCESS_ALLOWED_ACE* ace = nullptr;
  for (DWORD i = 0; hasDacl && dacl && i < dacl->AceCount; ++i) {
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return std::puts("bad ace"), 1;
    DWORD mask = ace->Mask;
    MapGenericMask(&mask, &files);
    if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (mask & change) != 0)
      writers += (writers.empty() ? "" : ",") + Text(&ace->SidStart);
  }
  // The label's ACE has the layout of an allowed ACE: header, mask, SID.
  if (hasSacl && sacl && sacl->AceCount == 1 && GetAce(sacl, 0, reinterpret_cast<void**>(&ace)) &&
      ace->Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE)
    label = Text(&ace->SidStart) + "/" + std::to_string(ace->Mask);
  std::printf("protected=%d owner=%s writers=%s label=%s\n", (control & SE_DACL_PROTECTED) != 0,
              Text(owner).c_str(), writers.c_str(), label.c_str());
  return 0;
}
