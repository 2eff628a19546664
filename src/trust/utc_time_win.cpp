#include <windows.h>

#include <cstdint>

#include "trust/platform.h"

int64_t now_utc_seconds() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);  // 100-nanosecond ticks since 1601-01-01, UTC
  uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000) - 11644473600;
}
