#pragma once

#include "common/window_handle.h"

// Runs the whole install once on the calling (worker) thread: choose the
// channel, download, start and wait for the setup program, clean up, and
// post WM_CLOSE to `mainWindow` (not after a failed download).
void InstallWorker(WindowHandle mainWindow);
