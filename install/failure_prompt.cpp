#include "install/failure_prompt.h"

#include "build_config.h"
#include "install/install_platform.h"

std::wstring ComposeFailurePromptText(const std::wstring& message) {
  return message + L"\n\n" + L"已为您打开下载页面，请手动安装。\n\n" +
         L"点击\"确定\"联系客服\n点击\"取消\"稍后处理";
}

std::wstring SupportPageUrl() {
  // The origin is ASCII, so each character becomes the same UTF-16 unit.
  std::wstring url;
  for (const char* p = kSupportOrigin; *p; ++p)
    url += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return url;
}

void ShowFailurePrompt(WindowHandle owner, const std::wstring& message,
                       const std::wstring& pageUrl) {
  OpenInBrowser(pageUrl);
  if (AskOkCancel(owner, ComposeFailurePromptText(message), kFailurePromptCaption))
    OpenInBrowser(SupportPageUrl());
}
