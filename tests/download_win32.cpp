// Calls DownloadFile for each URL on its command line, saving into file<n>.bin
// in the current folder, and prints one line per URL:
//   "ok" or the error text, milliseconds taken, last received count, last total
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "net/download.h"

int main(int argc, char** argv) {
  for (int n = 1; n < argc; ++n) {
    std::string error;
    unsigned long long received = 0, total = 0;
    const ULONGLONG start = GetTickCount64();
    const bool ok = DownloadFile(argv[n], "file" + std::to_string(n) + ".bin", error,
                                 [&](std::uint64_t r, std::uint64_t t) { received = r, total = t; });
    std::printf("%s\t%llu\t%llu\t%llu\n", ok ? "ok" : error.c_str(), GetTickCount64() - start,
                received, total);
    std::fflush(stdout);
  }
  return 0;
}
