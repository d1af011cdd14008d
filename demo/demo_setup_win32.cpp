// The setup program that the demonstration run serves: a small window that
// says it stands in for the product's setup, stays up a few seconds and
// exits with code 0. The installer starts it with no arguments.
#include <windows.h>

namespace {

const UINT_PTR kCloseTimer = 1;
const UINT kShownMs = 4000;

LRESULT CALLBACK DemoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      SetTimer(window, kCloseTimer, kShownMs, nullptr);
      return 0;
    case WM_TIMER:
      KillTimer(window, kCloseTimer);
      DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      HBRUSH brush = CreateSolidBrush(RGB(64, 48, 140));
      FillRect(dc, &client, brush);
      DeleteObject(brush);
      HFONT font = CreateFontW(22, 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                               FF_SWISS | DEFAULT_PITCH, L"Microsoft YaHei");
      HGDIOBJ previous = SelectObject(dc, font);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(255, 255, 255));
      RECT text = client;
      text.top += 60;
      DrawTextW(dc, L"velnor 视频格式转换器 安装程序（演示）\n\n下载完成，安装程序已启动。", -1,
                &text, DT_CENTER | DT_WORDBREAK);
      SelectObject(dc, previous);
      DeleteObject(font);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DemoWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"VelnorDemoSetup";
  RegisterClassW(&windowClass);
  const int width = 520, height = 200;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"velnor setup (demo)", WS_POPUP,
                                (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                                nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
