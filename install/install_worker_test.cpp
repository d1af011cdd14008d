#include "install/install_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "build_config.h"
#include "install/failure_prompt.h"
#include "install/install_platform_fake.h"

namespace {

const std::wstring kKey1 =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-"
    L"00C3A9A7E4C5}";

int gWindow;
WindowHandle const kWindow = &gWindow;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::vector<std::string> AfterDownload() {
  const auto& calls = FakePlatform().calls;
  auto it = std::find_if(calls.begin(), calls.end(),
                         [](const std::string& c) { return c.rfind("DownloadFile", 0) == 0; });
  std::vector<std::string> rest;
  for (++it; it < calls.end(); ++it)
    if (it->rfind("OnDownloadProgress", 0) != 0) rest.push_back(*it);
  return rest;
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFakePlatform(); }
  const std::string win7Url = std::string(kDownloadOrigin) + "/velnor-video/win7";
  const std::string releaseUrl = std::string(kDownloadOrigin) + "/velnor-video/release";
  const std::string support = std::string("OpenInBrowser ") + kSupportOrigin;
};

TEST_F(WorkerTest, SuccessfulRunHidesStartsWaitsClosesDeletesThenPostsClose) {
  FakePlatform().keys[{RegistryRoot::LocalMachine, kKey1}].pv = PvBytes(u"120.0.1");
  InstallWorker(kWindow);
  const auto& s = FakePlatform();
  EXPECT_EQ(s.downloadUrl, releaseUrl);
  EXPECT_EQ(s.downloadSaveName, "velnor-setup.exe");
  EXPECT_EQ(s.downloadErrorOnEntry, "");
  EXPECT_TRUE(s.downloadHadProgress);
  EXPECT_EQ(
      AfterDownload(),
      (std::vector<std::string>{"HideWindow", "StartProcess velnor-setup.exe",
                                "WaitForProcess process", "CloseHandle process",
                                "CloseHandle thread", "DeleteFile velnor-setup.exe", "PostClose"}));
  EXPECT_EQ(s.hiddenWindow, kWindow);
  EXPECT_EQ(s.closedWindow, kWindow);
  EXPECT_EQ(s.startedName, L"velnor-setup.exe");
  EXPECT_EQ(s.deletedName, L"velnor-setup.exe");
  EXPECT_EQ(s.openHandles, 0);
  EXPECT_TRUE(s.browserUrls.empty());
}

TEST_F(WorkerTest, ProgressCallableReachesTheWindowHandler) {
  InstallWorker(kWindow);
  const auto& calls = FakePlatform().calls;
  EXPECT_NE(std::find(calls.begin(), calls.end(), "OnDownloadProgress 10/100"), calls.end());
}

TEST_F(WorkerTest, FailedDownloadPromptsAndLeavesWindowShown) {
  FakePlatform().downloadSucceeds = false;
  FakePlatform().answerOk = true;
  InstallWorker(kWindow);
  const auto& s = FakePlatform();
  EXPECT_EQ(AfterDownload(),
            (std::vector<std::string>{"OpenInBrowser " + win7Url, "MessageBox", support}));
  ASSERT_EQ(s.boxTexts.size(), 1u);
  EXPECT_EQ(s.boxTexts[0].rfind(kDownloadFailedMessage, 0), 0u);
  EXPECT_EQ(s.boxOwner, kWindow);
  EXPECT_EQ(s.hiddenWindow, nullptr);
  EXPECT_EQ(s.closedWindow, nullptr);
  EXPECT_TRUE(s.deletedName.empty());
}

TEST_F(WorkerTest, FailedStartHidesPromptsKeepsFileThenPostsClose) {
  FakePlatform().keys[{RegistryRoot::LocalMachine, kKey1}].pv = PvBytes(u"1.2.3.4");
  FakePlatform().startSucceeds = false;
  InstallWorker(kWindow);
  const auto& s = FakePlatform();
  EXPECT_EQ(AfterDownload(),
            (std::vector<std::string>{"HideWindow", "StartProcess velnor-setup.exe",
                                      "OpenInBrowser " + releaseUrl, "MessageBox", "PostClose"}));
  ASSERT_EQ(s.boxTexts.size(), 1u);
  EXPECT_EQ(s.boxTexts[0].rfind(kStartFailedMessage, 0), 0u);
  EXPECT_TRUE(s.deletedName.empty());
}

TEST_F(WorkerTest, PageUrlIsAlwaysTheChosenChannelsUrl) {
  for (bool registered : {false, true}) {
    ResetFakePlatform();
    if (registered) FakePlatform().keys[{RegistryRoot::LocalMachine, kKey1}].pv = PvBytes(u"1");
    FakePlatform().downloadSucceeds = false;
    RunInstall(kWindow, nullptr);
    ASSERT_EQ(FakePlatform().browserUrls.size(), 1u);
    EXPECT_EQ(FakePlatform().browserUrls[0], Wide(FakePlatform().downloadUrl));
    EXPECT_EQ(FakePlatform().downloadUrl, registered ? releaseUrl : win7Url);
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

TEST(FailurePrompt, OkOpensSupportPageAfterTheBox) {
  ResetFakePlatform();
  FakePlatform().answerOk = true;
  ShowFailurePrompt(kWindow, L"m", L"https://page");
  const auto& s = FakePlatform();
  EXPECT_EQ(s.calls, (std::vector<std::string>{"OpenInBrowser https://page", "MessageBox",
                                               std::string("OpenInBrowser ") + kSupportOrigin}));
  EXPECT_EQ(s.boxCaptions, (std::vector<std::wstring>{L"系统提示"}));
  EXPECT_EQ(s.boxTexts, (std::vector<std::wstring>{ComposeFailurePromptText(L"m")}));
  EXPECT_EQ(s.boxOwner, kWindow);
}

TEST(FailurePrompt, CancelOpensNothingMore) {
  ResetFakePlatform();
  FakePlatform().answerOk = false;
  ShowFailurePrompt(kWindow, L"m", L"https://page");
  EXPECT_EQ(FakePlatform().calls,
            (std::vector<std::string>{"OpenInBrowser https://page", "MessageBox"}));
}

}  // namespace
