// Looks at the installer from another process in the same Wine prefix, for
// the end-to-end driver. Prints "key<TAB>value" lines in UTF-8 on stdout.
//
//   e2e_probe window
//       window  none | visible <left> <top> <right> <bottom> | hidden ...
//   e2e_probe watch <timeout-ms>
//       Waits for the installer's window, prints "watch ready", then waits
//       until the window no longer exists and prints when, in wall-clock
//       seconds since 1970 (Wine keeps a process's X windows on the screen
//       until the process has wound down, about 2 s later).
//       watch   ready | none;  gone  <seconds> | no
//   e2e_probe box <ok|cancel|close|none> <timeout-ms> [<browser-log> <lines>]
//       Waits (bounded) for the shown message box captioned "系统提示"; when a
//       browser log is named, waits (bounded) until it has <lines> lines while
//       the box is still up; prints what it saw, then answers the box.
//       box      found | none (exit code 1)
//       text     the box text, with \n and \\ escaped
//       icon     present | none
//       buttons  the buttons it shows, e.g. ok,cancel
//       owner    main (the installer's window) | other
//       window   the installer's window while the box is up: visible | hidden | none
//       browser  the number of lines in the browser log while the box is up
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text_win32.h"

namespace {

const wchar_t kCaption[] = L"系统提示";

void Print(const char* key, const std::string& value) {
  std::string line = std::string(key) + "\t" + value + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

std::string Escape(const std::wstring& wide) {
  std::string utf8, escaped;
  Utf8FromWide(wide, utf8);
  for (char c : utf8) {
    if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\\') {
      escaped += "\\\\";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

HWND MainWindow() { return FindWindowW(L"VelnorInstaller", L"Velnor Installer"); }

std::string WindowState(HWND window) {
  if (!window) return "none";
  RECT rect = {};
  GetWindowRect(window, &rect);
  char text[96];
  std::snprintf(text, sizeof text, "%s %ld %ld %ld %ld",
                IsWindowVisible(window) ? "visible" : "hidden", rect.left, rect.top, rect.right,
                rect.bottom);
  return text;
}

std::size_t CountLines(const std::wstring& path) {
  std::size_t lines = 0;
  if (FILE* in = _wfopen(path.c_str(), L"rb")) {
    for (int c; (c = std::fgetc(in)) != EOF;)
      if (c == '\n') ++lines;
    std::fclose(in);
  }
  return lines;
}

// What the probe reads from a shown message box. Every message to it is
// sent with a time-out, so a hung box cannot hang the probe.
struct MessageBoxView {
  std::wstring text;
  // Icon handles are the loading process's own: from here only whether
  // there is one tells anything.
  bool icon = false;
  std::string buttons;  // the shown ones in this order: ok,cancel,abort,retry,ignore,yes,no
  HWND owner = nullptr;
};

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM param) {
  auto* view = reinterpret_cast<MessageBoxView*>(param);
  wchar_t className[32] = {};
  GetClassNameW(child, className, 32);
  if (lstrcmpiW(className, L"Static") != 0) return TRUE;
  // Sent, not read directly: the box's thread answers while its modal loop runs.
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
    view->icon = icon != 0;
    return TRUE;
  }
  wchar_t text[2048] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      2000, &copied);
  if (text[0]) view->text = text;
  return TRUE;
}

// The shown box (dialog class "#32770") with our caption; nullptr when none
// showed up by `deadline`.
HWND WaitForMessageBox(ULONGLONG deadline) {
  for (;;) {
    HWND box = FindWindowW(L"#32770", kCaption);
    if (box && IsWindowVisible(box)) return box;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(20);
  }
}

MessageBoxView ReadMessageBox(HWND box) {
  MessageBoxView view;
  // The text is set once the dialog is laid out; give it a moment.
  for (int i = 0; i < 50 && view.text.empty(); ++i) {
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&view));
    if (view.text.empty()) Sleep(20);
  }
  const struct {
    int id;
    const char* name;
  } kButtons[] = {{IDOK, "ok"},       {IDCANCEL, "cancel"}, {IDABORT, "abort"},
                  {IDRETRY, "retry"}, {IDIGNORE, "ignore"}, {IDYES, "yes"},
                  {IDNO, "no"}};
  for (const auto& button : kButtons) {
    if (!IsWindowVisible(GetDlgItem(box, button.id))) continue;
    if (!view.buttons.empty()) view.buttons += ",";
    view.buttons += button.name;
  }
  view.owner = GetWindow(box, GW_OWNER);
  return view;
}

// The click on OK or Cancel, or WM_CLOSE as the close box sends it.
void AnswerMessageBox(HWND box, const std::wstring& answer) {
  if (answer == L"close") {
    PostMessageW(box, WM_CLOSE, 0, 0);
    return;
  }
  if (answer != L"ok" && answer != L"cancel") return;
  const int id = answer == L"ok" ? IDOK : IDCANCEL;
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

int Box(const std::wstring& answer, DWORD timeoutMs, const std::wstring& browserLog,
        std::size_t lines) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  HWND box = WaitForMessageBox(deadline);
  if (!box) {
    Print("box", "none");
    return 1;
  }
  Print("box", "found");
  const MessageBoxView view = ReadMessageBox(box);
  Print("text", Escape(view.text));
  Print("icon", view.icon ? "present" : "none");
  Print("buttons", view.buttons);
  HWND main = MainWindow();
  Print("owner", main && view.owner == main ? "main" : "other");
  const std::string state = WindowState(main);
  Print("window", state.substr(0, state.find(' ')));
  if (!browserLog.empty()) {
    std::size_t seen = CountLines(browserLog);
    while (seen < lines && GetTickCount64() < deadline) {
      Sleep(20);
      seen = CountLines(browserLog);
    }
    Print("browser", std::to_string(seen));
  }
  AnswerMessageBox(box, answer);
  return 0;
}

// Wall-clock seconds since 1970, comparable with the driver's own clock.
double UnixTime() {
  FILETIME now = {};
  GetSystemTimePreciseAsFileTime(&now);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

int Watch(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  HWND main = nullptr;
  while (!(main = MainWindow()) && GetTickCount64() < deadline) Sleep(20);
  if (!main) {
    Print("watch", "none");
    return 1;
  }
  Print("watch", "ready");
  while (IsWindow(main) && GetTickCount64() < deadline) Sleep(5);
  if (IsWindow(main)) {
    Print("gone", "no");
    return 1;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", UnixTime());
  Print("gone", text);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"window" && argc == 2) {
    Print("window", WindowState(MainWindow()));
    return 0;
  }
  if (command == L"watch" && argc == 3) {
    return Watch(static_cast<DWORD>(_wtoi(argv[2])));
  }
  if (command == L"box" && (argc == 4 || argc == 6)) {
    const DWORD timeoutMs = static_cast<DWORD>(_wtoi(argv[3]));
    const std::wstring browserLog = argc == 6 ? argv[4] : L"";
    const std::size_t lines = argc == 6 ? static_cast<std::size_t>(_wtoi(argv[5])) : 0;
    return Box(argv[2], timeoutMs, browserLog, lines);
  }
  std::fprintf(stderr,
               "usage: e2e_probe window | watch <timeout-ms> | box <ok|cancel|close|none> "
               "<timeout-ms> [<browser-log> <lines>]\n");
  return 2;
}
