// Start-up benchmark: time from CreateProcessW to the moment the program's
// window is shown and painted: visible, with no part of it waiting for a
// WM_PAINT. (WaitForInputIdle can return before the window is even shown.)
// The installer and the minimal window program are started in turns, several
// rounds, in one run; a round in which either shows no painted window within
// 30 s is reported and left out.
//
// Usage: startup_bench.exe <rounds> <installer.exe> <minimal.exe>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// True when the process owns a visible top-level window that has been painted
// (its update region is empty).
bool HasPaintedWindow(DWORD processId) {
  struct Search {
    DWORD processId;
    bool found;
  } search = {processId, false};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->processId && IsWindowVisible(window) &&
            !GetUpdateRect(window, nullptr, FALSE)) {
          s->found = true;
        }
        return !s->found;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

double MeasureOnce(const std::wstring& program) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + program + L"\"";
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return -1;
  }
  bool shown = false;
  for (int poll = 0; poll < 30000 && !shown; ++poll) {
    shown = HasPaintedWindow(process.dwProcessId);
    if (!shown) Sleep(1);
  }
  QueryPerformanceCounter(&end);
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 5000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!shown) return -1;
  return 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fwprintf(stderr, L"usage: startup_bench <rounds> <installer.exe> <minimal.exe>\n");
    return 2;
  }
  const int rounds = std::max(1, _wtoi(argv[1]));
  std::vector<double> installer, minimal;
  for (int round = 0; round < rounds; ++round) {
    const double a = MeasureOnce(argv[2]);
    const double b = MeasureOnce(argv[3]);
    if (a < 0 || b < 0) {
      std::fwprintf(stderr,
                    L"round %d left out: a program did not start or showed no painted window\n",
                    round);
      continue;
    }
    installer.push_back(a);
    minimal.push_back(b);
  }
  const double i = Median(installer), m = Median(minimal);
  std::printf("start-up to the shown, painted window (median of %zu rounds of %d)\n",
              installer.size(), rounds);
  std::printf("  velnor-installer.exe  %8.1f ms\n", i);
  std::printf("  minimal window        %8.1f ms\n", m);
  std::printf("  ratio installer/minimal %.2f (goal at most 1.5)\n", m > 0 ? i / m : 0.0);
  return 0;
}
