// Download benchmark: DownloadFile (saving, hashing and re-checking the file,
// with a progress callback that counts its calls) against the bare WinHTTP
// read loop that discards the body, in interleaved rounds against the same
// server; the order swaps every round. Prints MB/s (MB = 10^6 bytes) as min,
// median and max, CPU ms per MB of this process, the ratio of the medians,
// and what each of the digest's two passes costs per MB on its own. The
// transfer alone (to DownloadFile's return, before the file is read back) is
// printed beside it.
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
#include "common/digest.h"
#include "net/download.h"
#include "setupfile/setup_file.h"

namespace {

struct Round {
  double mbPerSecond = 0;
  double cpuMsPerMb = 0;
  double transferMbPerSecond = 0;  // DownloadFile's transfer alone
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

std::vector<double> Speeds(const std::vector<Round>& rounds,
                           double Round::*speed = &Round::mbPerSecond) {
  std::vector<double> speeds;
  for (const Round& r : rounds) speeds.push_back(r.*speed);
  return speeds;
}

double MedianCpu(const std::vector<Round>& rounds) {
  std::vector<double> cpu;
  for (const Round& r : rounds) cpu.push_back(r.cpuMsPerMb);
  return Median(cpu);
}

void Summary(const char* name, const std::vector<Round>& rounds) {
  const std::vector<double> speeds = Speeds(rounds);
  std::printf("%-13s MB/s min %7.1f  median %7.1f  max %7.1f   CPU median %.2f ms/MB\n", name,
              *std::min_element(speeds.begin(), speeds.end()), Median(speeds),
              *std::max_element(speeds.begin(), speeds.end()), MedianCpu(rounds));
}

bool RunDownloadFile(const std::string& url, const std::string& savePath, int round,
                     std::vector<Round>& rounds) {
  std::uint64_t calls = 0, received = 0;
  std::string error;
  SavedBody saved;
  double cpu = ProcessCpuSeconds();
  const double start = Now();
  bool ok = DownloadFile(
                url, savePath, error,
                [&](std::uint64_t done, std::uint64_t) {
                  ++calls;
                  received = done;
                },
                saved) == DownloadResult::Saved;
  const double transfer = Now() - start;
  ok = ok && HoldSetupFile(saved.file.get()) &&
       ExamineSetupFile(saved.file.get(), false).length == saved.length;
  const double seconds = Now() - start;
  cpu = ProcessCpuSeconds() - cpu;
  if (!ok) {
    std::fprintf(stderr, "DownloadFile failed: %s\n", error.c_str());
    return false;
  }
  DeleteSetupFile(saved.file.release());
  rounds.push_back(Figures(received, seconds, cpu));
  rounds.back().transferMbPerSecond = static_cast<double>(received) / 1e6 / transfer;
  std::printf(
      "round %d DownloadFile  %7.1f MB/s  CPU %.2f ms/MB  %llu bytes, %llu progress calls;"
      " transfer alone %.1f MB/s\n",
      round, rounds.back().mbPerSecond, rounds.back().cpuMsPerMb,
      static_cast<unsigned long long>(received), static_cast<unsigned long long>(calls),
      rounds.back().transferMbPerSecond);
  return true;
}

bool RunBare(const std::string& url, int round, std::vector<Round>& rounds) {
  BareGetResult result;
  std::string error;
  double cpu = ProcessCpuSeconds();
  if (!BareWinHttpGet(url, result, error)) {
    std::fprintf(stderr, "bare WinHTTP loop failed: %s\n", error.c_str());
    return false;
  }
  cpu = ProcessCpuSeconds() - cpu;
  rounds.push_back(Figures(result.bytes, result.seconds, cpu));
  std::printf("round %d bare WinHTTP  %7.1f MB/s  CPU %.2f ms/MB  %llu bytes\n", round,
              rounds.back().mbPerSecond, rounds.back().cpuMsPerMb,
              static_cast<unsigned long long>(result.bytes));
  return true;
}

// CPU ms per MB of the digest's two passes over `bytes` bytes, measured
// apart from any transfer: hashing 8192-byte pieces as they are written, and
// reading the saved file back through its held handle while hashing it.
// Returns both passes together.
double DigestPasses(const std::string& savePath, std::uint64_t bytes) {
  std::vector<char> piece(8192, 'x');
  SetupFile file = CreateSetupFile(savePath);
  for (std::uint64_t left = bytes; file && left > 0; left -= std::min<std::uint64_t>(left, 8192))
    WriteSetupFile(file, piece.data(),
                   static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 8192)));

  Sha256 value{};
  double cpu = ProcessCpuSeconds();
  RunningDigest digest = BeginDigest();
  for (std::uint64_t left = bytes; left > 0; left -= std::min<std::uint64_t>(left, 8192))
    AddToDigest(digest, piece.data(),
                static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 8192)));
  FinishDigest(digest, value);
  const double writing = ProcessCpuSeconds() - cpu;

  cpu = ProcessCpuSeconds();
  if (file && KeepSetupFile(file) && HoldSetupFile(file)) ExamineSetupFile(file, false);
  const double checking = ProcessCpuSeconds() - cpu;
  if (file) DeleteSetupFile(file);

  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("digest pass 1 (hash while writing):      %.2f ms/MB CPU\n", writing * 1000 / mb);
  std::printf("digest pass 2 (re-read and hash):        %.2f ms/MB CPU\n", checking * 1000 / mb);
  return (writing + checking) * 1000 / mb;
}

// Milliseconds from the last byte of `program` to its start, saved and held
// as the installer holds a download: the read-back with the signature check
// beside it, and the read-back alone, in alternate rounds.
int LastByteToStart(const std::string& program, int rounds) {
  std::FILE* in = std::fopen(program.c_str(), "rb");
  SetupFile file = in ? CreateSetupFile("velnor-bench-signed.exe") : nullptr;
  std::vector<char> piece(8192);
  std::uint64_t bytes = 0;
  for (std::size_t got; file && (got = std::fread(piece.data(), 1, piece.size(), in)) > 0;)
    bytes += got, WriteSetupFile(file, piece.data(), static_cast<std::uint32_t>(got));
  if (in) std::fclose(in);
  if (file == nullptr || !KeepSetupFile(file) || !HoldSetupFile(file)) return 1;
  std::vector<double> both, digest;
  SetupFileFacts facts;
  for (int round = 0; round < rounds; ++round) {
    for (bool signature : {true, false}) {
      const double start = Now();
      facts = ExamineSetupFile(file, signature);
      (signature ? both : digest).push_back((Now() - start) * 1000);
    }
  }
  DeleteSetupFile(file);
  for (auto* times : {&both, &digest}) std::sort(times->begin(), times->end());
  std::printf("%.1f MB, read back and signature side by side: ms min %.1f  median %.1f  max %.1f\n",
              static_cast<double>(bytes) / 1e6, both.front(), Median(both), both.back());
  std::printf("%.1f MB, read back alone:                      ms min %.1f  median %.1f  max %.1f\n",
              static_cast<double>(bytes) / 1e6, digest.front(), Median(digest), digest.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--signature")
    return LastByteToStart(argv[2], std::max(1, std::atoi(argv[3])));
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: download-bench <url> <rounds> <save-path>\n"
                 "       download-bench --signature <signed program> <rounds>\n");
    return 2;
  }
  const std::string url = argv[1];
  const int rounds = std::max(1, std::atoi(argv[2]));
  const std::string savePath = argv[3];

  std::vector<Round> download, bare;
  for (int round = 1; round <= rounds; ++round) {
    const bool downloadFirst = round % 2 == 1;
    const bool ok =
        downloadFirst
            ? RunDownloadFile(url, savePath, round, download) && RunBare(url, round, bare)
            : RunBare(url, round, bare) && RunDownloadFile(url, savePath, round, download);
    if (!ok) return 1;
    std::fflush(stdout);
  }
  Summary("DownloadFile", download);
  Summary("bare WinHTTP", bare);
  std::printf("ratio of the medians DownloadFile / bare WinHTTP: %.3f (transfer alone %.3f)\n",
              Median(Speeds(download)) / Median(Speeds(bare)),
              Median(Speeds(download, &Round::transferMbPerSecond)) / Median(Speeds(bare)));
  const double beyond = MedianCpu(download) - MedianCpu(bare);
  const double digest = DigestPasses(savePath, 200 * 1000 * 1000);
  std::printf(
      "DownloadFile's CPU beyond the bare loop: %.2f ms/MB, of which the digest %.2f;\n"
      "the copy loop's own: %.2f ms/MB\n",
      beyond, digest, beyond - digest);
  return 0;
}
