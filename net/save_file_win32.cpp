#include "net/save_file.h"

#include <windows.h>
#include <wincrypt.h>

#include "common/text_win32.h"

namespace {

HANDLE Handle(FileHandle file) { return static_cast<HANDLE>(file); }

FileHandle OpenFile(const std::string& path, DWORD access, DWORD disposition) {
  std::wstring name;
  if (!WideFromUtf8(path, name)) return nullptr;
  // Sharing read only: while we hold the file nobody else can change,
  // rename or delete it, and a file someone holds open for writing cannot be
  // opened at all.
  HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

struct Digest {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
};

void Release(Digest* digest) {
  if (digest->hash) CryptDestroyHash(digest->hash);
  if (digest->provider) CryptReleaseContext(digest->provider, 0);
  delete digest;
}

}  // namespace

FileHandle CreateSaveFile(const std::string& path) {
  // Delete access, so that a download that goes wrong removes this very file.
  return OpenFile(path, GENERIC_WRITE | DELETE, CREATE_ALWAYS);
}

bool WriteSaveFile(FileHandle file, const void* bytes, std::uint32_t size) {
  DWORD written = 0;
  return WriteFile(Handle(file), bytes, size, &written, nullptr) && written == size;
}

FileHandle OpenSavedFile(const std::string& path) {
  return OpenFile(path, GENERIC_READ | DELETE, OPEN_EXISTING);
}

bool ReadSavedFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t& got) {
  DWORD count = 0;
  const BOOL ok = ReadFile(Handle(file), buffer, size, &count, nullptr);
  got = ok ? count : 0;
  return ok != FALSE;
}

void DeleteSavedFile(FileHandle file) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(Handle(file), FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(Handle(file));
}

void CloseSavedFile(FileHandle file) { CloseHandle(Handle(file)); }

DigestHandle BeginDigest() {
  auto* digest = new Digest;
  if (!CryptAcquireContextW(&digest->provider, nullptr, nullptr, PROV_RSA_AES,
                            CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(digest->provider, CALG_SHA_256, 0, 0, &digest->hash)) {
    Release(digest);
    return nullptr;
  }
  return digest;
}

bool AddToDigest(DigestHandle handle, const void* bytes, std::uint32_t size) {
  auto* digest = static_cast<Digest*>(handle);
  return CryptHashData(digest->hash, static_cast<const BYTE*>(bytes), size, 0) != FALSE;
}

bool FinishDigest(DigestHandle handle, Sha256& value) {
  auto* digest = static_cast<Digest*>(handle);
  DWORD size = static_cast<DWORD>(value.size());
  const bool ok = CryptGetHashParam(digest->hash, HP_HASHVAL, value.data(), &size, 0) &&
                  size == value.size();
  Release(digest);
  return ok;
}
