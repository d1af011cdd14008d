#include "install/install_worker.h"

#include <string>

#include "build_config.h"
#include "common/text.h"
#include "install/download_channel.h"
#include "install/failure_prompt.h"
#include "install/install_platform.h"
#include "net/signature.h"

namespace {

const char kSaveName[] = "velnor-setup.exe";

}  // namespace

bool IsSignedByPublisher(const SignatureCheck& check, const std::wstring& publisher) {
  return check.status == 0 && check.signerFound && check.signer == publisher;
}

void InstallWorker(WindowHandle mainWindow, ProgressCallback progress) {
  const std::string downloadUrl = DownloadChannelUrl(ChooseDownloadChannel());
  const std::wstring pageUrl = WideFromAscii(downloadUrl);

  std::string error;
  HeldFile setup;
  const DownloadResult download =
      DownloadFile(downloadUrl, kSaveName, error, std::move(progress), setup);
  if (download == DownloadResult::Failed) {
    ShowFailurePrompt(mainWindow, kDownloadFailedMessage, pageUrl);
    return;
  }

  // The installer runs elevated, and the folder it saved into is usually
  // writable by every program of the user. Only a file held since it was
  // checked against the bytes received is started (a file that failed the
  // check is already gone), and it stays held, readable but not writable,
  // renamable or deletable by others, until it has been deleted.
  HideWindow(mainWindow);
  // TLS does not prove the program is the publisher's (a mis-issued
  // certificate, an intercepting proxy, a compromised mirror): the held file
  // must carry the publisher's own valid signature. Anything else is deleted,
  // never started and never left behind for the user to start by hand.
  const std::wstring publisher = kSetupPublisher;
  if (setup && !publisher.empty() && !IsSignedByPublisher(CheckSignature(setup.get()), publisher))
    DeleteSavedFile(setup.release());
  ProcessHandle process = nullptr;
  ProcessHandle thread = nullptr;
  if (setup && StartProcess(WideFromAscii(kSaveName), process, thread)) {
    WaitForProcess(process);
    CloseProcessHandle(process);
    CloseProcessHandle(thread);
    DeleteSavedFile(setup.release());
  } else {
    setup.reset();  // a checked program that would not start stays for the user
    ShowFailurePrompt(mainWindow, kStartFailedMessage, pageUrl);
  }
  PostCloseMessage(mainWindow);
}
