// Calls DownloadFile for each URL on its command line, saving into file<n>.bin
// in the current folder, and prints one line per URL: "ok" or the error text,
// the milliseconds taken, and for "ok" the SHA-256 of what was received.
#include <windows.h>

#include <cstdio>
#include <string>

#include "net/download.h"

int main(int argc, char** argv) {
  for (int n = 1; n < argc; ++n) {
    std::string error;
    const ULONGLONG start = GetTickCount64();
    SavedBody saved;
    const bool ok = DownloadFile(argv[n], "file" + std::to_string(n) + ".bin", error, nullptr,
                                 saved) == DownloadResult::Saved;
    std::printf("%s\t%llu\t", ok ? "ok" : error.c_str(), GetTickCount64() - start);
    if (ok)
      for (unsigned char b : saved.digest) std::printf("%02x", b);
    std::printf("\n");
    std::fflush(stdout);
  }
  return 0;
}
