#include "app/progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <utility>

namespace {

using TextCase = std::pair<double, const wchar_t*>;

// One download's reports in order: the record each leaves, and whether it changes the shown %.
TEST(ProgressSampling, SpeedIsTheMeanOfEachSampleOfAtLeastOneSecond) {
  const struct {
    std::uint64_t tick, received, total;
    double speed;
    bool textChanged;
  } steps[] = {
      {5000, 10000, 0, 0, false},             // first report: only the sample's start
      {5500, 50000, 1000000, 0, true},        // under a second: the sample goes on
      {6000, 110000, 1000000, 100000, true},  // exactly a second: 100000 B/s
      {6999, 150000, 1000000, 100000, true},  // a short interval keeps the speed
      {8500, 610000, 1000000, 200000, true},  // 500000 B over the sample's 2.5 s
      {9500, 610000, 1000000, 0, false},      // a stall reads 0
      {9600, 612000, 1000000, 0, false},      // more bytes, still 61%
      {9700, 616000, 1000000, 0, true},       // 61.6% shows 62%
      {12000, 1000, 1000000, 0, true},        // the body starts again: a first report
      {13000, 101000, 1000000, 100000, true}, // the new sample, from there
  };
  ProgressState state;
  for (const auto& s : steps) {
    EXPECT_EQ(RecordProgressReport(state, s.received, s.total, s.tick), s.textChanged) << s.tick;
    EXPECT_EQ(state.received.load(), s.received) << s.tick;
    EXPECT_EQ(state.total.load(), s.total) << s.tick;
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

  // KB/s without decimals below 1024 KB/s, then MB/s with two; 1 KB = 1024 B.
  // clang-format off
  const TextCase speeds[] = {
      {-5, L"0 KB/s"}, {std::nan(""), L"0 KB/s"}, {300, L"0 KB/s"}, {100000, L"98 KB/s"},
      {524288, L"512 KB/s"}, {1023.7 * 1024, L"1024 KB/s"}, {1048576, L"1.00 MB/s"},
      {5000000, L"4.77 MB/s"}};
  // clang-format on
  for (const auto& [value, text] : speeds) EXPECT_EQ(FormatSpeedText(value), text) << value;
  EXPECT_LE(FormatSpeedText(1e300).size(), 31u);  // cut off at its buffer
}

}  // namespace
