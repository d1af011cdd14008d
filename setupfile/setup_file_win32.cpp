// The setup program's file on Windows, its whole life in one place (the
// rules it keeps are in setup_file.h).
#include <windows.h>

#include "setupfile/setup_file.h"
// These need the types of windows.h.
#include <sddl.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <chrono>
#include <memory>
#include <vector>

#include "common/files_win32.h"
#include "common/pending_answer.h"
#include "common/text_win32.h"

struct SetupFileTag {
  enum class State { Writing, Whole, Held } state = State::Writing;
  std::wstring name;
  FileIdentity identity;  // of the file created under `name`
  UniqueHandle handle;    // the writer while writing, the hold while held
};

namespace {

using State = SetupFileTag::State;

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `name` as itself and deletes it only while it is the file `identity` names.
void DeleteIfSame(const std::wstring& name, const FileIdentity& identity) {
  UniqueHandle handle =
      OpenAsItself(nullptr, name, DELETE, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  FileIdentity found;
  if (handle && IdentifyFile(handle.get(), identity.wide, found) && found == identity)
    MarkForDeletion(handle.get());
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

// The file's Authenticode signature, checked through `file`, with the chain
// built from what the system holds or, with `fetchChain`, from what it may
// fetch too. Revocation is never checked: a revocation server that does not
// answer would hang the install without a bound, the signer is pinned by
// subject, and the file came over TLS from the publisher's own server.
SignatureCheck CheckSignature(const std::wstring& name, HANDLE file, bool fetchChain) {
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = name.c_str();
  fileInfo.hFile = file;  // the held file itself, not whatever the name names now

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwProvFlags = fetchChain ? 0 : WTD_CACHE_ONLY_URL_RETRIEVAL;
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

// Starts a signature check on a thread of its own (nothing documented bounds
// WinVerifyTrust: the system may update its roots from the network whatever
// it is asked), with a handle of its own that shares deletion, so that a
// refused file can be deleted while a check left behind still runs. Null when
// it cannot be started.
PendingAnswer<SignatureCheck> StartSignatureCheck(const SetupFileTag& file, bool fetchChain) {
  HANDLE own = ReOpenFile(file.handle.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
  if (own == INVALID_HANDLE_VALUE) return nullptr;
  auto check = [name = file.name, handle = UniqueHandle(own), fetchChain] {
    return CheckSignature(name, handle.get(), fetchChain);
  };
  return StartPendingAnswer<SignatureCheck>(std::move(check));
}

// The check's answer, or a refusal when there is none `seconds` after `started`.
SignatureCheck AwaitSignatureCheck(const PendingAnswer<SignatureCheck>& pending,
                                   std::chrono::steady_clock::time_point started, int seconds) {
  SignatureCheck refused;
  refused.status = kSignatureTimedOut;
  return AwaitPendingAnswer(pending, started + std::chrono::seconds(seconds), refused);
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

SetupFile CreateSetupFile(const std::string& path) {
  std::wstring name;
  if (!WideFromUtf8(path, name)) return nullptr;
  // Whatever stands under the name goes as a name only: deleting a hard link
  // or a symbolic link leaves the file it points to as it was. A folder, or a
  // file someone holds without sharing deletion, stays and makes the creation
  // below fail.
  DeleteFileW(name.c_str());
  PSECURITY_DESCRIPTOR parsed = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSetupFileRights, SDDL_REVISION_1,
                                                            &parsed, nullptr))
    return nullptr;
  const LocalMemory descriptor(parsed);
  // New, so nothing planted under the name in the meantime is written
  // through; sharing read only, so nobody else can change, rename or delete
  // it while we write.
  UniqueHandle writer = OpenAsItself(nullptr, name, GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                     FILE_CREATE, FILE_NON_DIRECTORY_FILE, parsed);
  if (!writer) return nullptr;
  FileIdentity identity;
  if (!IdentifyFile(writer.get(), true, identity)) {
    MarkForDeletion(writer.get());
    return nullptr;
  }
  if (!MarkForDeletion(writer.get())) {
    // An empty file of ours would stay: opened again by name, and deleted
    // only while it is still ours.
    writer.reset();
    DeleteIfSame(name, identity);
    return nullptr;
  }
  auto* file = new SetupFileTag;
  file->name = std::move(name);
  file->identity = identity;
  file->handle = std::move(writer);
  return file;
}

bool WriteSetupFile(SetupFile file, const void* bytes, std::uint32_t size) {
  return file->state == State::Writing && WriteAll(file->handle.get(), bytes, size);
}

bool RewindSetupFile(SetupFile file) {
  LARGE_INTEGER start = {};
  return file->state == State::Writing &&
         SetFilePointerEx(file->handle.get(), start, nullptr, FILE_BEGIN) &&
         SetEndOfFile(file->handle.get());
}

bool KeepSetupFile(SetupFile file) {
  if (file->state != State::Writing || !MarkForDeletion(file->handle.get(), false)) return false;
  file->state = State::Whole;
  // A program cannot be started while anyone holds it open for writing.
  file->handle.reset();
  return true;
}

bool HoldSetupFile(SetupFile file) {
  if (file->state != State::Whole) return false;
  // Read access only, sharing read only: the started setup program may open
  // itself for reading (an open that does not share deletion fails while any
  // handle with delete access is open), and nobody can write, rename or
  // delete it while we hold it.
  UniqueHandle hold = OpenAsItself(nullptr, file->name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE);
  // Between the writer's close and this open the name could have been given
  // to another file.
  FileIdentity found;
  if (!hold || !IdentifyFile(hold.get(), file->identity.wide, found) || !(found == file->identity))
    return false;
  file->handle = std::move(hold);
  file->state = State::Held;
  return true;
}

SetupFileFacts ExamineSetupFile(SetupFile file, bool checkSignature) {
  SetupFileFacts facts;
  if (file->state != State::Held) return facts;
  // Both read the whole file: side by side, the start waits for the longer
  // of the two rather than for both. The signature's bound leaves room for
  // reading a large program from a slow disk.
  const auto started = std::chrono::steady_clock::now();
  const auto signature = checkSignature ? StartSignatureCheck(*file, false) : nullptr;
  facts.measured = Measure(file->handle.get(), facts.digest, facts.length);
  if (checkSignature) facts.signature = AwaitSignatureCheck(signature, started, 30);
  return facts;
}

SignatureCheck CheckSignatureFetchingChain(SetupFile file) {
  if (file->state != State::Held) return {};
  return AwaitSignatureCheck(StartSignatureCheck(*file, true), std::chrono::steady_clock::now(),
                             15);
}

bool RunSetupProgram(SetupFile file) {
  if (file->state != State::Held) return false;
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

void DeleteSetupFile(SetupFile file) {
  // While writing, the mark takes the file with the writer, below.
  if (file->state != State::Writing) {
    // Our own hold shares no deletion, so it goes first.
    file->handle.reset();
    DeleteIfSame(file->name, file->identity);
  }
  CloseSetupFile(file);
}

void CloseSetupFile(SetupFile file) { delete file; }
