// The control for the planting test: loads each DLL named on its command line
// the way an unprotected program would (default search order, own folder
// first), so the test can show that its markers are found when the search is
// not limited.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) LoadLibraryW(argv[i]);
  return 0;
}
