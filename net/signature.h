#pragma once

#include <cstdint>
#include <string>

#include "net/save_file.h"

// What the system's Authenticode check says of a saved file
// (signature_win32.cpp: WinVerifyTrust); natively a fake in the test.
struct SignatureCheck {
  // WinVerifyTrust's result: 0 when the signature is valid and its chain is
  // trusted; TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT and
  // so on otherwise.
  std::int32_t status = -1;
  // Whether the signer's certificate was found in the trust provider's data,
  // and its subject as "CN=..., O=..., C=..." (CertNameToStrW with
  // CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG).
  bool signerFound = false;
  std::wstring signer;
};

// Checks the signature of the file through the handle it is held by, so that
// what is checked is exactly what will be started. No user interface, no
// revocation check and no network retrieval: the call never waits on a server.
SignatureCheck CheckSignature(SavedFile file);
