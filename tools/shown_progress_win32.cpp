// Test build's worker: instead of installing, it reports the progress given
// in VELNOR_TEST_PROGRESS ("<received> <total> <bytes per second>") through
// the window's real progress callback, then sets the speed. The window then
// shows that state until it is closed: the report is kept fresh, so the
// window's timer never takes the speed for a stall.
#include <windows.h>

#include <cstdlib>

#include "app/progress.h"
#include "install/install_worker.h"

void InstallWorker(WindowHandle mainWindow, ProgressCallback progress) {
  const char* given = std::getenv("VELNOR_TEST_PROGRESS");
  if (given == nullptr) return;
  char* end = nullptr;
  const std::uint64_t received = std::strtoull(given, &end, 10);
  const std::uint64_t total = std::strtoull(end, &end, 10);
  const double bytesPerSecond = std::strtod(end, &end);
  progress(received, total);
  SharedProgressState().bytesPerSecond.store(bytesPerSecond, std::memory_order_relaxed);
  InvalidateRect(reinterpret_cast<HWND>(mainWindow), nullptr, FALSE);
  for (;; Sleep(200)) SharedProgressState().lastReportTick.store(GetTickCount64());
}
