#include "install/install_worker.h"

#include <string>

#include "common/text.h"
#include "install/download_channel.h"
#include "install/failure_prompt.h"
#include "install/install_platform.h"

namespace {

const char kSaveName[] = "velnor-setup.exe";

}  // namespace

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
  ProcessHandle process = nullptr;
  ProcessHandle thread = nullptr;
  if (download == DownloadResult::Checked &&
      StartProcess(WideFromAscii(kSaveName), process, thread)) {
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
