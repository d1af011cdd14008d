#include "app/progress.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Report {
  std::uint64_t tick;
  std::uint64_t received;
};

void Feed(ProgressState& state, std::initializer_list<Report> reports,
          std::uint64_t total = 1000000) {
  for (const Report& r : reports) RecordProgressReport(state, r.received, total, r.tick);
}

constexpr std::uint64_t kT = 5000;

TEST(ProgressSampling, SpeedAppearsOnlyWhenASampleOfAtLeastOneSecondCompletes) {
  ProgressState state;
  Feed(state, {{kT, 10000}});
  EXPECT_EQ(state.bytesPerSecond.load(), 0.0);
  EXPECT_EQ(state.lastSampleTick.load(), kT);
  EXPECT_EQ(state.lastSampleBytes.load(), 10000u);

  Feed(state, {{kT + 500, 50000}});
  EXPECT_EQ(state.bytesPerSecond.load(), 0.0);
  EXPECT_EQ(state.received.load(), 50000u);
  EXPECT_EQ(state.lastSampleTick.load(), kT);  // the sample goes on

  Feed(state, {{kT + 1000, 110000}});
  EXPECT_DOUBLE_EQ(state.bytesPerSecond.load(), 100000.0);
  EXPECT_EQ(FormatSpeedText(state.bytesPerSecond.load()), L"98 KB/s");
  EXPECT_EQ(state.lastSampleTick.load(), kT + 1000);
  EXPECT_EQ(state.lastSampleBytes.load(), 110000u);
}

TEST(ProgressSampling, ReportsWithinASecondKeepTheSpeedAndStoreEveryValue) {
  ProgressState state;
  Feed(state, {{kT, 0}, {kT + 999, 40000}}, 0);
  EXPECT_EQ(state.bytesPerSecond.load(), 0.0);
  EXPECT_EQ(state.received.load(), 40000u);
  EXPECT_EQ(state.total.load(), 0u);

  // Once a speed exists, a short interval keeps it.
  Feed(state, {{kT + 2000, 140000}, {kT + 2500, 900000}});
  EXPECT_DOUBLE_EQ(state.bytesPerSecond.load(), 70000.0);
  EXPECT_EQ(state.received.load(), 900000u);
}

TEST(ProgressSampling, LongSampleIsAveragedOverItsWholeLength) {
  ProgressState state;
  Feed(state, {{kT, 1000}, {kT + 2500, 251000}});
  EXPECT_DOUBLE_EQ(state.bytesPerSecond.load(), 100000.0);
  // A stall (same byte count) over the next sample shows 0.
  Feed(state, {{kT + 4000, 251000}});
  EXPECT_EQ(state.bytesPerSecond.load(), 0.0);
}

TEST(ProgressFraction, ClampsAndTreatsUnknownTotalAsZero) {
  EXPECT_EQ(ProgressFraction(0, 0), 0.0);
  EXPECT_EQ(ProgressFraction(123456, 0), 0.0);
  EXPECT_DOUBLE_EQ(ProgressFraction(1, 4), 0.25);
  EXPECT_EQ(ProgressFraction(5, 3), 1.0);
  EXPECT_EQ(ProgressFraction(UINT64_MAX, 1), 1.0);
  EXPECT_EQ(ProgressFraction(UINT64_MAX, UINT64_MAX), 1.0);
}

TEST(FormatPercentText, RoundsHalvesUpAndClamps) {
  EXPECT_EQ(FormatPercentText(ProgressFraction(0, 0)), L"0%");
  EXPECT_EQ(FormatPercentText(ProgressFraction(1, 3)), L"33%");
  EXPECT_EQ(FormatPercentText(ProgressFraction(2, 3)), L"67%");
  EXPECT_EQ(FormatPercentText(ProgressFraction(7, 3)), L"100%");
  EXPECT_EQ(FormatPercentText(0.005), L"1%");
  EXPECT_EQ(FormatPercentText(0.0049), L"0%");
  EXPECT_EQ(FormatPercentText(0.42), L"42%");
  EXPECT_EQ(FormatPercentText(-3.0), L"0%");
  EXPECT_EQ(FormatPercentText(12.0), L"100%");
  EXPECT_EQ(FormatPercentText(std::nan("")), L"0%");
}

TEST(FormatSpeedText, FollowsTheUnitTable) {
  const struct {
    double speed;
    const wchar_t* text;
  } cases[] = {
      {0, L"0 KB/s"},
      {-5, L"0 KB/s"},
      {300, L"0 KB/s"},
      {100000, L"98 KB/s"},
      {524288, L"512 KB/s"},
      {1023.7 * 1024, L"1024 KB/s"},
      {1048575.0, L"1024 KB/s"},
      {1048576, L"1.00 MB/s"},
      {5000000, L"4.77 MB/s"},
      {std::nan(""), L"0 KB/s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatSpeedText(c.speed), c.text) << c.speed;
  }
}

TEST(FormatSpeedText, AbsurdSpeedStaysWithinItsBuffer) {
  EXPECT_LE(FormatSpeedText(1e300).size(), 31u);
  EXPECT_EQ(FormatSpeedText(HUGE_VAL), L"inf MB/s");
}

TEST(SharedProgressState, StartsAtZeroAndIsOneRecord) {
  ProgressState& shared = SharedProgressState();
  EXPECT_EQ(&shared, &SharedProgressState());
  EXPECT_EQ(shared.received.load(), 0u);
  EXPECT_EQ(shared.total.load(), 0u);
  EXPECT_EQ(shared.bytesPerSecond.load(), 0.0);
  EXPECT_EQ(shared.lastSampleTick.load(), 0u);
}

}  // namespace
