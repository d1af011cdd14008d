#pragma once

#include <cstdint>
#include <string>

#include "net/digest.h"
#include "net/save_file.h"

// The setup program's file from the moment its download is finished to its
// deletion, as the install worker needs it from the platform. Its whole life,
// from its creation by the downloader (net/save_file.h) on, is kept in one
// place: setup_file_win32.cpp; natively a recording fake (install_test.cpp).
//
// The installer runs elevated and saves into a folder that every program of
// the user can write to, so the name is hostile: the file is never reached
// through a link, and after it has been let go it is only opened again, or
// deleted, while the name still names the same file.

// What the system's Authenticode check says of a file.
struct SignatureCheck {
  // 0 when the signature is valid and its chain is trusted;
  // TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT and so on
  // otherwise.
  std::int32_t status = -1;
  // Whether the signer's certificate was found, and its subject as
  // "CN=..., O=..., C=...".
  bool signerFound = false;
  std::wstring signer;
};

// What the held file holds, read through handles of its own.
struct SetupFileFacts {
  bool measured = false;  // false: it could not be read whole
  Sha256 digest{};
  std::uint64_t length = 0;
  SignatureCheck signature;  // left as is when not asked for
};

// Opens the finished file again under its name, for reading only and sharing
// read only (the setup program may read itself; nobody can write, rename or
// delete it), and holds it so until it is deleted or let go. False when the
// name no longer names the file that was written.
bool HoldSetupFile(SavedFile file);
// Reads the held file whole for its length and SHA-256 and, when
// `checkSignature`, checks its signature, both at once. No user interface and
// no network: the call never waits on a server.
SetupFileFacts ExamineSetupFile(SavedFile file, bool checkSignature);
// Starts the held program under its name, without arguments, and waits until
// it has ended. False when it could not be started.
bool RunSetupProgram(SavedFile file);
