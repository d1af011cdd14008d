// The failure prompt and the worker's two failure paths with the real
// ShellExecuteW and MessageBoxW under Wine. prompt_under_wine.sh runs it with
// a display, a stand-in browser that appends every URL it is handed to the
// file named by VELNOR_BROWSER_LOG, and a current directory of its own.
// A helper thread finds the box by class and caption, reads it and answers.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "build_config.h"
#include "install/download_channel.h"
#include "install/failure_prompt.h"
#include "install/install_worker.h"
#include "tests/support/message_box_win32.h"

namespace {

using Urls = std::vector<std::wstring>;
enum class DownloadMode { Fail, WriteNonProgram };

DownloadMode gDownloadMode = DownloadMode::Fail;
std::string gDownloadUrl;
std::atomic<int> gCloseMessages{0};

const wchar_t kKey1[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-"
    L"00C3A9A7E4C5}";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The URLs the stand-in browser was handed, once it has `count` of them or
// after a bounded wait.
Urls WaitForBrowserLog(std::size_t count) {
  Urls lines;
  for (int i = 0; i < 1500 && (i == 0 || lines.size() < count); ++i) {
    if (i) Sleep(20);
    lines.clear();
    std::ifstream log(std::getenv("VELNOR_BROWSER_LOG"));
    for (std::string line; std::getline(log, line);) lines.push_back(Wide(line));
  }
  return lines;
}

// What the helper thread saw before answering the box.
struct SeenBox {
  bool found = false;
  MessageBoxView view;
  Urls browserLogWhileShown;
};

// Finds the box (bounded), waits until `logged` URLs have reached the
// browser, reads the box and answers it.
void AnswerBox(BoxAnswer answer, std::size_t logged, SeenBox& seen) {
  HWND box = WaitForMessageBox(kFailurePromptCaption, GetTickCount64() + 30000);
  if (!box) return;
  seen.found = true;
  seen.browserLogWhileShown = WaitForBrowserLog(logged);
  seen.view = ReadMessageBox(box);
  AnswerMessageBox(box, answer);
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    ++gCloseMessages;  // counted, not acted on: the test destroys the window
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// A shown top-level window standing in for the main window, on this thread.
HWND MakeOwner() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = OwnerProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VelnorPromptTestOwner";
  RegisterClassW(&windowClass);
  return CreateWindowExW(0, windowClass.lpszClassName, L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 200,
                         100, nullptr, nullptr, windowClass.hInstance, nullptr);
}

// Runs InstallWorker on a thread of its own, as the window does, while this
// (window) thread runs its message loop; the box is answered as given.
SeenBox RunWorker(HWND owner, BoxAnswer answer) {
  SeenBox seen;
  std::thread answerer(AnswerBox, answer, 1, std::ref(seen));
  std::atomic<bool> done{false};
  std::thread worker([&] {
    InstallWorker(owner);
    done = true;
  });
  MSG msg;
  for (int i = 0; i < 6000 && !done; ++i) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  worker.join();
  answerer.join();
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  return seen;
}

// The error icon, OK and Cancel only, owned by the given window.
void ExpectTheBox(const SeenBox& seen, const wchar_t* message, HWND owner) {
  EXPECT_EQ(seen.view.text, ComposeFailurePromptText(message));
  EXPECT_EQ(seen.view.icon, LoadIconW(nullptr, IDI_ERROR));
  EXPECT_EQ(seen.view.buttons, "ok,cancel");
  EXPECT_EQ(seen.view.owner, owner);
}

class PromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("VELNOR_BROWSER_LOG");
    if (!path) GTEST_SKIP() << "run by prompt_under_wine.sh";
    std::ofstream(path, std::ios::trunc).close();
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey1);
    gCloseMessages = 0;
    owner = MakeOwner();
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    if (owner) DestroyWindow(owner);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey1);
    DeleteFileW(L"velnor-setup.exe");
  }
  HWND owner = nullptr;
  // ShellExecuteW is handed the bare origin; Wine's browser launcher
  // canonicalises it and passes it on with the root path "/" added.
  const std::wstring support = Wide(kSupportOrigin) + L"/";
};

}  // namespace

// Stand-in downloader: fails, or saves a file that is not a program.
bool DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                  ProgressCallback progress) {
  gDownloadUrl = url;
  EXPECT_EQ(savePath, "velnor-setup.exe");
  EXPECT_TRUE(error.empty());
  if (progress) progress(0, 0);
  if (gDownloadMode == DownloadMode::Fail) {
    error = "stand-in failure";
    return false;
  }
  std::ofstream(savePath, std::ios::binary) << "this is not a program\n";
  return true;
}

void OnDownloadProgress(WindowHandle, std::uint64_t, std::uint64_t) {}

// The page opens before the box, and only OK adds the support page after it:
// a stray launch by Cancel or closing would show up in the next row's log.
TEST_F(PromptTest, PageBeforeTheBoxAndSupportOnlyAfterOk) {
  const struct {
    BoxAnswer answer;
    const wchar_t* message;
    const wchar_t* page;
  } rows[] = {
      {BoxAnswer::Cancel, kStartFailedMessage, L"https://a.example/1"},
      {BoxAnswer::Close, kDownloadFailedMessage, L"https://a.example/2"},
      {BoxAnswer::Ok, kDownloadFailedMessage, L"https://localhost:8443/velnor-video/win7"},
  };
  Urls pages;
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << pages.size());
    pages.push_back(row.page);
    SeenBox seen;
    std::thread answerer(AnswerBox, row.answer, pages.size(), std::ref(seen));
    ShowFailurePrompt(owner, row.message, row.page);
    answerer.join();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.browserLogWhileShown, pages);
    ExpectTheBox(seen, row.message, owner);
  }
  pages.push_back(support);
  EXPECT_EQ(WaitForBrowserLog(pages.size()), pages);
}

// A failed download keeps the window shown and open; a failed start hides
// it, keeps the file and closes the window after the box.
TEST_F(PromptTest, WorkerFailurePaths) {
  const bool win7 = IsOsVersionAtLeast(6, 1, 0) && !IsOsVersionAtLeast(6, 2, 0);
  const std::string win7Url = std::string(kDownloadOrigin) + "/velnor-video/win7";
  const std::string startUrl =
      std::string(kDownloadOrigin) + (win7 ? "/velnor-video/win7" : "/velnor-video/release");
  const struct {
    DownloadMode mode;
    BoxAnswer answer;
    const wchar_t* message;
    std::string url;
    bool windowShown, fileKept;
    int closeMessages;
    Urls logAfter;
  } rows[] = {
      {DownloadMode::Fail, BoxAnswer::Ok, kDownloadFailedMessage, win7Url, true, false, 0,
       {Wide(win7Url), support}},
      {DownloadMode::WriteNonProgram, BoxAnswer::Cancel, kStartFailedMessage, startUrl, false, true,
       1, {Wide(startUrl)}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    std::ofstream(std::getenv("VELNOR_BROWSER_LOG"), std::ios::trunc).close();
    gCloseMessages = 0;
    ShowWindow(owner, SW_SHOW);
    gDownloadMode = row.mode;
    if (row.mode == DownloadMode::WriteNonProgram) {
      // WebView2 registered: the release channel unless this is Windows 7.
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey1, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr),
                ERROR_SUCCESS);
      const wchar_t pv[] = L"1.2.3.4";
      RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(pv), sizeof pv);
      RegCloseKey(key);
    }

    const SeenBox seen = RunWorker(owner, row.answer);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(gDownloadUrl, row.url);
    EXPECT_EQ(seen.browserLogWhileShown, Urls{Wide(row.url)});
    ExpectTheBox(seen, row.message, owner);
    EXPECT_EQ(IsWindowVisible(owner) != FALSE, row.windowShown);
    EXPECT_EQ(GetFileAttributesW(L"velnor-setup.exe") != INVALID_FILE_ATTRIBUTES, row.fileKept);
    EXPECT_EQ(gCloseMessages, row.closeMessages);
    EXPECT_EQ(WaitForBrowserLog(row.logAfter.size()), row.logAfter);
  }
}
