#include "app/layout.h"

#include <algorithm>
#include <cmath>

BarRect BarLayout(const PixelRect& client, std::optional<ImageSize> track) {
  const int w = client.right - client.left;
  BarRect bar;
  int baseW = 0;
  if (track) {
    baseW = track->width;
    bar.height = track->height;
  } else {
    bar.height = 12;
    baseW = w - 120 >= 260 ? w - 120 : w - 80;
  }
  bar.width = std::min(baseW, w - 40);
  bar.x = client.left + (w - bar.width) / 2;
  bar.y = client.bottom - 35;
  return bar;
}

int FillWidth(const BarRect& bar, double fraction) {
  if (!(fraction > 0.0)) return 0;  // also keeps NaN out of the conversion
  fraction = std::min(fraction, 1.0);
  const double pixels = std::floor(static_cast<double>(bar.width) * fraction + 0.5);
  if (pixels <= 0.0) return 0;
  return std::min(static_cast<int>(pixels), bar.width);
}

FillOutline FillShape(const BarRect& bar, int fillW) {
  FillOutline shape;
  const float x = static_cast<float>(bar.x);
  const float y = static_cast<float>(bar.y);
  const float h = static_cast<float>(bar.height);
  if (fillW <= bar.height) {
    shape.isEllipse = true;
    shape.x = x;
    shape.y = y;
    shape.width = static_cast<float>(std::max(fillW, bar.height));
    shape.height = h;
    return shape;
  }
  const float w = static_cast<float>(fillW);
  const float d = h;
  shape.x = x;
  shape.y = y;
  shape.width = w;
  shape.height = h;
  shape.arcs[0] = {x, y, d, d, 180.0f, 90.0f};
  shape.arcs[1] = {x + w - d, y, d, d, 270.0f, 90.0f};
  shape.arcs[2] = {x + w - d, y + h - d, d, d, 0.0f, 90.0f};
  shape.arcs[3] = {x, y + h - d, d, d, 90.0f, 90.0f};
  return shape;
}

PixelRect ProductNameRect(const PixelRect& client) {
  return {client.left + 20, client.top + 8, client.right - 100, client.top + 46};
}

PixelRect CloseGlyphRect(const PixelRect& client) {
  return {client.right - 36, client.top + 8, client.right - 8, client.top + 46};
}

PixelRect PercentTextRect(const BarRect& bar) {
  return {bar.x, bar.y - 28, bar.x + 160, bar.y - 8};
}

PixelRect SpeedTextRect(const BarRect& bar) {
  return {bar.Right() - 160, bar.y - 28, bar.Right(), bar.y - 8};
}

bool IsCloseBoxHit(int clientRight, std::uint32_t x, std::uint32_t y) {
  // 64-bit arithmetic: a narrow client area makes R - 36 negative.
  const long long r = clientRight;
  const long long px = x;
  const long long py = y;
  return px >= r - 36 && px <= r - 8 && py >= 12 && py <= 40;
}

WindowOrigin CentredWindowOrigin(int screenWidth, int screenHeight, int windowWidth,
                                 int windowHeight) {
  return {(screenWidth - windowWidth) / 2, (screenHeight - windowHeight) / 2};
}
