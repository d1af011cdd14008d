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
  if (!DownloadFile(downloadUrl, kSaveName, error, std::move(progress))) {
    ShowFailurePrompt(mainWindow, kDownloadFailedMessage, pageUrl);
    return;
  }

  const std::wstring launchName = WideFromAscii(kSaveName);
  HideWindow(mainWindow);
  PlatformHandle process = nullptr;
  PlatformHandle thread = nullptr;
  if (StartProcess(launchName, process, thread)) {
    WaitForProcess(process);
    CloseProcessHandle(process);
    CloseProcessHandle(thread);
    DeleteFileNamed(launchName);
  } else {
    ShowFailurePrompt(mainWindow, kStartFailedMessage, pageUrl);
  }
  PostCloseMessage(mainWindow);
}
