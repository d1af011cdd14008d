#include "install/install_worker.h"

#include <string>

#include "install/download_channel.h"
#include "install/failure_prompt.h"
#include "install/install_platform.h"

namespace {

const char kSaveName[] = "velnor-setup.exe";

}  // namespace

void RunInstall(WindowHandle mainWindow, ProgressCallback progress) {
  const DownloadChannel channel = ChooseDownloadChannel();
  const std::string downloadUrl = DownloadChannelUrl(channel);
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

void InstallWorker(WindowHandle mainWindow) {
  RunInstall(mainWindow, [mainWindow](std::uint64_t received, std::uint64_t total) {
    OnDownloadProgress(mainWindow, received, total);
  });
}
