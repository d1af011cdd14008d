#pragma once

// One installer of the product at a time in a logon session: two would show a
// failure that did not happen, or run two setup programs on the same files.

#include <windows.h>

// True when this is the only installer running, or when that cannot be told
// (a second copy is better than no install); this process then holds the
// lock until ReleaseInstallerLock. False when another installer holds it:
// its window, when shown, has been brought to the front.
bool BecomeTheOnlyInstaller();

// Names `window` as the one a later start brings to the front, while the lock
// is held. UI thread, before the worker starts.
void MarkInstallerWindow(HWND window);

// Lets the lock go, from any thread, once the install worker has ended or
// could not be started; a later start then runs as usual.
void ReleaseInstallerLock();
