// Test build's download: reports half of a 1 MB body through the callback and
// then fails, so the real worker goes on with its download-failed path.
#include "net/download.h"

#include <windows.h>

bool DownloadFile(const std::string&, const std::string&, std::string& error,
                  ProgressCallback progress) {
  progress(512 * 1024, 1024 * 1024);
  Sleep(1100);
  progress(768 * 1024, 1024 * 1024);
  error = "connection reset";
  return false;
}
