#pragma once

#include <string>

#include "common/window_handle.h"

// The two first lines the install worker passes.
inline constexpr wchar_t kDownloadFailedMessage[] = L"下载失败，请检查网络连接或联系客服。";
inline constexpr wchar_t kStartFailedMessage[] = L"安装程序启动失败，请检查安装包或联系客服。";
inline constexpr wchar_t kFailurePromptCaption[] = L"系统提示";

// The box text: the message, a blank line, the page-opened note, a blank
// line, then the two lines of the choice. Single line feeds only.
std::wstring ComposeFailurePromptText(const std::wstring& message);

// ASCII text (URLs, file names) as UTF-16: each byte becomes the same unit.
std::wstring WideFromAscii(const std::string& ascii);

// The support page: the support origin, no path.
std::wstring SupportPageUrl();

// Opens `pageUrl` in the browser, shows the error box owned by `owner` and,
// when the user answers OK, opens the support page. Returns after the answer.
void ShowFailurePrompt(WindowHandle owner, const std::wstring& message,
                       const std::wstring& pageUrl);
