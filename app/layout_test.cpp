#include "app/layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

constexpr PixelRect kClient{0, 0, 560, 310};
constexpr ImageSize kTrack{480, 8};
constexpr std::optional<ImageSize> kNoTrack;

auto Edges(const PixelRect& r) { return std::make_tuple(r.left, r.top, r.right, r.bottom); }
auto Edges(const BarRect& b) { return std::make_tuple(b.x, b.y, b.width, b.height); }
auto Edges(const FillOutline& f) {
  return std::make_tuple(f.isEllipse, f.x, f.y, f.width, f.height);
}
auto Edges(const PathArc& a) {
  return std::make_tuple(a.x, a.y, a.width, a.height, a.startAngle, a.sweepAngle);
}

// clang-format off
const struct { PixelRect client; std::optional<ImageSize> track; BarRect bar; } kBars[] = {
    {kClient, kTrack, {40, 275, 480, 8}},             // the shipped track
    {{0, 0, 380, 100}, kNoTrack, {60, 65, 260, 12}},  // fallback: w - 120 from w = 380 on
    {{0, 0, 379, 100}, kNoTrack, {40, 65, 299, 12}},  // w - 80 below
    {{0, 0, 100, 50}, kNoTrack, {40, 15, 20, 12}},    // 20 wide at w = 100
    {{0, 0, 300, 310}, kTrack, {20, 275, 260, 8}},    // never wider than w - 40
    {{0, 0, 561, 310}, kTrack, {40, 275, 480, 8}},    // odd leftover: centring truncates
};
// Filled pixels of the shipped 480-pixel bar.
const struct { double fraction; int width; } kFills[] = {
    {1.0 / 961, 0}, {1.0 / 959, 1}, {0.5, 240}, {3, 480}, {-1, 0}, {std::nan(""), 0}};
// The capsule's arcs, beyond a fill as wide as the bar is high.
const struct { std::optional<ImageSize> track; int fillW, arc; PathArc expected; } kArcs[] = {
    {kTrack, 240, 0, {40, 275, 8, 8, 180, 90}}, {kTrack, 240, 1, {272, 275, 8, 8, 270, 90}},
    {kTrack, 240, 2, {272, 275, 8, 8, 0, 90}},  {kTrack, 240, 3, {40, 275, 8, 8, 90, 90}},
    {kNoTrack, 13, 1, {61, 275, 12, 12, 270, 90}}, {kNoTrack, 13, 2, {61, 275, 12, 12, 0, 90}},
};
const struct { int right; std::uint32_t x, y; bool hit; } kCloseBox[] = {
    {560, 552, 40, true}, {560, 524, 12, true},  // corners
    {560, 553, 40, false}, {560, 523, 20, false}, {560, 540, 11, false}, {560, 540, 41, false},
    {20, 0, 20, true}, {20, 13, 20, false},  // narrow client area: the band starts below 0
};
// Centring on the screen is shown under Wine, where every click and pixel is read at the centred origin.
// clang-format on

TEST(Layout, BarFillAndCapsule) {
  for (const auto& c : kBars)
    EXPECT_EQ(Edges(BarLayout(c.client, c.track)), Edges(c.bar)) << c.client.right;
  const BarRect bar = BarLayout(kClient, kTrack);
  for (const auto& c : kFills) EXPECT_EQ(FillWidth(bar, c.fraction), c.width) << c.fraction;
  for (int fillW : {1, 5, 8})  // a circle up to the bar's height
    EXPECT_EQ(Edges(FillShape(bar, fillW)), std::make_tuple(true, 40.0f, 275.0f, 8.0f, 8.0f))
        << fillW;
  for (const auto& a : kArcs) {
    const FillOutline capsule = FillShape(BarLayout(kClient, a.track), a.fillW);
    EXPECT_FALSE(capsule.isEllipse) << a.fillW;
    EXPECT_EQ(Edges(capsule.arcs[a.arc]), Edges(a.expected)) << a.fillW << " arc " << a.arc;
  }
}

TEST(Layout, TextsAndCloseBox) {
  EXPECT_EQ(Edges(ProductNameRect(kClient)), std::make_tuple(20, 8, 460, 46));
  EXPECT_EQ(Edges(CloseGlyphRect(kClient)), std::make_tuple(524, 8, 552, 46));
  for (const auto& c : kCloseBox)
    EXPECT_EQ(IsCloseBoxHit(c.right, c.x, c.y), c.hit) << c.right << " " << c.x << "," << c.y;
}

}  // namespace
