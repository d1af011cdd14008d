// The whole life of the setup program's file: created new with a descriptor
// of our own and marked for deletion, written, kept once the whole body is
// in, held, read back and signature-checked through its own handles, started,
// waited for, and deleted as itself.
#include <windows.h>

#include "install/setup_file.h"
#include "install/setup_file_win32.h"
// These need the types of windows.h.
#include <sddl.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <system_error>
#include <thread>
#include <vector>

#include "common/files_win32.h"
#include "common/text_win32.h"

// The file under its name, with the identity of the file that was created
// there, so that it is only ever opened again or deleted as itself.
struct SavedFileTag {
  std::wstring name;
  UniqueHandle handle;    // the writer until finished, then the hold; none after a failed hold
  bool finished = false;  // the delete mark set at creation has been cleared
  DWORD volume = 0;
  ULARGE_INTEGER index = {};
};

namespace {

bool Identify(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(handle, &info) != FALSE;
}

bool IsSameFile(const SavedFileTag& file, const BY_HANDLE_FILE_INFORMATION& info) {
  return info.dwVolumeSerialNumber == file.volume && info.nFileIndexHigh == file.index.HighPart &&
         info.nFileIndexLow == file.index.LowPart &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

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

SignatureCheck CheckSignature(const SavedFileTag& file) {
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = file.name.c_str();
  fileInfo.hFile = file.handle.get();  // the held file itself, not whatever the name names now

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

// Length and SHA-256 of the held file, read through a second handle to the
// very same file (never a new open by name), from its start. The file was
// hashed as it was written; this reads back what will be started, because
// volumes without security descriptors (FAT32, exFAT) cannot keep others from
// writing to it before it was held.
bool Measure(HANDLE held, Sha256& digest, std::uint64_t& length) {
  UniqueHandle reader(ReOpenFile(held, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN));
  if (reader.get() == INVALID_HANDLE_VALUE) reader.release();
  RunningDigest running = reader ? BeginDigest() : nullptr;
  if (running == nullptr) return false;
  std::vector<char> buffer(1 << 20);
  bool ok = true;
  length = 0;
  for (DWORD count = 0;; length += count) {
    ok = ReadFile(reader.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count,
                  nullptr) != FALSE;
    if (!ok || count == 0) break;
    ok = AddToDigest(running, buffer.data(), count);
    if (!ok) break;
  }
  return FinishDigest(running, digest) && ok;
}

}  // namespace

SecurityDescriptor NewSetupFileDescriptor() {
  // Owner Administrators: an owner may always read and change the DACL, so it
  // must not be the user. Protected, so nothing is inherited from a folder
  // like Downloads where the user's programs have full control: full control
  // for SYSTEM and Administrators, read and execute for Authenticated Users
  // (not the token's user, who is another account when other credentials
  // elevated us), so no program of the user can write it, change its
  // attributes, DACL or owner, or delete it by itself. The high label keeps
  // programs below high integrity from writing it whatever the DACL says.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;AU)S:(ML;;NW;;;HI)", SDDL_REVISION_1,
          &descriptor, nullptr))
    return nullptr;
  return SecurityDescriptor(descriptor);
}

SavedFile CreateSaveFile(const std::string& path) {
  std::wstring name;
  if (!WideFromUtf8(path, name)) return nullptr;
  // Whatever stands under the name goes as a name only: deleting a hard link
  // or a symbolic link leaves the file it points to as it was. A folder, or a
  // file someone holds without sharing deletion, stays and makes the creation
  // below fail.
  DeleteFileW(name.c_str());
  SecurityDescriptor descriptor = NewSetupFileDescriptor();
  if (!descriptor) return nullptr;
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
  // Created new, so nothing planted under the name in the meantime is
  // written through. Sharing read only: while we write, nobody else can
  // change, rename or delete it.
  UniqueHandle handle = OpenWithoutFollowing(name, GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, &security);
  if (!handle) return nullptr;
  // Marked for deletion from its first byte: whatever ends the download (the
  // window closed, the process ended or crashed) takes a half-written program
  // with it, which the user might otherwise start. Cleared only when whole.
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!MarkForDeletion(handle.get()) || !Identify(handle.get(), info)) {
    MarkForDeletion(handle.get());
    return nullptr;
  }
  auto* file = new SavedFileTag;
  file->name = std::move(name);
  file->handle = std::move(handle);
  file->volume = info.dwVolumeSerialNumber;
  file->index.HighPart = info.nFileIndexHigh;
  file->index.LowPart = info.nFileIndexLow;
  return file;
}

bool WriteSaveFile(SavedFile file, const void* bytes, std::uint32_t size) {
  DWORD written = 0;
  return WriteFile(file->handle.get(), bytes, size, &written, nullptr) && written == size;
}

bool FinishSaveFile(SavedFile file) {
  if (!MarkForDeletion(file->handle.get(), false)) return false;
  file->finished = true;
  // A program cannot be started while anyone holds it open for writing.
  file->handle.reset();
  return true;
}

bool HoldSetupFile(SavedFile file) {
  // Read access only, sharing read only: the started setup program may open
  // itself for reading (an open that does not share deletion fails while any
  // handle with delete access is open), and nobody can write, rename or
  // delete it while we hold it.
  UniqueHandle handle =
      OpenWithoutFollowing(file->name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  BY_HANDLE_FILE_INFORMATION info = {};
  // Between the writer's close and this open the name could have been given
  // to another file.
  if (!handle || !Identify(handle.get(), info) || !IsSameFile(*file, info)) return false;
  file->handle = std::move(handle);
  return true;
}

SetupFileFacts ExamineSetupFile(SavedFile file, bool checkSignature) {
  SetupFileFacts facts;
  if (!file->handle) return facts;
  // Both read the whole file: side by side, the start waits for the longer
  // of the two rather than for both.
  std::thread signature;
  if (checkSignature) {
    try {
      signature = std::thread([&facts, file] { facts.signature = CheckSignature(*file); });
    } catch (const std::system_error&) {
      facts.signature = CheckSignature(*file);
    }
  }
  facts.measured = Measure(file->handle.get(), facts.digest, facts.length);
  if (signature.joinable()) signature.join();
  return facts;
}

bool RunSetupProgram(SavedFile file) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(file->name.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return false;
  WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return true;
}

void DeleteSavedFile(SavedFile file) {
  // Still marked, the file goes when its writer closes, below.
  if (file->finished) {
    // Our own hold shares no deletion, so it goes first; the name is then
    // opened as itself and deleted only when it is still our file.
    file->handle.reset();
    UniqueHandle handle =
        OpenWithoutFollowing(file->name, DELETE | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (handle && Identify(handle.get(), info) && IsSameFile(*file, info))
      MarkForDeletion(handle.get());
  }
  CloseSavedFile(file);
}

void CloseSavedFile(SavedFile file) { delete file; }
