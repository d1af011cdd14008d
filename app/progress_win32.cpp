// The download's progress callback: stores the report with the current tick
// and asks the window to repaint. Runs on the worker thread after every chunk.
#include <windows.h>

#include "app/progress.h"
#include "app/window_messages_win32.h"

void OnDownloadProgress(WindowHandle mainWindow, std::uint64_t received, std::uint64_t total) {
  HWND window = reinterpret_cast<HWND>(mainWindow);
  const bool percentChanged =
      RecordProgressReport(SharedProgressState(), received, total, GetTickCount64());
  InvalidateRect(window, nullptr, FALSE);
  // Decided here, where every report passes once and in order, so the event
  // follows each change of the text exactly, whether or not a frame is painted
  // (a covered window paints none on a desktop without composition). Raised
  // by the window's own thread, as a standard progress bar raises it: a
  // reader's in-context hook runs inside NotifyWinEvent and must not stall the
  // download, and PostMessageW never waits.
  if (percentChanged) PostMessageW(window, kProgressValueChanged, 0, 0);
}
