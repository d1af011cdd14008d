#pragma once

// What screen readers read of the main window: its client area is one
// progress bar, answered by an accessible object of our own (UI thread only).

#include <windows.h>

// The answer to WM_GETOBJECT: for OBJID_CLIENT a reference to the window's
// progress-bar object (a negative error when it cannot be made), for every
// other object, and for every object once the window is being destroyed, what
// DefWindowProcW gives. The thread must be in a single-threaded apartment.
LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam);

// Tells screen readers that the progress bar's value changed
// (EVENT_OBJECT_VALUECHANGE for the window's client object).
void RaiseValueChange(HWND window);

// At WM_DESTROY: the object handed out answers E_FAIL from now on, to
// whoever may still hold it, and no new one is made.
void DisconnectAccessible();
