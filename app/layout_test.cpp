#include "app/layout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr PixelRect kClient{0, 0, 560, 310};
constexpr ImageSize kTrack{480, 8};

void ExpectBar(const BarRect& bar, int x, int y, int w, int h) {
  EXPECT_EQ(bar.x, x);
  EXPECT_EQ(bar.y, y);
  EXPECT_EQ(bar.width, w);
  EXPECT_EQ(bar.height, h);
}

TEST(BarLayout, ShippedTrackAndFallbackInTheFixedWindow) {
  const BarRect bar = BarLayout(kClient, kTrack);
  ExpectBar(bar, 40, 275, 480, 8);
  EXPECT_EQ(bar.Right(), 520);
  ExpectBar(BarLayout(kClient, std::nullopt), 60, 275, 440, 12);
}

TEST(BarLayout, NarrowClientAreas) {
  // Fallback widths: w - 120 from w = 380 on, w - 80 below, never over w - 40.
  ExpectBar(BarLayout({0, 0, 380, 100}, std::nullopt), 60, 65, 260, 12);
  ExpectBar(BarLayout({0, 0, 379, 100}, std::nullopt), 40, 65, 299, 12);
  ExpectBar(BarLayout({0, 0, 100, 50}, std::nullopt), 40, 15, 20, 12);
  // A track wider than the client area is narrowed to w - 40.
  ExpectBar(BarLayout({0, 0, 300, 310}, kTrack), 20, 275, 260, 8);
  // Odd leftover: the centring truncates.
  ExpectBar(BarLayout({0, 0, 561, 310}, kTrack), 40, 275, 480, 8);
}

TEST(FillWidth, RoundsAndClampsToTheBar) {
  const BarRect bar = BarLayout(kClient, kTrack);
  EXPECT_EQ(FillWidth(bar, 0.0), 0);
  EXPECT_EQ(FillWidth(bar, 1.0 / 961), 0);  // under half a pixel: nothing
  EXPECT_EQ(FillWidth(bar, 1.0 / 959), 1);  // just over half a pixel
  EXPECT_EQ(FillWidth(bar, 0.5), 240);      // fill's right end at x 280
  EXPECT_EQ(FillWidth(bar, 1.0), 480);
  EXPECT_EQ(FillWidth(bar, 3.0), 480);
  EXPECT_EQ(FillWidth(bar, -1.0), 0);
  EXPECT_EQ(FillWidth(bar, std::nan("")), 0);
}

TEST(FillShape, CircleUpToTheBarHeight) {
  const BarRect bar = BarLayout(kClient, kTrack);
  for (int fillW : {1, 5, 8}) {
    const FillOutline shape = FillShape(bar, fillW);
    EXPECT_TRUE(shape.isEllipse) << fillW;
    EXPECT_EQ(shape.x, 40.0f);
    EXPECT_EQ(shape.y, 275.0f);
    EXPECT_EQ(shape.width, 8.0f);
    EXPECT_EQ(shape.height, 8.0f);
  }
}

TEST(FillShape, CapsuleOfFourArcsBeyondIt) {
  const BarRect bar = BarLayout(kClient, kTrack);
  const FillOutline shape = FillShape(bar, 240);
  ASSERT_FALSE(shape.isEllipse);
  const PathArc expected[4] = {
      {40, 275, 8, 8, 180, 90},
      {272, 275, 8, 8, 270, 90},
      {272, 275, 8, 8, 0, 90},
      {40, 275, 8, 8, 90, 90},
  };
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(shape.arcs[i].x, expected[i].x) << i;
    EXPECT_EQ(shape.arcs[i].y, expected[i].y) << i;
    EXPECT_EQ(shape.arcs[i].width, expected[i].width) << i;
    EXPECT_EQ(shape.arcs[i].height, expected[i].height) << i;
    EXPECT_EQ(shape.arcs[i].startAngle, expected[i].startAngle) << i;
    EXPECT_EQ(shape.arcs[i].sweepAngle, expected[i].sweepAngle) << i;
  }
  // With the 12-pixel fallback bar the arcs take its height as diameter.
  const BarRect fallback = BarLayout(kClient, std::nullopt);
  const FillOutline capsule = FillShape(fallback, 13);
  ASSERT_FALSE(capsule.isEllipse);
  EXPECT_EQ(capsule.arcs[1].x, 60.0f + 13 - 12);
  EXPECT_EQ(capsule.arcs[2].y, 275.0f);
  EXPECT_EQ(capsule.arcs[2].width, 12.0f);
}

void ExpectRect(const PixelRect& r, int left, int top, int right, int bottom) {
  EXPECT_EQ(r.left, left);
  EXPECT_EQ(r.top, top);
  EXPECT_EQ(r.right, right);
  EXPECT_EQ(r.bottom, bottom);
}

TEST(TextRects, FrameOfTheFixedWindow) {
  const BarRect bar = BarLayout(kClient, kTrack);
  ExpectRect(ProductNameRect(kClient), 20, 8, 460, 46);
  ExpectRect(CloseGlyphRect(kClient), 524, 8, 552, 46);
  ExpectRect(PercentTextRect(bar), 40, 247, 200, 267);
  ExpectRect(SpeedTextRect(bar), 360, 247, 520, 267);
  // The clickable band lies inside the glyph's box.
  const PixelRect glyph = CloseGlyphRect(kClient);
  EXPECT_TRUE(IsCloseBoxHit(kClient.right, glyph.left, 12));
  EXPECT_TRUE(IsCloseBoxHit(kClient.right, glyph.right, 40));
  EXPECT_FALSE(IsCloseBoxHit(kClient.right, glyph.right, glyph.top));
}

TEST(IsCloseBoxHit, BandIsInclusiveAndNarrowerThanTheGlyph) {
  const int r = 560;
  EXPECT_TRUE(IsCloseBoxHit(r, r - 8, 40));
  EXPECT_TRUE(IsCloseBoxHit(r, r - 36, 12));
  EXPECT_TRUE(IsCloseBoxHit(r, r - 20, 26));
  EXPECT_FALSE(IsCloseBoxHit(r, r - 7, 40));
  EXPECT_FALSE(IsCloseBoxHit(r, r - 37, 20));
  EXPECT_FALSE(IsCloseBoxHit(r, r - 20, 11));
  EXPECT_FALSE(IsCloseBoxHit(r, r - 20, 41));
  EXPECT_FALSE(IsCloseBoxHit(r, 0, 0));
  EXPECT_FALSE(IsCloseBoxHit(r, 0xFFFF, 0xFFFF));
  // A client area narrower than the box: its left bound is negative.
  EXPECT_TRUE(IsCloseBoxHit(20, 0, 20));
  EXPECT_FALSE(IsCloseBoxHit(20, 13, 20));
}

TEST(CentredWindowOrigin, PrimaryScreenFormula) {
  const WindowOrigin full_hd = CentredWindowOrigin(1920, 1080, 560, 310);
  EXPECT_EQ(full_hd.x, 680);
  EXPECT_EQ(full_hd.y, 385);
  const WindowOrigin odd = CentredWindowOrigin(1366, 769, 560, 310);
  EXPECT_EQ(odd.x, 403);
  EXPECT_EQ(odd.y, 229);
  // Larger than the screen: truncation toward zero.
  const WindowOrigin tiny = CentredWindowOrigin(555, 300, 560, 310);
  EXPECT_EQ(tiny.x, -2);
  EXPECT_EQ(tiny.y, -5);
}

}  // namespace
