#pragma once

// What screen readers read of the main window: its client area is one
// progress bar, answered by an accessible object of our own (UI thread only).

#include <windows.h>

// Posted to the main window by the worker when a progress report changes the
// percentage text; the window procedure then calls RaiseValueChange.
constexpr UINT kProgressValueChanged = WM_APP + 2;

// The answer to WM_GETOBJECT: for OBJID_CLIENT a reference to the window's
// progress-bar object (a negative error when it cannot be made), for every
// other object what DefWindowProcW gives.
LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam);

// Tells screen readers that the progress bar's value changed
// (EVENT_OBJECT_VALUECHANGE for the window's client object).
void RaiseValueChange(HWND window);

// At WM_DESTROY: the object handed out answers E_FAIL from now on, to
// whoever may still hold it.
void DisconnectAccessible();
