#include <windows.h>

#include "softwarelist/record_product.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  RecordProduct();
  return 0;
}
