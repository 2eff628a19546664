#include <sys/statvfs.h>

#include "core/system_path_posix.h"
#include "install/install_worker.h"
#include "install/platform.h"

int query_free_bytes(const wchar_t* folder, uint64_t* free_bytes) {
  utf8_path native(folder);
  struct statvfs info;
  if (!native.ok() || statvfs(native.text, &info) != 0) return 0;
  *free_bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
  return 1;
}
