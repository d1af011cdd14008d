#include "common/digest.h"

#include <windows.h>
// wincrypt.h needs the types of windows.h.
#include <wincrypt.h>

struct RunningDigestTag {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
};

namespace {

void Release(RunningDigest digest) {
  if (digest->hash) CryptDestroyHash(digest->hash);
  if (digest->provider) CryptReleaseContext(digest->provider, 0);
  delete digest;
}

}  // namespace

RunningDigest BeginDigest() {
  auto* digest = new RunningDigestTag;
  if (!CryptAcquireContextW(&digest->provider, nullptr, nullptr, PROV_RSA_AES,
                            CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(digest->provider, CALG_SHA_256, 0, 0, &digest->hash)) {
    Release(digest);
    return nullptr;
  }
  return digest;
}

bool AddToDigest(RunningDigest digest, const void* bytes, std::uint32_t size) {
  return CryptHashData(digest->hash, static_cast<const BYTE*>(bytes), size, 0) != FALSE;
}

bool FinishDigest(RunningDigest digest, Sha256& value) {
  DWORD size = static_cast<DWORD>(value.size());
  const bool ok =
      CryptGetHashParam(digest->hash, HP_HASHVAL, value.data(), &size, 0) && size == value.size();
  Release(digest);
  return ok;
}
