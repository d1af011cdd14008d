#pragma once

#include <cstdint>

#include "common/window_handle.h"
#include "net/download.h"

// Runs the whole install once on the calling (worker) thread: choose the
// channel, download, start and wait for the setup program, clean up, and
// post WM_CLOSE to `mainWindow` (not after a failed download).
void InstallWorker(WindowHandle mainWindow);

// The sequence behind InstallWorker with the progress callable given:
// download; on failure the download-failed prompt and nothing more (the
// window stays shown); on success hide the window, start "velnor-setup.exe"
// without arguments, wait, close both handles, delete the file, post
// WM_CLOSE. A failed start shows the start-failed prompt, keeps the file and
// then posts WM_CLOSE.
void RunInstall(WindowHandle mainWindow, ProgressCallback progress);

// The window's progress handler, bound to the main window handle as the
// download's progress callable. Defined by the window code.
void OnDownloadProgress(WindowHandle mainWindow, std::uint64_t received, std::uint64_t total);
