// The installer as shipped, with a count of the frames its window paints and
// of the value-change events it raises for screen readers, for the
// download-with-window benchmark. The program is linked with --wrap of
// PaintFrame's, RaiseValueChange's and DisconnectAccessible's symbols, so
// every WM_PAINT, every event and the WM_DESTROY of the product's own window
// procedure pass through here. At WM_DESTROY "<frames> <events>" is written
// to the file named by VELNOR_BENCH_FRAMES.
#include <cstdio>
#include <cstdlib>

#include "app/paint_win32.h"

extern "C" void __real__Z10PaintFrameP6HWND__RK14WindowPicturesRK13ProgressState(
    HWND window, const WindowPictures& pictures, const ProgressState& progress);
extern "C" void __real__Z16RaiseValueChangeP6HWND__(HWND window);
extern "C" void __real__Z20DisconnectAccessiblev();

namespace {

// Both happen on the UI thread only.
unsigned long long frames = 0;
unsigned long long events = 0;

}  // namespace

// The installer ends with ExitProcess, which runs no static destructors, so
// the counts are written when the window is destroyed, after its last frame.
extern "C" void __wrap__Z20DisconnectAccessiblev() {
  __real__Z20DisconnectAccessiblev();
  const char* path = std::getenv("VELNOR_BENCH_FRAMES");
  if (path == nullptr) return;
  if (std::FILE* out = std::fopen(path, "w")) {
    std::fprintf(out, "%llu %llu\n", frames, events);
    std::fclose(out);
  }
}

extern "C" void __wrap__Z10PaintFrameP6HWND__RK14WindowPicturesRK13ProgressState(
    HWND window, const WindowPictures& pictures, const ProgressState& progress) {
  ++frames;
  __real__Z10PaintFrameP6HWND__RK14WindowPicturesRK13ProgressState(window, pictures, progress);
}

extern "C" void __wrap__Z16RaiseValueChangeP6HWND__(HWND window) {
  ++events;
  __real__Z16RaiseValueChangeP6HWND__(window);
}
