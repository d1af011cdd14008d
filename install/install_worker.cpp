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
  HeldFile setup = nullptr;
  if (!DownloadFile(downloadUrl, kSaveName, error, std::move(progress), &setup)) {
    ShowFailurePrompt(mainWindow, kDownloadFailedMessage, pageUrl);
    return;
  }

  // The installer runs elevated, and the folder it saved into is usually
  // writable by every program of the user. Only a file held since it was
  // checked against the bytes received is started, and it stays held (no
  // writing, renaming or deleting by others) until it has been deleted.
  HideWindow(mainWindow);
  PlatformHandle process = nullptr;
  PlatformHandle thread = nullptr;
  if (setup != nullptr && StartProcess(WideFromAscii(kSaveName), process, thread)) {
    WaitForProcess(process);
    CloseProcessHandle(process);
    CloseProcessHandle(thread);
    DeleteSavedFile(setup);
  } else {
    if (setup != nullptr) CloseSavedFile(setup);
    ShowFailurePrompt(mainWindow, kStartFailedMessage, pageUrl);
  }
  PostCloseMessage(mainWindow);
}
