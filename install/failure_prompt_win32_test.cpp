// The failure prompt and the worker's two failure paths with the real
// ShellExecuteW and MessageBoxW under Wine. prompt_under_wine.sh runs it with
// a display, a stand-in browser that appends every URL it is handed to the
// file named by VELNOR_BROWSER_LOG, and a current directory of its own.
// A helper thread finds the box by class and caption, reads it and answers.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
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

namespace {

enum class Answer { Ok, Cancel, Close };
enum class DownloadMode { Fail, WriteNonProgram };

DownloadMode gDownloadMode = DownloadMode::Fail;
std::string gDownloadUrl;
std::atomic<int> gCloseMessages{0};

const wchar_t kKey1[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-"
    L"00C3A9A7E4C5}";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::vector<std::wstring> BrowserLog() {
  std::vector<std::wstring> lines;
  const char* path = std::getenv("VELNOR_BROWSER_LOG");
  if (!path) return lines;
  std::ifstream log(path);
  for (std::string line; std::getline(log, line);) lines.push_back(Wide(line));
  return lines;
}

// Waits (bounded) until the stand-in browser has logged `count` URLs.
std::vector<std::wstring> WaitForBrowserLog(std::size_t count) {
  std::vector<std::wstring> lines = BrowserLog();
  for (int i = 0; i < 1500 && lines.size() < count; ++i) {
    Sleep(20);
    lines = BrowserLog();
  }
  return lines;
}

// What the helper thread saw of the box before answering it.
struct SeenBox {
  bool found = false;
  std::wstring text;
  bool errorIcon = false;
  bool okButton = false, cancelButton = false, otherButton = false;
  HWND owner = nullptr;
  std::vector<std::wstring> browserLogWhileShown;
};

BOOL CALLBACK ReadChild(HWND child, LPARAM param) {
  auto* seen = reinterpret_cast<SeenBox*>(param);
  wchar_t className[32] = {};
  GetClassNameW(child, className, 32);
  if (lstrcmpiW(className, L"Static") != 0) return TRUE;
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    seen->errorIcon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)) ==
                      LoadIconW(nullptr, IDI_ERROR);
    return TRUE;
  }
  wchar_t text[1024] = {};
  GetWindowTextW(child, text, 1024);
  if (text[0]) seen->text = text;
  return TRUE;
}

// Finds the box (bounded), waits until the page URL has reached the browser
// (`logged` lines), reads the box and answers it.
void AnswerBox(Answer answer, std::size_t logged, SeenBox& seen) {
  HWND box = nullptr;
  for (int i = 0; i < 1500 && !box; ++i) {
    box = FindWindowW(L"#32770", kFailurePromptCaption);
    if (!box || !IsWindowVisible(box)) {
      box = nullptr;
      Sleep(20);
    }
  }
  if (!box) return;
  seen.found = true;
  seen.browserLogWhileShown = WaitForBrowserLog(logged);
  EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&seen));
  seen.okButton = IsWindowVisible(GetDlgItem(box, IDOK)) != FALSE;
  seen.cancelButton = IsWindowVisible(GetDlgItem(box, IDCANCEL)) != FALSE;
  for (int other : {IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
    if (IsWindowVisible(GetDlgItem(box, other))) seen.otherButton = true;
  seen.owner = GetWindow(box, GW_OWNER);
  if (answer == Answer::Close) {
    PostMessageW(box, WM_CLOSE, 0, 0);
    return;
  }
  const int id = answer == Answer::Ok ? IDOK : IDCANCEL;
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
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

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Runs InstallWorker on a thread of its own, as the window does, while this
// (window) thread runs its message loop; the box is answered as given.
SeenBox RunWorker(HWND owner, Answer answer, std::size_t logged) {
  SeenBox seen;
  std::thread answerer(AnswerBox, answer, logged, std::ref(seen));
  std::atomic<bool> done{false};
  std::thread worker([&] {
    InstallWorker(owner);
    done = true;
  });
  for (int i = 0; i < 6000 && !done; ++i) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
  worker.join();
  answerer.join();
  Pump();
  return seen;
}

class PromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("VELNOR_BROWSER_LOG")) GTEST_SKIP() << "run by prompt_under_wine.sh";
    const char* path = std::getenv("VELNOR_BROWSER_LOG");
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

TEST_F(PromptTest, OkOpensPageBeforeTheBoxAndSupportAfterIt) {
  SeenBox seen;
  std::thread answerer(AnswerBox, Answer::Ok, 1, std::ref(seen));
  ShowFailurePrompt(owner, kDownloadFailedMessage, L"https://localhost:8443/velnor-video/win7");
  answerer.join();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.browserLogWhileShown,
            (std::vector<std::wstring>{L"https://localhost:8443/velnor-video/win7"}));
  EXPECT_EQ(seen.text, ComposeFailurePromptText(kDownloadFailedMessage));
  EXPECT_TRUE(seen.errorIcon);
  EXPECT_TRUE(seen.okButton);
  EXPECT_TRUE(seen.cancelButton);
  EXPECT_FALSE(seen.otherButton);
  EXPECT_EQ(seen.owner, owner);
  EXPECT_EQ(WaitForBrowserLog(2),
            (std::vector<std::wstring>{L"https://localhost:8443/velnor-video/win7", support}));
}

TEST_F(PromptTest, CancelAndClosingOpenNothingMore) {
  // Cancel, then closing the box, then OK: only the last adds the support
  // page, so a stray launch by the first two would show up before it.
  const Answer answers[] = {Answer::Cancel, Answer::Close, Answer::Ok};
  const wchar_t* pages[] = {L"https://a.example/1", L"https://a.example/2", L"https://a.example/3"};
  for (int i = 0; i < 3; ++i) {
    SeenBox seen;
    std::thread answerer(AnswerBox, answers[i], i + 1, std::ref(seen));
    ShowFailurePrompt(owner, kStartFailedMessage, pages[i]);
    answerer.join();
    ASSERT_TRUE(seen.found) << i;
    EXPECT_EQ(seen.text, ComposeFailurePromptText(kStartFailedMessage));
    EXPECT_TRUE(seen.errorIcon);
  }
  EXPECT_EQ(WaitForBrowserLog(4),
            (std::vector<std::wstring>{pages[0], pages[1], pages[2], support}));
}

TEST_F(PromptTest, FailedDownloadPromptsAndLeavesTheWindowShown) {
  gDownloadMode = DownloadMode::Fail;
  const SeenBox seen = RunWorker(owner, Answer::Ok, 1);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(gDownloadUrl, std::string(kDownloadOrigin) + "/velnor-video/win7");
  EXPECT_EQ(seen.browserLogWhileShown, (std::vector<std::wstring>{Wide(gDownloadUrl)}));
  EXPECT_EQ(seen.text, ComposeFailurePromptText(kDownloadFailedMessage));
  EXPECT_EQ(seen.owner, owner);
  EXPECT_EQ(WaitForBrowserLog(2), (std::vector<std::wstring>{Wide(gDownloadUrl), support}));
  EXPECT_TRUE(IsWindowVisible(owner));
  EXPECT_EQ(gCloseMessages, 0);
}

TEST_F(PromptTest, FailedStartHidesPromptsKeepsTheFileThenPostsClose) {
  gDownloadMode = DownloadMode::WriteNonProgram;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey1, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const wchar_t pv[] = L"1.2.3.4";
  RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(pv), sizeof pv);
  RegCloseKey(key);
  const bool release = !(IsOsVersionAtLeast(6, 1, 0) && !IsOsVersionAtLeast(6, 2, 0));

  const SeenBox seen = RunWorker(owner, Answer::Cancel, 1);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(gDownloadUrl, std::string(kDownloadOrigin) +
                              (release ? "/velnor-video/release" : "/velnor-video/win7"));
  EXPECT_EQ(seen.browserLogWhileShown, (std::vector<std::wstring>{Wide(gDownloadUrl)}));
  EXPECT_EQ(seen.text, ComposeFailurePromptText(kStartFailedMessage));
  EXPECT_EQ(seen.owner, owner);
  EXPECT_FALSE(IsWindowVisible(owner));
  EXPECT_NE(GetFileAttributesW(L"velnor-setup.exe"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(gCloseMessages, 1);
  EXPECT_EQ(BrowserLog().size(), 1u);
}
