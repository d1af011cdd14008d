// Download benchmark: DownloadFile (saving the file, with a progress callback
// that counts its calls) against the bare WinHTTP read loop that discards the
// body, in alternate rounds against the same server. Prints MB/s (MB = 10^6
// bytes), CPU time per MB of this process and the ratio of the medians.
//
// Usage: download-bench.exe <url> <rounds> <save-path>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bare_get_win32.h"
#include "net/download.h"

namespace {

struct Round {
  double mbPerSecond = 0;
  double cpuMsPerMb = 0;
};

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& time) {
    return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

Round Figures(std::uint64_t bytes, double seconds, double cpuSeconds) {
  const double mb = static_cast<double>(bytes) / 1e6;
  return Round{mb / seconds, cpuSeconds * 1000 / mb};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Summary(const char* name, const std::vector<Round>& rounds) {
  std::vector<double> speeds, cpu;
  for (const Round& r : rounds) {
    speeds.push_back(r.mbPerSecond);
    cpu.push_back(r.cpuMsPerMb);
  }
  std::printf("%-13s median %7.1f MB/s (best %7.1f), CPU %.2f ms/MB\n", name, Median(speeds),
              *std::max_element(speeds.begin(), speeds.end()), Median(cpu));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: download-bench <url> <rounds> <save-path>\n");
    return 2;
  }
  const std::string url = argv[1];
  const int rounds = std::max(1, std::atoi(argv[2]));
  const std::string savePath = argv[3];

  std::vector<Round> download, bare;
  for (int round = 1; round <= rounds; ++round) {
    std::uint64_t calls = 0;
    std::uint64_t received = 0;
    std::string error;
    double cpu = ProcessCpuSeconds();
    double start = Now();
    const bool ok = DownloadFile(url, savePath, error, [&](std::uint64_t done, std::uint64_t) {
      ++calls;
      received = done;
    });
    double seconds = Now() - start;
    cpu = ProcessCpuSeconds() - cpu;
    DeleteFileA(savePath.c_str());
    if (!ok) {
      std::fprintf(stderr, "DownloadFile failed: %s\n", error.c_str());
      return 1;
    }
    download.push_back(Figures(received, seconds, cpu));
    std::printf("round %d DownloadFile  %7.1f MB/s  CPU %.2f ms/MB  %llu bytes, %llu progress calls\n",
                round, download.back().mbPerSecond, download.back().cpuMsPerMb,
                static_cast<unsigned long long>(received), static_cast<unsigned long long>(calls));

    BareGetResult result;
    cpu = ProcessCpuSeconds();
    if (!BareWinHttpGet(url, result, error)) {
      std::fprintf(stderr, "bare WinHTTP loop failed: %s\n", error.c_str());
      return 1;
    }
    cpu = ProcessCpuSeconds() - cpu;
    bare.push_back(Figures(result.bytes, result.seconds, cpu));
    std::printf("round %d bare WinHTTP  %7.1f MB/s  CPU %.2f ms/MB  %llu bytes\n", round,
                bare.back().mbPerSecond, bare.back().cpuMsPerMb,
                static_cast<unsigned long long>(result.bytes));
    std::fflush(stdout);
  }
  Summary("DownloadFile", download);
  Summary("bare WinHTTP", bare);
  std::vector<double> d, b;
  for (const Round& r : download) d.push_back(r.mbPerSecond);
  for (const Round& r : bare) b.push_back(r.mbPerSecond);
  std::printf("ratio DownloadFile / bare WinHTTP: %.3f (goal >= 0.95)\n", Median(d) / Median(b));
  return 0;
}
