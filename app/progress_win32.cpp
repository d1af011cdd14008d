// The download's progress callback: stores the report with the current tick
// and asks the window to repaint. Runs on the worker thread after every chunk.
#include "app/progress.h"

#include <windows.h>

void OnDownloadProgress(WindowHandle mainWindow, std::uint64_t received, std::uint64_t total) {
  RecordProgressReport(SharedProgressState(), received, total, GetTickCount64());
  InvalidateRect(reinterpret_cast<HWND>(mainWindow), nullptr, FALSE);
}
