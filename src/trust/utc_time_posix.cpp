#include <time.h>

#include <cstdint>

#include "trust/platform.h"

int64_t now_utc_seconds() {
  timespec now{};
  // A clock that cannot be read counts as late as can be: every expiring manifest is refused.
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return INT64_MAX;
  return static_cast<int64_t>(now.tv_sec);
}
