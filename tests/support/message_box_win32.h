#pragma once
// Finds, reads and answers a shown message box, from another thread or
// another process in the same Wine prefix. Test tooling only.
#include <windows.h>

#include <string>

struct MessageBoxView {
  std::wstring text;
  // The icon's handle; it is only comparable with LoadIconW in the box's own
  // process, elsewhere only whether there is one tells anything.
  HICON icon = nullptr;
  std::string buttons;  // the shown ones in this order: ok,cancel,abort,retry,ignore,yes,no
  HWND owner = nullptr;
};

enum class BoxAnswer { Ok, Cancel, Close };

// The shown box (dialog class "#32770") with this caption, waiting until
// GetTickCount64() reaches `deadline`; nullptr when none showed up.
HWND WaitForMessageBox(const wchar_t* caption, ULONGLONG deadline);

// Every message to the box is bounded, so a hung box cannot hang the caller.
MessageBoxView ReadMessageBox(HWND box);

// Posts the click on OK or Cancel, or WM_CLOSE as the close box does.
void AnswerMessageBox(HWND box, BoxAnswer answer);
