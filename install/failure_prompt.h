#pragma once

#include <string>

#include "common/window_handle.h"

// The two first lines the install worker passes.
inline constexpr wchar_t kDownloadFailedMessage[] = L"下载失败，请检查网络连接或联系客服。";
inline constexpr wchar_t kStartFailedMessage[] = L"安装程序启动失败，请检查安装包或联系客服。";

// Opens `pageUrl` in the browser, then shows the error box "系统提示" owned by
// `owner`: the message, a blank line, the page-opened note, a blank line and
// the two lines of the choice. When the user answers OK, opens the support
// page. Returns after the answer.
void ShowFailurePrompt(WindowHandle owner, const std::wstring& message,
                       const std::wstring& pageUrl);

// The download-failed prompt for the channel this system would fetch: for
// when the worker itself cannot be started.
void ShowDownloadFailedPrompt(WindowHandle owner);
