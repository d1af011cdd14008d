#pragma once

// The main window's resources and the Windows-side pieces of the window:
// shared by the entry, the window procedure and painting (UI thread only).

// clang-format off: windows.h, then what a lean windows.h leaves out
// (IStream, PROPID), then GDI+, which needs both.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
// clang-format on

#include <memory>
#include <string>

// Everything the window owns from its creation to its destruction. Only the
// UI thread touches it; the worker never does.
struct WindowResources {
  HINSTANCE instance = nullptr;
  HBITMAP backgroundBitmap = nullptr;           // bitmap 102, or none
  ULONG_PTR gdiplusToken = 0;                   // 0: GDI+ is not running
  std::unique_ptr<Gdiplus::Bitmap> trackImage;  // PNG 201, or empty
  std::unique_ptr<Gdiplus::Bitmap> fillImage;   // PNG 202, or empty
};

WindowResources& SharedWindowResources();

// The window procedure of the class "VelnorInstaller".
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Decodes a picture embedded in the program (resource `id` of `type`) with
// GDI+. Empty when it is missing, cannot be decoded or GDI+ is not running.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(int id, const wchar_t* type);

// The WM_PAINT handler: draws one whole frame off-screen from the window's
// pictures and the progress record, and copies it with one BitBlt.
void PaintFrame(HWND window);

// UTF-8 (up to its first NUL) as UTF-16; the ANSI code page is tried when
// the bytes are not accepted as UTF-8. Empty on failure.
std::wstring Utf8ToWide(const std::string& bytes);
