#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/digest.h"

// The setup program's file, its whole life: created by the downloader, which
// writes the body into it, then held, examined, started and deleted by the
// install worker. Windows: setup_file_win32.cpp; natively each test fakes
// what it uses.
//
// The installer runs elevated and saves into a folder that every program of
// the user can write to, so the name there is hostile: the file is created
// new under it with a descriptor of our own, reached only as itself (never
// through a link), and only ever opened again or deleted while the name still
// names the file that was created.
//
// Its states, in order; each operation says which it needs:
//   writing  created and marked for deletion, so that whatever ends the
//            download (a break, the close box, a crash) takes it away;
//   whole    the whole body is in: the mark is cleared and the writer let go;
//   held     opened again as itself, readable but not writable, renamable or
//            deletable by anyone, until it is deleted or let go;
//   gone     deleted, or let go while writing.

// Who may do what to the file, in the system's descriptor language: owner
// Administrators (an owner may always change the DACL, so not the user); a
// protected DACL (nothing inherited from a folder like Downloads, where the
// user's programs have full control) with full control for SYSTEM and
// Administrators and read and execute for Authenticated Users (not the
// token's user, who is another account when other credentials elevated us);
// a high label that keeps programs below high integrity from writing it
// whatever the DACL says.
inline constexpr wchar_t kSetupFileRights[] =
    L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;AU)S:(ML;;NW;;;HI)";

// The file as the platform keeps it, opaque to portable code; null means it
// could not be had.
struct SetupFileTag;
using SetupFile = SetupFileTag*;

// Writing: creates the file new under `path` with kSetupFileRights, replacing
// only a name (a link or another file's name goes; the file behind stays).
// Null when that cannot be done.
SetupFile CreateSetupFile(const std::string& path);
// Writing: appends all `size` bytes; false when they could not all be written.
bool WriteSetupFile(SetupFile file, const void* bytes, std::uint32_t size);
// Writing: empties the file, through the same handle, to be written again
// from its first byte. False when that fails.
bool RewindSetupFile(SetupFile file);
// Writing -> whole. False when that fails; the file is then gone.
bool KeepSetupFile(SetupFile file);
// Whole -> held. False when the name no longer names the file that was
// written (the file stays whole).
bool HoldSetupFile(SetupFile file);

// What the held file holds, read through handles of its own.
struct SignatureCheck {
  // 0 when the signature is valid and its chain is trusted;
  // TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, the statuses below and so on
  // otherwise.
  std::int32_t status = -1;
  // Whether the signer's certificate was found, and its subject as
  // "CN=..., O=..., C=...".
  bool signerFound = false;
  std::wstring signer;
};
// The chain ends in a root the system does not hold (CERT_E_UNTRUSTEDROOT),
// or lacks an intermediate (CERT_E_CHAINING); the check ran out of time.
inline constexpr std::int32_t kUntrustedRoot = std::int32_t(0x800B0109);
inline constexpr std::int32_t kPartialChain = std::int32_t(0x800B010A);
inline constexpr std::int32_t kSignatureTimedOut = std::int32_t(0x800705B4);
struct SetupFileFacts {
  bool measured = false;  // false: it could not be read whole
  Sha256 digest{};
  std::uint64_t length = 0;
  SignatureCheck signature;  // left as is when not asked for
};
// Held: reads the file whole for its length and SHA-256 and, when
// `checkSignature`, checks its Authenticode signature beside it, its chain
// built only from what the system already holds. No user interface, and
// bounded: it never waits on a server.
SetupFileFacts ExamineSetupFile(SetupFile file, bool checkSignature);
// Held: checks the signature again, letting the system fetch what the chain
// lacks (a root, an intermediate); revocation still unchecked. Bounded: past
// its bound the answer is kSignatureTimedOut.
SignatureCheck CheckSignatureFetchingChain(SetupFile file);
// Held: starts the program under its name, without arguments, and waits until
// it has ended. False when it could not be started.
bool RunSetupProgram(SetupFile file);

// Any state -> gone, as itself only, and releases `file`.
void DeleteSetupFile(SetupFile file);
// Releases `file`: gone while writing, kept (and no longer held) after.
void CloseSetupFile(SetupFile file);

struct SetupFileCloser {
  void operator()(SetupFile file) const { CloseSetupFile(file); }
};
// The owner of a setup file: let go (not deleted) when the owner ends.
using OwnedSetupFile = std::unique_ptr<SetupFileTag, SetupFileCloser>;
