// Test build's worker: instead of installing, it reports the progress given
// in VELNOR_TEST_PROGRESS ("<received> <total> <bytes per second>") through
// the window's real progress callback, then sets the speed and ends. The
// window then shows that state until it is closed.
#include "install/install_worker.h"

#include <windows.h>

#include <cstdlib>

#include "app/progress.h"

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
}
