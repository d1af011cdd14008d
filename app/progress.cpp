#include "app/progress.h"

#include <cstdio>

#include "common/text.h"

namespace {

// The whole percentage that FormatPercentText shows, halves rounded up.
int ShownPercent(double fraction) {
  // Written so that NaN falls to 0 instead of reaching the integer conversion.
  if (!(fraction > 0.0)) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  return static_cast<int>(fraction * 100.0 + 0.5);
}

}  // namespace

ProgressState& SharedProgressState() {
  static ProgressState state;
  return state;
}

bool RecordProgressReport(ProgressState& state, std::uint64_t received, std::uint64_t total,
                          std::uint64_t now) {
  // Only this thread writes the record: these are the previous report's counts.
  // Compared as the whole percentages the text is printed from, without formatting.
  const std::uint64_t previous = state.received.load(kRelaxed);
  const bool percentChanged =
      ShownPercent(ProgressFraction(previous, state.total.load(kRelaxed))) !=
      ShownPercent(ProgressFraction(received, total));
  state.received.store(received, kRelaxed);
  state.total.store(total, kRelaxed);

  const std::uint64_t sampleTick = state.lastSampleTick.load(kRelaxed);
  // A count that goes back is a body started again from its first byte.
  if (sampleTick == 0 || received < previous) {
    // First report: it only sets the starting point of a first sample.
    state.bytesPerSecond.store(0.0, kRelaxed);
  } else {
    const std::uint64_t elapsed = now - sampleTick;
    if (elapsed < 1000) return percentChanged;  // the sample goes on; the speed keeps its value
    const std::uint64_t bytes = received - state.lastSampleBytes.load(kRelaxed);
    state.bytesPerSecond.store(static_cast<double>(bytes) / (static_cast<double>(elapsed) / 1000.0),
                               kRelaxed);
  }
  state.lastSampleBytes.store(received, kRelaxed);
  state.lastSampleTick.store(now, kRelaxed);
  return percentChanged;
}

double ProgressFraction(std::uint64_t received, std::uint64_t total) {
  if (total == 0) return 0.0;
  const double fraction = static_cast<double>(received) / static_cast<double>(total);
  if (fraction > 1.0) return 1.0;
  if (fraction < 0.0) return 0.0;
  return fraction;
}

std::wstring FormatPercentText(double fraction) {
  char text[16];
  std::snprintf(text, sizeof text, "%d%%", ShownPercent(fraction));
  return WideFromAscii(text);
}

std::wstring FormatSpeedText(double bytesPerSecond) {
  if (!(bytesPerSecond > 0.0)) return L"0 KB/s";
  const double kb = bytesPerSecond / 1024.0;
  // An absurd speed can only make the text longer than the buffer; snprintf
  // cuts it off there.
  char text[32];
  if (kb < 1024.0) {
    std::snprintf(text, sizeof text, "%.0f KB/s", kb);
  } else {
    std::snprintf(text, sizeof text, "%.2f MB/s", kb / 1024.0);
  }
  return WideFromAscii(text);
}
