#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "core/system_path_posix.h"
#include "install/pinned_refresh.h"

namespace {
bool sync_file(const char* path, int flags) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}
}  // namespace

void delete_file_quietly(const wchar_t* path) {
  utf8_path native(path);
  if (native.ok()) unlink(native.text);
}

int replace_file_written_through(const wchar_t* source, const wchar_t* destination) {
  utf8_path from(source);
  utf8_path to(destination);
  // The content reaches the disk before the name does, so a crash never leaves a destination
  // that names a file with missing content.
  if (!from.ok() || !to.ok() || !sync_file(from.text, O_NOFOLLOW)) return 0;
  if (rename(from.text, to.text) != 0) return 0;
  char* slash = strrchr(to.text, '/');
  if (slash != nullptr) {
    *slash = '\0';
    sync_file(slash == to.text ? "/" : to.text, O_DIRECTORY);
  }
  return 1;
}
