#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/window_handle.h"

// The download's progress as the window shows it. The worker thread writes it
// (only through RecordProgressReport), the UI thread reads received, total and
// bytesPerSecond while painting. Each field is a lock-free 64-bit atomic used
// with relaxed ordering: values are never torn, and nothing orders one field
// against another, so a frame may mix two successive reports.
struct ProgressState {
  std::atomic<std::uint64_t> received{0};         // bytes so far, as last reported
  std::atomic<std::uint64_t> total{0};            // bytes expected; 0 = unknown
  std::atomic<double> bytesPerSecond{0.0};        // mean rate of the last sample
  std::atomic<std::uint64_t> lastSampleTick{0};   // ms tick the sample began; 0 = none yet
  std::atomic<std::uint64_t> lastSampleBytes{0};  // received at lastSampleTick
};

// The one memory order the fields are used with.
constexpr auto kRelaxed = std::memory_order_relaxed;

static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "64-bit atomics must be lock-free");
static_assert(std::atomic<double>::is_always_lock_free, "double atomics must be lock-free");

// The one process-wide record; all zero at start, never reset.
ProgressState& SharedProgressState();

// Stores one report and advances the speed sample, given the current
// millisecond tick `now` (never 0 on a running system). A sample completes
// at the first report at least 1000 ms after it began. No allocation, no lock,
// no formatting: it runs after every downloaded chunk. True when the report
// changes the percentage text that the window shows, the one moment screen
// readers are told the bar's value changed.
bool RecordProgressReport(ProgressState& state, std::uint64_t received, std::uint64_t total,
                          std::uint64_t now);

// The download's progress callable, bound to the main window: records the
// report in the shared record with the current tick and asks the window to
// repaint. Runs on the worker thread after every chunk (progress_win32.cpp).
void OnDownloadProgress(WindowHandle mainWindow, std::uint64_t received, std::uint64_t total);

// received / total clamped to [0, 1]; 0 when total is 0.
double ProgressFraction(std::uint64_t received, std::uint64_t total);

// The fraction as a whole percentage, halves rounded up: "0%", "33%", "100%".
// A fraction outside [0, 1] is clamped; NaN reads as 0%.
std::wstring FormatPercentText(double fraction);

// The speed in KB/s (no decimals) below 1024 KB/s, else in MB/s with two
// decimals; 1 KB = 1024 bytes. Zero, negative or NaN speeds read "0 KB/s".
std::wstring FormatSpeedText(double bytesPerSecond);
