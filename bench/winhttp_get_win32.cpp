// The bare WinHTTP read loop as a program, for benchmarks that need a
// reference for the link through WinHTTP under Wine: GETs <url> <rounds>
// times (default 1), discarding the body, and prints one line per round:
// "<bytes> bytes in <seconds> s = <MB/s> MB/s" (MB = 10^6 bytes).
// Exit code 0 when every round read a whole 200 body.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bare_get_win32.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: winhttp-get <url> [rounds]\n");
    return 2;
  }
  const int rounds = argc == 3 ? std::atoi(argv[2]) : 1;
  for (int round = 0; round < rounds; ++round) {
    BareGetResult result;
    std::string error;
    if (!BareWinHttpGet(argv[1], result, error)) {
      std::fprintf(stderr, "winhttp-get: %s\n", error.c_str());
      return 1;
    }
    std::printf("%llu bytes in %.3f s = %.1f MB/s\n", static_cast<unsigned long long>(result.bytes),
                result.seconds, static_cast<double>(result.bytes) / 1e6 / result.seconds);
    std::fflush(stdout);
  }
  return 0;
}
