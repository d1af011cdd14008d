// Route benchmark: what choosing the route costs before the first request is
// sent (reading the user's proxy settings, and the lookup when auto-detection
// or a PAC script is set), beside a whole DownloadFile of the same URL, which
// chooses it again. Prints the medians of the rounds in milliseconds.
//
// Usage: route-bench.exe <url> <rounds>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/download.h"
#include "net/proxy_route.h"
#include "net/url.h"

namespace {

double NowMs() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: route-bench <url> <rounds>\n");
    return 2;
  }
  const std::string url = argv[1];
  std::wstring host, path;
  std::int32_t port = 0;
  if (!ParseHttpsUrl(url, host, port, path)) return 2;
  std::vector<double> route, download;
  for (int round = 0; round < std::max(1, std::atoi(argv[2])); ++round) {
    const double start = NowMs();
    RunRoutes routes;
    const ProxyRoute chosen = RoutesFor(routes, host, port).front();
    const double chosenAt = NowMs();
    std::string error;
    SavedBody saved;
    if (DownloadFile(url, "route-bench.bin", error, {}, saved) != DownloadResult::Saved) {
      std::fprintf(stderr, "round %d: %s\n", round, error.c_str());
      return 1;
    }
    route.push_back(chosenAt - start);
    download.push_back(NowMs() - chosenAt);
    if (round == 0)
      std::printf("  route: %s\n", chosen.kind == RouteKind::Proxy    ? "proxy"
                                   : chosen.kind == RouteKind::Direct ? "direct"
                                                                      : "default");
  }
  std::printf("  choosing the route   %8.2f ms (median of %zu)\n", Median(route), route.size());
  std::printf("  the whole download   %8.2f ms (median of %zu)\n", Median(download),
              download.size());
  return 0;
}
