// Painting of the main window: one whole frame into an off-screen bitmap,
// shown with a single BitBlt.
#include "app/paint_win32.h"

#include <algorithm>
#include <optional>
#include <string>

#include "app/layout.h"
#include "common/product.h"
#include "common/text_win32.h"

namespace {

const wchar_t kFallbackName[] = L"Velnor Installer";
const wchar_t kCloseGlyph[] = L"\u00D7";
const COLORREF kTextColour = RGB(255, 255, 255);
const COLORREF kTrackFallbackColour = RGB(204, 220, 230);

RECT ToRect(const PixelRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// One text of the frame in its own font, created and deleted here.
void DrawFrameText(HDC dc, const std::wstring& text, const PixelRect& where, int height, int weight,
                   UINT format) {
  GdiObject font(CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                             FF_SWISS | DEFAULT_PITCH, L"Microsoft YaHei"));
  Selection selected(dc, font.get());
  SetTextColor(dc, kTextColour);
  RECT rect = ToRect(where);
  DrawTextW(dc, text.c_str(), -1, &rect, format);
}

void DrawBackground(HDC buffer, const PAINTSTRUCT& paint, HGDIOBJ background, int w, int h) {
  if (background == nullptr) {
    FillRect(buffer, &paint.rcPaint, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    return;
  }
  MemoryDc source(CreateCompatibleDC(paint.hdc));
  if (!source) return;
  Selection selected(source.get(), background);
  BITMAP info{};
  GetObjectW(background, sizeof info, &info);
  StretchBlt(buffer, 0, 0, w, h, source.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
}

void DrawTrackFallback(HDC buffer, const BarRect& bar) {
  GdiObject pen(CreatePen(PS_NULL, 0, 0));
  GdiObject brush(CreateSolidBrush(kTrackFallbackColour));
  Selection selectedPen(buffer, pen.get());
  Selection selectedBrush(buffer, brush.get());
  RoundRect(buffer, bar.x, bar.y, bar.Right(), bar.y + bar.height, bar.height, bar.height);
}

void DrawBar(HDC buffer, const WindowPictures& pictures, const BarRect& bar, double fraction) {
  Gdiplus::Graphics graphics(buffer);
  graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
  graphics.SetCompositingQuality(Gdiplus::CompositingQualityHighQuality);

  if (pictures.track) {
    graphics.DrawImage(pictures.track.get(), bar.x, bar.y, bar.width, bar.height);
  } else {
    DrawTrackFallback(buffer, bar);
  }

  const int fillW = FillWidth(bar, fraction);
  if (fillW <= 0) return;
  const FillOutline outline = FillShape(bar, fillW);
  Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
  if (outline.isEllipse) {
    path.AddEllipse(outline.x, outline.y, outline.width, outline.height);
  } else {
    for (const PathArc& arc : outline.arcs) {
      path.AddArc(arc.x, arc.y, arc.width, arc.height, arc.startAngle, arc.sweepAngle);
    }
    path.CloseFigure();
  }

  Gdiplus::Region savedClip;
  graphics.GetClip(&savedClip);
  graphics.SetClip(&path, Gdiplus::CombineModeIntersect);
  if (pictures.fill) {
    // The whole picture squeezed into the filled width, not cut.
    graphics.DrawImage(pictures.fill.get(), bar.x, bar.y, fillW, bar.height);
  } else {
    const Gdiplus::Rect area(bar.x, bar.y, std::max(fillW, bar.height), bar.height);
    Gdiplus::LinearGradientBrush brush(area, Gdiplus::Color(0xFF5EA0CE), Gdiplus::Color(0xFFD1E1E9),
                                       Gdiplus::LinearGradientModeHorizontal);
    brush.SetWrapMode(Gdiplus::WrapModeTile);
    graphics.FillPath(&brush, &path);
  }
  graphics.SetClip(&savedClip, Gdiplus::CombineModeReplace);
}

// Everything of one frame, drawn into the off-screen buffer.
void DrawFrame(HDC buffer, const PAINTSTRUCT& paint, const PixelRect& client,
               const WindowPictures& pictures, const ProgressState& progress) {
  const int w = client.right - client.left;
  const int h = client.bottom - client.top;
  DrawBackground(buffer, paint, pictures.background.get(), w, h);
  SetBkMode(buffer, TRANSPARENT);

  DrawFrameText(buffer, ShownProductName(), ProductNameRect(client), 20, 600,
                DT_SINGLELINE | DT_VCENTER);
  DrawFrameText(buffer, kCloseGlyph, CloseGlyphRect(client), 30, 700,
                DT_SINGLELINE | DT_VCENTER | DT_CENTER);

  const double fraction = ProgressFraction(progress.received.load(std::memory_order_relaxed),
                                           progress.total.load(std::memory_order_relaxed));
  const BarRect bar = PaintedBarLayout(client, pictures);
  DrawBar(buffer, pictures, bar, fraction);

  DrawFrameText(buffer, FormatPercentText(fraction), PercentTextRect(bar), 14, 400,
                DT_SINGLELINE | DT_BOTTOM);
  DrawFrameText(buffer, FormatSpeedText(progress.bytesPerSecond.load(std::memory_order_relaxed)),
                SpeedTextRect(bar), 14, 400, DT_SINGLELINE | DT_BOTTOM | DT_RIGHT);
}

}  // namespace

BarRect PaintedBarLayout(const PixelRect& client, const WindowPictures& pictures) {
  std::optional<ImageSize> trackSize;
  if (const auto& track = pictures.track) {
    trackSize =
        ImageSize{static_cast<int>(track->GetWidth()), static_cast<int>(track->GetHeight())};
  }
  return BarLayout(client, trackSize);
}

std::wstring ShownProductName() {
  std::wstring name;
  if (!WideFromUtf8(kProductName, name) || name.empty()) name = kFallbackName;
  return name;
}

void PaintFrame(HWND window, const WindowPictures& pictures, const ProgressState& progress) {
  PAINTSTRUCT paint{};
  HDC target = BeginPaint(window, &paint);
  if (target == nullptr) {
    EndPaint(window, &paint);
    return;
  }
  RECT clientRect{};
  GetClientRect(window, &clientRect);
  const PixelRect client{clientRect.left, clientRect.top, clientRect.right, clientRect.bottom};
  const int w = client.right - client.left;
  const int h = client.bottom - client.top;

  {
    MemoryDc bufferDc(CreateCompatibleDC(target));
    GdiObject frame(bufferDc ? CreateCompatibleBitmap(target, w, h) : nullptr);
    if (frame) {
      Selection selected(bufferDc.get(), frame.get());
      DrawFrame(bufferDc.get(), paint, client, pictures, progress);
      BitBlt(target, 0, 0, w, h, bufferDc.get(), 0, 0, SRCCOPY);
    }
  }  // the buffer is deselected, then deleted, before the paint ends
  EndPaint(window, &paint);
}
