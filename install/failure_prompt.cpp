#include "install/failure_prompt.h"

#include "build_config.h"
#include "common/text.h"
#include "install/download_channel.h"
#include "install/install_platform.h"

namespace {

// Single line feeds only, no carriage returns.
std::wstring ComposeFailurePromptText(const std::wstring& message) {
  return message + L"\n\n" + L"已为您打开下载页面，请手动安装。\n\n" +
         L"点击\"确定\"联系客服\n点击\"取消\"稍后处理";
}

// Only the desktop shell opens the browser, as the user. Our own ShellExecute
// would run elevated whatever handler the user's registry classes name for
// https, and any program of the user can write those (and end the shell
// first): without a shell nothing is opened, and the box says the rest.
void OpenInBrowser(const std::wstring& url) { OpenThroughDesktopShell(url); }

}  // namespace

void ShowFailurePrompt(WindowHandle owner, const std::wstring& message,
                       const std::wstring& pageUrl) {
  OpenInBrowser(pageUrl);
  if (AskInErrorBox(owner, ComposeFailurePromptText(message), L"系统提示"))
    OpenInBrowser(WideFromAscii(kSupportOrigin));
}

void ShowDownloadFailedPrompt(WindowHandle owner) {
  ShowFailurePrompt(owner, kDownloadFailedMessage,
                    WideFromAscii(DownloadChannelUrl(ChooseDownloadChannel())));
}
