// The installer as shipped, with a count of the frames its window paints, for
// the download-with-window benchmark. The program is linked with
// --wrap=<PaintFrame's symbol>, so every WM_PAINT of the product's own window
// procedure passes through here. When the program ends, the count is written
// to the file named by VELNOR_BENCH_FRAMES.
#include <cstdio>
#include <cstdlib>

#include "app/paint_win32.h"

extern "C" void __real__Z10PaintFrameP6HWND__RK14WindowPicturesRK13ProgressState(
    HWND window, const WindowPictures& pictures, const ProgressState& progress);

namespace {

struct FrameCount {
  unsigned long long frames = 0;

  ~FrameCount() {
    const char* path = std::getenv("VELNOR_BENCH_FRAMES");
    if (path == nullptr) return;
    if (std::FILE* out = std::fopen(path, "w")) {
      std::fprintf(out, "%llu\n", frames);
      std::fclose(out);
    }
  }
};

FrameCount frameCount;  // painting happens on the UI thread only

}  // namespace

extern "C" void __wrap__Z10PaintFrameP6HWND__RK14WindowPicturesRK13ProgressState(
    HWND window, const WindowPictures& pictures, const ProgressState& progress) {
  ++frameCount.frames;
  __real__Z10PaintFrameP6HWND__RK14WindowPicturesRK13ProgressState(window, pictures, progress);
}
