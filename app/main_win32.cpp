// Process entry, the main window and its message loop, and the window's
// resources: GDI+, the background bitmap and the two progress-bar pictures.
#include <memory>
#include <system_error>
#include <thread>

#include "app/accessible_win32.h"
#include "app/dll_search_win32.h"
#include "app/installer_lock_win32.h"
#include "app/layout.h"
#include "app/paint_win32.h"
#include "app/progress.h"
#include "app/window_messages_win32.h"
#include "common/com_lockdown_win32.h"
#include "common/handles_win32.h"
#include "install/failure_prompt.h"
#include "install/install_worker.h"
#include "softwarelist/record_product.h"

namespace {

const wchar_t kClassName[] = L"VelnorInstaller";
const wchar_t kWindowTitle[] = L"Velnor Installer";
constexpr int kWindowWidth = 560;
constexpr int kWindowHeight = 310;
constexpr int kIconId = 101;
constexpr int kBackgroundId = 102;
constexpr int kTrackId = 201;
constexpr int kFillId = 202;
// The one-second timer that ages the speed sample while no report arrives.
constexpr UINT_PTR kSpeedTimer = 1;

// Everything the window owns from its creation to its destruction. Only the
// UI thread touches it; the worker never does.
struct WindowResources {
  HINSTANCE instance = nullptr;
  ULONG_PTR gdiplusToken = 0;  // 0: GDI+ is not running
  WindowPictures pictures;
};

WindowResources resources;

// Starts the install on its own thread, detached: nothing ever waits for it.
// Its progress goes to the window's progress record; the installer lock goes
// when it ends.
bool StartWorker(HWND window, int barWidth) {
  const auto handle = reinterpret_cast<WindowHandle>(window);
  ProgressCallback progress = [handle, barWidth](std::uint64_t received, std::uint64_t total) {
    OnDownloadProgress(handle, barWidth, received, total);
  };
  try {
    std::thread worker(
        [handle](ProgressCallback progress) {
          InstallWorker(handle, std::move(progress));
          ReleaseInstallerLock();
        },
        std::move(progress));
    worker.detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// The bar's width in pixels, as painting lays it out.
int BarWidth(HWND window, const WindowPictures& pictures) {
  RECT client{};
  GetClientRect(window, &client);
  return PaintedBarLayout(PixelRect{client.left, client.top, client.right, client.bottom}, pictures)
      .width;
}

// Decodes a picture embedded in the program (resource `id` of `type`) with
// GDI+. Empty when it is missing, cannot be decoded or GDI+ is not running.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(int id, const wchar_t* type) {
  // GdipAlloc yields nothing while GDI+ is not running.
  if (resources.gdiplusToken == 0) return nullptr;

  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
  if (info == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, info);
  if (loaded == nullptr) return nullptr;
  const DWORD size = SizeofResource(nullptr, info);
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr || size == 0) return nullptr;

  GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return nullptr;
  void* copy = GlobalLock(block.get());
  if (copy == nullptr) return nullptr;
  CopyMemory(copy, bytes, size);

  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(block.get(), TRUE, &stream) != S_OK || stream == nullptr) {
    GlobalUnlock(block.get());
    return nullptr;
  }
  block.release();  // the stream frees it when released

  std::unique_ptr<Gdiplus::Bitmap> bitmap(new Gdiplus::Bitmap(stream));
  stream->Release();
  if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return bitmap;
}

void OnCreate(HWND window) {
  Gdiplus::GdiplusStartupInput input;  // version 1, no callback, no suppression
  if (Gdiplus::GdiplusStartup(&resources.gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
    resources.gdiplusToken = 0;
  }

  WindowPictures& pictures = resources.pictures;
  pictures.background.reset(LoadImageW(resources.instance, MAKEINTRESOURCEW(kBackgroundId),
                                       IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  if (!pictures.background) {
    MessageBoxW(window, L"背景图加载失败！", L"错误", MB_ICONERROR);
  }

  pictures.track = LoadPngResource(kTrackId, L"PNG");
  pictures.fill = LoadPngResource(kFillId, L"PNG");

  MarkInstallerWindow(window);
  if (!StartWorker(window, BarWidth(window, pictures))) {
    ReleaseInstallerLock();
    PostMessageW(window, kWorkerNotStarted, 0, 0);
  }
  SetTimer(window, kSpeedTimer, 1000, nullptr);

  RecordProduct();
}

void OnDestroy() {
  DisconnectAccessible();
  // The pictures go before GDI+ does.
  resources.pictures.background.reset();
  resources.pictures.track.reset();
  resources.pictures.fill.reset();
  if (resources.gdiplusToken != 0) {
    Gdiplus::GdiplusShutdown(resources.gdiplusToken);
    resources.gdiplusToken = 0;
  }
  PostQuitMessage(0);
}

void OnLeftButtonUp(HWND window, LPARAM lParam) {
  const auto x = static_cast<std::uint32_t>(LOWORD(lParam));
  const auto y = static_cast<std::uint32_t>(HIWORD(lParam));
  RECT client{};
  GetClientRect(window, &client);
  if (IsCloseBoxHit(client.right, x, y)) PostMessageW(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_PAINT:
      PaintFrame(window, resources.pictures, SharedProgressState());
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(window, lParam);
      return 0;
    case WM_GETOBJECT:
      return AnswerGetObject(window, wParam, lParam);
    case WM_TIMER:
      if (wParam == kSpeedTimer && AgeProgressSample(SharedProgressState(), GetTickCount64()))
        InvalidateRect(window, nullptr, FALSE);
      return 0;
    case kProgressValueChanged:
      RaiseValueChange(window);
      return 0;
    case kWorkerNotStarted:
      ShowDownloadFailedPrompt(reinterpret_cast<WindowHandle>(window));
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Registers the class, creates, centres and shows the window and runs the
// message loop until the window is gone.
void RunInstallerWindow(HINSTANCE instance, int showCommand) {
  resources.instance = instance;

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = 0;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = nullptr;
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);

  HWND window = CreateWindowExW(0, kClassName, kWindowTitle, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  // Without a window no WM_QUIT would ever arrive: leave instead of waiting.
  // (A failed registration shows up here too.)
  if (window == nullptr) return;

  RECT frame{};
  GetWindowRect(window, &frame);
  const WindowOrigin origin =
      CentredWindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                          frame.right - frame.left, frame.bottom - frame.top);
  SetWindowPos(window, nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(window, showCommand);
  UpdateWindow(window);

  MSG message{};
  // -1 (an invalid call) ends the loop too rather than spinning on it.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  LimitDllSearch();
  // Another installer runs: it goes on alone, and this start ends unseen.
  if (!BecomeTheOnlyInstaller()) return 0;
  LockDownCom();
  RunInstallerWindow(instance, showCommand);
  // The worker may still be running (the window was closed during the
  // download), maybe inside WinHTTP holding one of its locks. Returning would
  // destroy static objects under it, and ExitProcess would run every DLL's
  // detach code, which could wait for that lock for ever; ending the process
  // at once runs neither. The exit code is 0 in every case.
  TerminateProcess(GetCurrentProcess(), 0);
  return 0;
}
