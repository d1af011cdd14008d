#include "tests/support/message_box_win32.h"

namespace {

BOOL CALLBACK ReadChild(HWND child, LPARAM param) {
  auto* view = reinterpret_cast<MessageBoxView*>(param);
  wchar_t className[32] = {};
  GetClassNameW(child, className, 32);
  if (lstrcmpiW(className, L"Static") != 0) return TRUE;
  // Sent, not read directly: the box's thread answers while its modal loop runs.
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
    view->icon = reinterpret_cast<HICON>(icon);
    return TRUE;
  }
  wchar_t text[2048] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      2000, &copied);
  if (text[0]) view->text = text;
  return TRUE;
}

}  // namespace

HWND WaitForMessageBox(const wchar_t* caption, ULONGLONG deadline) {
  for (;;) {
    HWND box = FindWindowW(L"#32770", caption);
    if (box && IsWindowVisible(box)) return box;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(20);
  }
}

MessageBoxView ReadMessageBox(HWND box) {
  MessageBoxView view;
  // The text is set once the dialog is laid out; give it a moment.
  for (int i = 0; i < 50 && view.text.empty(); ++i) {
    EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&view));
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

void AnswerMessageBox(HWND box, BoxAnswer answer) {
  if (answer == BoxAnswer::Close) {
    PostMessageW(box, WM_CLOSE, 0, 0);
    return;
  }
  const int id = answer == BoxAnswer::Ok ? IDOK : IDCANCEL;
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}
