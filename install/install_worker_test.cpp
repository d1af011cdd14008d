#include "install/install_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "build_config.h"
#include "install/failure_prompt.h"
#include "install/install_platform_fake.h"

namespace {

using Calls = std::vector<std::string>;

const std::wstring kKey1 =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-"
    L"00C3A9A7E4C5}";

int gWindow;
WindowHandle const kWindow = &gWindow;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The platform calls from the download on; the channel's own are in
// download_channel_test.cpp.
Calls FromDownload() {
  const Calls& calls = FakePlatform().calls;
  return Calls(std::find_if(calls.begin(), calls.end(),
                            [](const std::string& c) { return c.rfind("DownloadFile", 0) == 0; }),
               calls.end());
}

TEST(RunInstall, Table) {
  const std::string win7 = std::string(kDownloadOrigin) + "/velnor-video/win7";
  const std::string release = std::string(kDownloadOrigin) + "/velnor-video/release";
  const std::string support = std::string("OpenInBrowser ") + kSupportOrigin;
  const std::string progress = "OnDownloadProgress 10/100";
  const struct {
    const char* label;
    const char16_t* pv;  // of the machine's WebView2 key; nullptr: no key
    bool downloadSucceeds, startSucceeds, answerOk;
    bool worker;  // InstallWorker, else RunInstall without a progress callable
    Calls calls;
    const wchar_t* boxMessage;  // nullptr: no box
    bool hidden, closed;
  } rows[] = {
      {"success: hide, start, wait, close handles, delete, close the window", u"120.0.1", true,
       true, false, true,
       {"DownloadFile " + release + " velnor-setup.exe", progress, "HideWindow",
        "StartProcess velnor-setup.exe", "WaitForProcess process", "CloseHandle process",
        "CloseHandle thread", "DeleteFile velnor-setup.exe", "PostClose"},
       nullptr, true, true},
      {"failed download: prompt, the window stays", nullptr, false, true, true, true,
       {"DownloadFile " + win7 + " velnor-setup.exe", progress, "OpenInBrowser " + win7,
        "MessageBox", support},
       kDownloadFailedMessage, false, false},
      {"failed download, the page is the chosen channel's", u"1", false, true, false, false,
       {"DownloadFile " + release + " velnor-setup.exe", "OpenInBrowser " + release, "MessageBox"},
       kDownloadFailedMessage, false, false},
      {"failed start: hidden, prompt, the file kept, close the window", u"1.2.3.4", true, false,
       false, true,
       {"DownloadFile " + release + " velnor-setup.exe", progress, "HideWindow",
        "StartProcess velnor-setup.exe", "OpenInBrowser " + release, "MessageBox", "PostClose"},
       kStartFailedMessage, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ResetFakePlatform();
    auto& s = FakePlatform();
    if (row.pv) s.keys[{RegistryRoot::LocalMachine, kKey1}].pv = PvBytes(row.pv);
    s.downloadSucceeds = row.downloadSucceeds;
    s.startSucceeds = row.startSucceeds;
    s.answerOk = row.answerOk;
    if (row.worker)
      InstallWorker(kWindow);
    else
      RunInstall(kWindow, nullptr);
    EXPECT_EQ(FromDownload(), row.calls);
    EXPECT_EQ(s.downloadErrorOnEntry, "");
    EXPECT_EQ(s.downloadHadProgress, row.worker);
    EXPECT_EQ(s.openHandles, 0);
    std::vector<std::wstring> texts;
    if (row.boxMessage) texts.push_back(ComposeFailurePromptText(row.boxMessage));
    EXPECT_EQ(s.boxTexts, texts);
    EXPECT_EQ(s.boxOwner, row.boxMessage ? kWindow : nullptr);
    EXPECT_EQ(s.hiddenWindow, row.hidden ? kWindow : nullptr);
    EXPECT_EQ(s.closedWindow, row.closed ? kWindow : nullptr);
  }
}

TEST(FailurePrompt, TextsAreExact) {
  EXPECT_EQ(ComposeFailurePromptText(kDownloadFailedMessage),
            L"下载失败，请检查网络连接或联系客服。\n\n已为您打开下载页面，请手动安装。\n\n"
            L"点击\u0022确定\u0022联系客服\n点击\u0022取消\u0022稍后处理");
  EXPECT_EQ(ComposeFailurePromptText(kStartFailedMessage),
            L"安装程序启动失败，请检查安装包或联系客服。\n\n已为您打开下载页面，请手动安装。\n\n"
            L"点击\u0022确定\u0022联系客服\n点击\u0022取消\u0022稍后处理");
  EXPECT_EQ(ComposeFailurePromptText(L"x").find(L'\r'), std::wstring::npos);
  EXPECT_EQ(SupportPageUrl(), Wide(kSupportOrigin));
}

// The page first, then the box; the support page only after OK.
TEST(FailurePrompt, OkOpensTheSupportPageAfterTheBox) {
  for (bool ok : {true, false}) {
    SCOPED_TRACE(ok);
    ResetFakePlatform();
    FakePlatform().answerOk = ok;
    ShowFailurePrompt(kWindow, L"m", L"https://page");
    const auto& s = FakePlatform();
    Calls calls = {"OpenInBrowser https://page", "MessageBox"};
    if (ok) calls.push_back(std::string("OpenInBrowser ") + kSupportOrigin);
    EXPECT_EQ(s.calls, calls);
    EXPECT_EQ(s.boxCaptions, (std::vector<std::wstring>{L"系统提示"}));
    EXPECT_EQ(s.boxTexts, (std::vector<std::wstring>{ComposeFailurePromptText(L"m")}));
    EXPECT_EQ(s.boxOwner, kWindow);
  }
}

}  // namespace
