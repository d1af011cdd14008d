// Calls DownloadFile for each URL on its command line, saving into file<n>.bin
// in the current folder, and prints one line per URL:
//   "ok" or the error text, milliseconds taken, last received count, last
//   total, and for "ok" the SHA-256 of the saved file by the program's digest
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "common/digest.h"
#include "net/download.h"

int main(int argc, char** argv) {
  for (int n = 1; n < argc; ++n) {
    std::string error, name = "file" + std::to_string(n) + ".bin";
    unsigned long long received = 0, total = 0;
    const ULONGLONG start = GetTickCount64();
    SavedBody saved;
    const bool ok = DownloadFile(
                        argv[n], name, error,
                        [&](std::uint64_t r, std::uint64_t t) { received = r, total = t; },
                        saved) == DownloadResult::Saved;
    std::printf("%s\t%llu\t%llu\t%llu\t", ok ? "ok" : error.c_str(), GetTickCount64() - start,
                received, total);
    saved.file.reset();
    std::ifstream file(name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    RunningDigest digest = ok ? BeginDigest() : nullptr;
    const bool added = digest && AddToDigest(digest, bytes.data(), bytes.size());
    Sha256 value{};
    if (digest && FinishDigest(digest, value) && added)
      for (unsigned char b : value) std::printf("%02x", b);
    std::printf("\n");
    std::fflush(stdout);
  }
  return 0;
}
