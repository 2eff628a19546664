#include <windows.h>

#include "install/install_worker.h"
#include "install/platform.h"

int query_free_bytes(const wchar_t* folder, uint64_t* free_bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return 0;
  *free_bytes = available.QuadPart;
  return 1;
}
