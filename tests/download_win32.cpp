// Calls DownloadFile for each URL on its command line, saving into file<n>.bin
// in the current folder, and prints one line per URL: "ok" or the error text,
// the milliseconds taken, and for "ok" the SHA-256 of the saved file by the
// program's own digest.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "net/digest.h"
#include "net/download.h"

int main(int argc, char** argv) {
  for (int n = 1; n < argc; ++n) {
    std::string error, name = "file" + std::to_string(n) + ".bin";
    const ULONGLONG start = GetTickCount64();
    SavedBody saved;
    const bool ok = DownloadFile(argv[n], name, error, nullptr, saved) == DownloadResult::Saved;
    std::printf("%s\t%llu\t", ok ? "ok" : error.c_str(), GetTickCount64() - start);
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
