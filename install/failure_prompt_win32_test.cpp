// The failure prompt with the real ShellExecuteW and MessageBoxW under Wine;
// the worker's failure paths run end to end in tests/e2e. prompt_under_wine.sh
// runs it with a display, a stand-in browser that appends every URL it is
// handed to the file named by VELNOR_BROWSER_LOG, and a current directory of
// its own. A helper thread finds the box by class and caption, reads it and
// answers.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "build_config.h"
#include "install/failure_prompt.h"
#include "tests/support/message_box_win32.h"

namespace {

using Urls = std::vector<std::wstring>;
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

// A shown top-level window standing in for the main window, on this thread.
HWND MakeOwner() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VelnorPromptTestOwner";
  RegisterClassW(&windowClass);
  return CreateWindowExW(0, windowClass.lpszClassName, L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 200,
                         100, nullptr, nullptr, windowClass.hInstance, nullptr);
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
    owner = MakeOwner();
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    if (owner) DestroyWindow(owner);
  }
  HWND owner = nullptr;
  // ShellExecuteW is handed the bare origin; Wine's browser launcher
  // canonicalises it and passes it on with the root path "/" added.
  const std::wstring support = Wide(kSupportOrigin) + L"/";
};

}  // namespace

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
