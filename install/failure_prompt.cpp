#include "install/failure_prompt.h"

#include "build_config.h"
#include "install/install_platform.h"

std::wstring ComposeFailurePromptText(const std::wstring& message) {
  return message + L"\n\n" + L"已为您打开下载页面，请手动安装。\n\n" +
         L"点击\"确定\"联系客服\n点击\"取消\"稍后处理";
}

std::wstring WideFromAscii(const std::string& ascii) {
  std::wstring wide;
  wide.reserve(ascii.size());
  for (char c : ascii) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return wide;
}

std::wstring SupportPageUrl() { return WideFromAscii(kSupportOrigin); }

void ShowFailurePrompt(WindowHandle owner, const std::wstring& message,
                       const std::wstring& pageUrl) {
  OpenInBrowser(pageUrl);
  if (AskOkCancel(owner, ComposeFailurePromptText(message), kFailurePromptCaption))
    OpenInBrowser(SupportPageUrl());
}
