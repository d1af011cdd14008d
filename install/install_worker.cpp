#include "install/install_worker.h"

#include <string>

#include "build_config.h"
#include "common/text.h"
#include "install/download_channel.h"
#include "install/failure_prompt.h"
#include "install/install_platform.h"
#include "setupfile/setup_file.h"

namespace {

const char kSaveName[] = "velnor-setup.exe";

// True when the held file was read whole and holds exactly the bytes received.
bool HoldsBytesReceived(const SetupFileFacts& facts, const SavedBody& saved) {
  return facts.measured && facts.length == saved.length && facts.digest == saved.digest;
}

}  // namespace

bool IsSignedByPublisher(const SignatureCheck& check, const std::wstring& publisher) {
  return check.status == 0 && check.signerFound && check.signer == publisher;
}

bool IsWorthFetchingChain(const SignatureCheck& check, const std::wstring& publisher) {
  return (check.status == kUntrustedRoot || check.status == kPartialChain) && check.signerFound &&
         check.signer == publisher;
}

void InstallWorker(WindowHandle mainWindow, ProgressCallback progress) {
  const std::string downloadUrl = DownloadChannelUrl(ChooseDownloadChannel());
  const std::wstring pageUrl = WideFromAscii(downloadUrl);

  std::string error;
  SavedBody saved;
  // Nothing has been started when the digest could not be had either: that is
  // a failed download too.
  if (DownloadFile(downloadUrl, kSaveName, error, std::move(progress), saved) !=
      DownloadResult::Saved) {
    ShowFailurePrompt(mainWindow, kDownloadFailedMessage, pageUrl);
    return;
  }

  // Started only while held and still holding exactly the bytes received,
  // and only with the publisher's own valid signature: TLS does not prove the
  // program is the publisher's (a mis-issued certificate, an intercepting
  // proxy, a compromised mirror). Anything else is deleted, never started and
  // never left behind for the user to start by hand.
  const std::wstring publisher = kSetupPublisher;
  bool startable = HoldSetupFile(saved.file.get());
  if (startable) {
    SetupFileFacts facts = ExamineSetupFile(saved.file.get(), !publisher.empty());
    // A fresh system may not hold the publisher's root or an intermediate yet.
    if (IsWorthFetchingChain(facts.signature, publisher))
      facts.signature = CheckSignatureFetchingChain(saved.file.get());
    startable = HoldsBytesReceived(facts, saved) &&
                (publisher.empty() || IsSignedByPublisher(facts.signature, publisher));
  }
  // The window stays while the user waits on the checks.
  HideInstallerWindow(mainWindow);
  if (!startable) DeleteSetupFile(saved.file.release());
  if (startable && RunSetupProgram(saved.file.get())) {
    DeleteSetupFile(saved.file.release());
  } else {
    saved.file.reset();  // a checked program that would not start stays for the user
    ShowFailurePrompt(mainWindow, kStartFailedMessage, pageUrl);
  }
  CloseInstallerWindow(mainWindow);
}
