#include "app/progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <utility>

namespace {

using TextCase = std::pair<double, const wchar_t*>;

// One download's reports and the window's one-second ticks, in order: the
// speed each leaves, and whether the frame (fill pixels of a 480-pixel bar,
// percentage, speed text) or the percentage changes.
TEST(ProgressSampling, SpeedSamplesAndTheFramesTheyAskFor) {
  enum Kind { Report, Tick };
  constexpr std::uint64_t kTotal = 10000000;  // a pixel is 20833 B, a percent 100000 B
  const struct {
    Kind kind;
    std::uint64_t tick, received, total;
    double speed;
    bool repaint, percent;
  } steps[] = {
      {Report, 5000, 10000, 0, 0, false, false},             // first: only the sample's start
      {Report, 5500, 50000, kTotal, 0, true, true},          // 1%, 2 px; the sample goes on
      {Report, 6000, 110000, kTotal, 100000, true, false},   // a second: 98 KB/s, 5 px
      {Report, 6100, 111000, kTotal, 100000, false, false},  // bytes within the same pixel
      {Report, 6200, 114600, kTotal, 100000, true, false},   // one pixel more
      {Report, 8000, 115120, kTotal, 2560, true, false},     // 2.5 KB/s reads "2 KB/s"
      {Report, 9000, 117168, kTotal, 2048, false, false},    // "2 KB/s" again: no frame
      {Report, 9400, 118192, kTotal, 2048, false, false},
      {Tick, 10000, 0, 0, 2048, false, false},       // 600 ms since the last report
      {Tick, 10400, 0, 0, 1024 / 1.4, true, false},  // a silent second: 1 KB/s
      {Tick, 11400, 0, 0, 0, true, false},           // a whole sample without a byte
      {Tick, 12400, 0, 0, 0, false, false},
      {Report, 13000, 1000, kTotal, 0, true, true},         // the body starts again: anew
      {Report, 14000, 101000, kTotal, 100000, true, true},  // the new sample, from there
  };
  ProgressState state;
  for (const auto& s : steps) {
    if (s.kind == Report) {
      const ProgressChange change = RecordProgressReport(state, s.received, s.total, s.tick, 480);
      EXPECT_EQ(std::make_pair(change.repaint, change.percent),
                std::make_pair(s.repaint, s.percent))
          << s.tick;
      EXPECT_EQ(std::make_pair(state.received.load(), state.total.load()),
                std::make_pair(s.received, s.total))
          << s.tick;
    } else {
      EXPECT_EQ(AgeProgressSample(state, s.tick), s.repaint) << s.tick;
    }
    EXPECT_DOUBLE_EQ(state.bytesPerSecond.load(), s.speed) << s.tick;
  }
}

TEST(ProgressText, FractionPercentageAndSpeed) {
  const std::tuple<std::uint64_t, std::uint64_t, double> fractions[] = {
      {123456, 0, 0}, {1, 4, 0.25}, {5, 3, 1}, {UINT64_MAX, UINT64_MAX, 1}};
  for (const auto& [received, total, fraction] : fractions)
    EXPECT_DOUBLE_EQ(ProgressFraction(received, total), fraction) << received;

  // Halves round up; outside [0, 1] clamps; NaN reads 0.
  const TextCase percents[] = {
      {0, L"0%"},     {1.0 / 3, L"33%"}, {2.0 / 3, L"67%"}, {0.005, L"1%"}, {0.0049, L"0%"},
      {0.42, L"42%"}, {-3, L"0%"},       {1, L"100%"},      {12, L"100%"},  {std::nan(""), L"0%"}};
  for (const auto& [value, text] : percents) EXPECT_EQ(FormatPercentText(value), text) << value;

  // KB/s without decimals below 1024 KB/s, then MB/s with two; 1 KB = 1024 B;
  // an exact half goes to the even neighbour.
  // clang-format off
  const TextCase speeds[] = {
      {-5, L"0 KB/s"}, {std::nan(""), L"0 KB/s"}, {300, L"0 KB/s"}, {100000, L"98 KB/s"},
      {2560, L"2 KB/s"}, {3584, L"4 KB/s"}, {524288, L"512 KB/s"}, {1023.7 * 1024, L"1024 KB/s"},
      {1048576, L"1.00 MB/s"}, {1179648, L"1.12 MB/s"}, {1190010.88, L"1.13 MB/s"},
      {1.13125 * 1048576, L"1.13 MB/s"}, {5000000, L"4.77 MB/s"}, {1048575.0 * 1048576, L"1048575.00 MB/s"}};
  // clang-format on
  for (const auto& [value, text] : speeds) EXPECT_EQ(FormatSpeedText(value), text) << value;
  EXPECT_LE(FormatSpeedText(1e300).size(), 31u);
}

}  // namespace
