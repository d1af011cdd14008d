#pragma once

// The security descriptor the setup program's file is created with, for the
// test that inspects it (Wine keeps no descriptor on files to read back).

#include <windows.h>

#include <memory>

struct LocalFreer {
  void operator()(void* memory) const { LocalFree(memory); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalFreer>;

// Owner Administrators, a protected DACL granting full control to SYSTEM and
// Administrators only and read and execute to Authenticated Users, and a high
// mandatory label that forbids writing up. Null when it cannot be built.
SecurityDescriptor NewSetupFileDescriptor();
