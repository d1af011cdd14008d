// Start-up benchmark: time from CreateProcessW to the moment the program's
// message loop first goes idle (WaitForInputIdle), which comes after its
// window was shown and its first WM_PAINT handled. The installer and the
// minimal window program are started in turns, several rounds, in one run.
//
// Usage: startup_bench.exe <rounds> <installer.exe> <minimal.exe>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// True when the process owns a visible top-level window: idle alone would
// also be reached by a program that never showed one.
bool HasVisibleWindow(DWORD processId) {
  struct Search {
    DWORD processId;
    bool found;
  } search = {processId, false};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->processId && IsWindowVisible(window)) s->found = true;
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
  const DWORD waited = WaitForInputIdle(process.hProcess, 30000);
  QueryPerformanceCounter(&end);
  const bool shown = waited == 0 && HasVisibleWindow(process.dwProcessId);
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
      std::fwprintf(stderr, L"round %d: a program did not start, never went idle or showed no window\n", round);
      return 1;
    }
    installer.push_back(a);
    minimal.push_back(b);
  }
  const double i = Median(installer), m = Median(minimal);
  std::printf("start-up to first idle (median of %d rounds)\n", rounds);
  std::printf("  velnor-installer.exe  %8.1f ms\n", i);
  std::printf("  minimal window        %8.1f ms\n", m);
  std::printf("  ratio installer/minimal %.2f (goal at most 1.5)\n", m > 0 ? i / m : 0.0);
  return 0;
}
