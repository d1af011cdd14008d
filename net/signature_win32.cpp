#include <windows.h>

#include "net/signature.h"
// wintrust.h and softpub.h need the types of windows.h.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "net/save_file_win32.h"

namespace {

// The subject of the certificate that signed the file, from the state data
// of a verification; false when the provider kept no signer.
bool ReadSigner(HANDLE stateData, std::wstring& subject) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  CRYPT_PROVIDER_SGNR* signer =
      provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
      signer->pasCertChain[0].pCert == nullptr)
    return false;
  CERT_NAME_BLOB* name = &signer->pasCertChain[0].pCert->pCertInfo->Subject;
  const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const DWORD size = CertNameToStrW(X509_ASN_ENCODING, name, flags, nullptr, 0);
  if (size == 0) return false;
  subject.assign(size, L'\0');
  if (CertNameToStrW(X509_ASN_ENCODING, name, flags, subject.data(), size) != size) return false;
  subject.resize(size - 1);  // the terminator
  return true;
}

}  // namespace

SignatureCheck CheckSignature(SavedFile file) {
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = file->name.c_str();
  fileInfo.hFile = file->handle.get();  // the held file itself, not whatever the name names now

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  // Revocation is not checked, and nothing may be fetched to build the chain:
  // an installer that waits on a certificate server without a bound would
  // hang where its user cannot see why. The signer is pinned by subject, and
  // the file came over TLS from the publisher's own server.
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
  SignatureCheck check;
  check.status = WinVerifyTrust(noUser, &action, &data);
  if (data.hWVTStateData != nullptr) {
    check.signerFound = ReadSigner(data.hWVTStateData, check.signer);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(noUser, &action, &data);
  }
  return check;
}
