#pragma once

// The main window's private messages, handled by its window procedure
// (main_win32.cpp).

#include <windows.h>

// Posted when the worker thread could not be started: the install cannot go
// on, so the user gets the download-failed prompt (the download page in the
// browser and the hint to install by hand) once the window is on screen,
// instead of a bar that stays at 0 % for ever.
constexpr UINT kWorkerNotStarted = WM_APP + 1;

// Posted by the worker when a progress report changes the percentage text;
// the window procedure then calls RaiseValueChange.
constexpr UINT kProgressValueChanged = WM_APP + 2;
