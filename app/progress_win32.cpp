// The download's progress callback: stores the report with the current tick
// and asks the window to repaint when the frame would differ. Runs on the
// worker thread after every chunk.
#include <windows.h>

#include "app/progress.h"
#include "app/window_messages_win32.h"

void OnDownloadProgress(WindowHandle mainWindow, int barWidth, std::uint64_t received,
                        std::uint64_t total) {
  HWND window = reinterpret_cast<HWND>(mainWindow);
  const ProgressChange change =
      RecordProgressReport(SharedProgressState(), received, total, GetTickCount64(), barWidth);
  if (change.repaint) InvalidateRect(window, nullptr, FALSE);
  // Decided here, where every report passes once and in order, so the event
  // follows each change of the text exactly, whether or not a frame is painted
  // (a covered window paints none on a desktop without composition). Raised
  // by the window's own thread, as a standard progress bar raises it: a
  // reader's in-context hook runs inside NotifyWinEvent and must not stall the
  // download, and PostMessageW never waits.
  if (change.percent) PostMessageW(window, kProgressValueChanged, 0, 0);
}
