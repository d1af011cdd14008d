#pragma once

// Painting of the main window (UI thread only).

// windows.h, then what a lean windows.h leaves out (IStream, PROPID), then
// GDI+, which needs both.
// clang-format off
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <memory>
#include <string>

#include "app/layout.h"
#include "app/progress.h"
#include "common/handles_win32.h"

// The pictures a frame is drawn from. The window owns them from its creation
// to its destruction; any of them may be missing, and painting then falls back.
struct WindowPictures {
  GdiObject background;                    // bitmap 102
  std::unique_ptr<Gdiplus::Bitmap> track;  // PNG 201
  std::unique_ptr<Gdiplus::Bitmap> fill;   // PNG 202
};

// The progress bar of `client` as painted: the track picture's size when
// there is one.
BarRect PaintedBarLayout(const PixelRect& client, const WindowPictures& pictures);

// The product name as the window shows it: kProductName in UTF-16, or the
// ASCII fallback "Velnor Installer" when it cannot be converted.
std::wstring ShownProductName();

// The WM_PAINT handler: draws one whole frame of `window` off-screen from the
// pictures and the progress record, and copies it with one BitBlt.
void PaintFrame(HWND window, const WindowPictures& pictures, const ProgressState& progress);
