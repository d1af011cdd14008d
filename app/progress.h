#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/window_handle.h"

// The download's progress as the window shows it. The worker thread stores
// each report (RecordProgressReport); the UI thread reads received, total and
// bytesPerSecond while painting, and ages the speed sample once a second
// (AgeProgressSample). Each field is a lock-free 64-bit atomic: values are
// never torn, and a frame may mix two successive reports.
//
// Two threads complete speed samples: the worker at a report, the window's
// timer after a second without one. The sample's fields and the speed are
// touched only by the thread holding sampleClaimed, which no thread ever waits
// for (one that finds it held leaves the sample to the next report or tick),
// so a sample completes once, from its own start tick and count.
struct ProgressState {
  std::atomic<std::uint64_t> received{0};         // bytes so far, as last reported
  std::atomic<std::uint64_t> total{0};            // bytes expected; 0 = unknown
  std::atomic<double> bytesPerSecond{0.0};        // mean rate of the last sample
  std::atomic<std::uint64_t> lastSampleTick{0};   // ms tick the sample began; 0 = none yet
  std::atomic<std::uint64_t> lastSampleBytes{0};  // received at lastSampleTick
  std::atomic<std::uint64_t> lastReportTick{0};   // ms tick of the last report
  std::atomic<bool> restarted{false};             // the count went back: start anew
  std::atomic_flag sampleClaimed = ATOMIC_FLAG_INIT;
};

// The memory order of the fields outside the sample's claim.
constexpr auto kRelaxed = std::memory_order_relaxed;

static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "64-bit atomics must be lock-free");
static_assert(std::atomic<double>::is_always_lock_free, "double atomics must be lock-free");

// The one process-wide record; all zero at start, never reset.
ProgressState& SharedProgressState();

// What a report changes on screen.
struct ProgressChange {
  bool repaint = false;  // the fill's pixels, the percentage or the speed text differ
  bool percent = false;  // the percentage differs: screen readers are told
};

// Stores one report and advances the speed sample, given the current
// millisecond tick `now` (never 0 on a running system) and the bar's width in
// pixels. A sample completes at the first report at least 1000 ms after it
// began; the first report, and one whose count went back, start one anew at
// 0. No allocation, no waiting, no formatting: it runs after every chunk.
ProgressChange RecordProgressReport(ProgressState& state, std::uint64_t received,
                                    std::uint64_t total, std::uint64_t now, int barWidth);

// Called once a second by the window: after a second without a report, the
// running sample completes with what it got, so a stalled download reads
// 0 KB/s once a whole sample has passed without a byte. True when the speed
// text changed.
bool AgeProgressSample(ProgressState& state, std::uint64_t now);

// The download's progress callable, bound to the main window and its bar's
// width: records the report with the current tick, and asks the window to
// repaint when the frame would differ. Runs on the worker thread after every
// chunk (progress_win32.cpp).
void OnDownloadProgress(WindowHandle mainWindow, int barWidth, std::uint64_t received,
                        std::uint64_t total);

// received / total clamped to [0, 1]; 0 when total is 0.
double ProgressFraction(std::uint64_t received, std::uint64_t total);

// The fraction as a whole percentage, halves rounded up; outside [0, 1]
// clamped, NaN 0.
int ShownPercent(double fraction);
// "0%", "33%", "100%".
std::wstring FormatPercentText(double fraction);

// The speed as its text shows it: whole KB below 1024 KB/s, else hundredths
// of a MB, an exact half rounded to even (1 KB = 1024 B).
struct ShownSpeed {
  bool megabytes = false;
  std::uint64_t amount = 0;
  bool operator==(const ShownSpeed& other) const {
    return megabytes == other.megabytes && amount == other.amount;
  }
  bool operator!=(const ShownSpeed& other) const { return !(*this == other); }
};
// Zero, negative and NaN speeds show 0 KB; absurd ones stop at 10^15 MB.
ShownSpeed ShownSpeedOf(double bytesPerSecond);
// "512 KB/s", "1.00 MB/s".
std::wstring FormatSpeedText(double bytesPerSecond);
