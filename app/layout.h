#pragma once

#include <cstdint>
#include <optional>

// Geometry of the main window, in unscaled client pixels (x right, y down).

// A rectangle by its edges (left and top inclusive, right and bottom not), as
// the platform reports a client rectangle.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Pixel size of a picture.
struct ImageSize {
  int width = 0;
  int height = 0;
};

// The progress bar's rectangle.
struct BarRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int Right() const { return x + width; }
};

// One arc of a path outline: the arc inscribed in the box (x, y, width,
// height), from startAngle sweeping sweepAngle degrees clockwise.
struct PathArc {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  float startAngle = 0;
  float sweepAngle = 0;
};

// Outline of the filled part of the bar: either one ellipse in the box
// (x, y, width, height), or a closed figure of the four arcs in order.
struct FillOutline {
  bool isEllipse = false;
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  PathArc arcs[4];
};

// A window position.
struct WindowOrigin {
  int x = 0;
  int y = 0;
};

// The bar for a client rectangle: the track picture's size when there is one,
// else 12 pixels high and w - 120 wide (w - 80 when w < 380); never wider
// than w - 40; centred horizontally, its top 35 pixels above the bottom.
BarRect BarLayout(const PixelRect& client, std::optional<ImageSize> track);

// Filled width in pixels for a fraction in [0, 1]: barW x fraction rounded,
// at most barW; 0 means nothing is filled.
int FillWidth(const BarRect& bar, double fraction);

// The fill outline for fillW > 0: a circle of the bar's height at its left end
// while fillW <= barH, beyond that a capsule of fillW x barH with round ends.
FillOutline FillShape(const BarRect& bar, int fillW);

// Text rectangles of a frame: the product name and the close glyph hang from
// the client area's top edge, the percentage (left-aligned) and the speed
// (right-aligned) sit in the 20 pixels ending 8 pixels above the bar.
PixelRect ProductNameRect(const PixelRect& client);
PixelRect CloseGlyphRect(const PixelRect& client);
PixelRect PercentTextRect(const BarRect& bar);
PixelRect SpeedTextRect(const BarRect& bar);

// Whether a left-button release at (x, y) (the unsigned 16-bit halves of the
// message's position) hits the close box of a client area whose right edge
// is clientRight: x in [R - 36, R - 8] and y in [12, 40], bounds inclusive.
bool IsCloseBoxHit(int clientRight, std::uint32_t x, std::uint32_t y);

// Top-left corner that centres a window on a screen (integer division
// truncating toward zero; negative when the window is larger than the screen).
WindowOrigin CentredWindowOrigin(int screenWidth, int screenHeight, int windowWidth,
                                 int windowHeight);
