// Test build's download: reports a quarter of the body and then hangs, as a
// stalled transfer does, so the window can be closed while it runs.
#include "net/download.h"

#include <windows.h>

bool DownloadFile(const std::string&, const std::string&, std::string& error,
                  ProgressCallback progress) {
  progress(256 * 1024, 1024 * 1024);
  Sleep(120 * 1000);
  error = "stalled";
  return false;
}
