#include "app/progress.h"

#include "app/layout.h"
#include "common/text.h"

namespace {

// What a frame draws from the record, as whole numbers.
struct ShownProgress {
  int fill = 0;
  int percent = 0;
  bool operator!=(const ShownProgress& other) const {
    return fill != other.fill || percent != other.percent;
  }
};

ShownProgress ShownProgressOf(std::uint64_t received, std::uint64_t total, int barWidth) {
  const double fraction = ProgressFraction(received, total);
  return {FillWidth(BarRect{0, 0, barWidth, 0}, fraction), ShownPercent(fraction)};
}

// Inside the claim: completes the running sample at `now` when it is at least
// 1000 ms old, or starts one anew with the speed 0. True when the speed's text
// changed.
bool AdvanceSample(ProgressState& state, std::uint64_t now) {
  // First, so that the count read after it is at least the one that went back.
  const bool anew = state.restarted.exchange(false, std::memory_order_acquire);
  const double before = state.bytesPerSecond.load(kRelaxed);
  const std::uint64_t received = state.received.load(kRelaxed);
  const std::uint64_t tick = state.lastSampleTick.load(kRelaxed);
  const std::uint64_t bytes = state.lastSampleBytes.load(kRelaxed);
  if (anew || tick == 0 || received < bytes) {
    state.bytesPerSecond.store(0.0, kRelaxed);
  } else {
    const std::uint64_t elapsed = now - tick;
    if (elapsed < 1000) return false;  // the sample goes on; the speed keeps its value
    state.bytesPerSecond.store(
        static_cast<double>(received - bytes) / (static_cast<double>(elapsed) / 1000.0), kRelaxed);
  }
  state.lastSampleBytes.store(received, kRelaxed);
  state.lastSampleTick.store(now, kRelaxed);
  return ShownSpeedOf(state.bytesPerSecond.load(kRelaxed)) != ShownSpeedOf(before);
}

// False, untouched, while the other thread holds the sample.
bool TryAdvanceSample(ProgressState& state, std::uint64_t now) {
  if (state.sampleClaimed.test_and_set(std::memory_order_acquire)) return false;
  const bool changed = AdvanceSample(state, now);
  state.sampleClaimed.clear(std::memory_order_release);
  return changed;
}

}  // namespace

ProgressState& SharedProgressState() {
  static ProgressState state;
  return state;
}

ProgressChange RecordProgressReport(ProgressState& state, std::uint64_t received,
                                    std::uint64_t total, std::uint64_t now, int barWidth) {
  // Only this thread writes the counts: these are the previous report's.
  const std::uint64_t previous = state.received.load(kRelaxed);
  const ShownProgress before = ShownProgressOf(previous, state.total.load(kRelaxed), barWidth);
  state.received.store(received, kRelaxed);
  state.total.store(total, kRelaxed);
  state.lastReportTick.store(now, kRelaxed);
  // A count that goes back is a body started again from its first byte. Kept
  // until a sample is advanced, should the timer hold it just now.
  if (received < previous) state.restarted.store(true, std::memory_order_release);
  const bool speedChanged = TryAdvanceSample(state, now);
  const ShownProgress after = ShownProgressOf(received, total, barWidth);
  return {speedChanged || after != before, after.percent != before.percent};
}

bool AgeProgressSample(ProgressState& state, std::uint64_t now) {
  const std::uint64_t lastReport = state.lastReportTick.load(kRelaxed);
  if (lastReport == 0 || now - lastReport < 1000) return false;  // reports advance it
  return TryAdvanceSample(state, now);
}

double ProgressFraction(std::uint64_t received, std::uint64_t total) {
  if (total == 0) return 0.0;
  const double fraction = static_cast<double>(received) / static_cast<double>(total);
  if (fraction > 1.0) return 1.0;
  if (fraction < 0.0) return 0.0;
  return fraction;
}

int ShownPercent(double fraction) {
  // Written so that NaN falls to 0 instead of reaching the integer conversion.
  if (!(fraction > 0.0)) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  return static_cast<int>(fraction * 100.0 + 0.5);
}

std::wstring FormatPercentText(double fraction) {
  return WideFromAscii(DecimalText(static_cast<std::uint64_t>(ShownPercent(fraction)))) + L"%";
}

ShownSpeed ShownSpeedOf(double bytesPerSecond) {
  if (!(bytesPerSecond > 0.0)) return {};
  // Both divisions by powers of two are exact, and so is taking a number's
  // whole part away: the rounding below sees the exact value, as a formatter
  // printing it to that many decimals does.
  const double kb = bytesPerSecond / 1024.0;
  if (kb < 1024.0) {
    auto whole = static_cast<std::uint64_t>(kb);
    const double rest = kb - static_cast<double>(whole);
    if (rest > 0.5 || (rest == 0.5 && whole % 2 == 1)) ++whole;
    return {false, whole};
  }
  constexpr double kLargest = 1e15;  // MB; a longer text would say nothing more
  const double mb = kb / 1024.0 < kLargest ? kb / 1024.0 : kLargest;
  const auto whole = static_cast<std::uint64_t>(mb);
  // From 1 MB on, a double's fraction has at most 52 bits: rest / 2^52 exactly.
  constexpr double kScale = 4503599627370496.0;  // 2^52
  constexpr std::uint64_t kHalf = std::uint64_t{1} << 51, kMask = (kHalf << 1) - 1;
  const auto rest = static_cast<std::uint64_t>((mb - static_cast<double>(whole)) * kScale) * 100;
  std::uint64_t hundredths = rest >> 52;
  if ((rest & kMask) > kHalf || ((rest & kMask) == kHalf && hundredths % 2 == 1)) ++hundredths;
  return {true, whole * 100 + hundredths};
}

std::wstring FormatSpeedText(double bytesPerSecond) {
  const ShownSpeed speed = ShownSpeedOf(bytesPerSecond);
  if (!speed.megabytes) return WideFromAscii(DecimalText(speed.amount)) + L" KB/s";
  std::wstring text = WideFromAscii(DecimalText(speed.amount / 100));
  text += L'.';
  text += static_cast<wchar_t>(L'0' + speed.amount % 100 / 10);
  text += static_cast<wchar_t>(L'0' + speed.amount % 10);
  return text + L" MB/s";
}
