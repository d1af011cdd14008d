#pragma once

#include "common/window_handle.h"
#include "net/download.h"

// Runs the whole install once on the calling (worker) thread: choose the
// channel, download "velnor-setup.exe" reporting to `progress`; on failure the
// download-failed prompt and nothing more (the window stays shown). On
// success hide the window, start the setup program without arguments, wait,
// close both handles, delete the file, post WM_CLOSE to `mainWindow`. A failed
// start shows the start-failed prompt, keeps the file, then posts WM_CLOSE.
void InstallWorker(WindowHandle mainWindow, ProgressCallback progress);
