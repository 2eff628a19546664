#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "core/system_path_posix.h"
#include "install/platform.h"

namespace {
void sync_path(const char* path, int flags) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | flags);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// The folder holding path (path itself is left unchanged).
void sync_parent(const char* path) {
  const char* slash = strrchr(path, '/');
  if (slash == nullptr) {
    sync_path(".", O_DIRECTORY);
    return;
  }
  size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  char* parent = strndup(path, length);
  if (parent == nullptr) return;
  sync_path(parent, O_DIRECTORY);
  free(parent);
}

bool same_parent(const char* a, const char* b) {
  const char* slash_a = strrchr(a, '/');
  const char* slash_b = strrchr(b, '/');
  size_t length_a = slash_a == nullptr ? 0 : static_cast<size_t>(slash_a - a);
  size_t length_b = slash_b == nullptr ? 0 : static_cast<size_t>(slash_b - b);
  return length_a == length_b && strncmp(a, b, length_a) == 0;
}
}  // namespace

int rename_entry_once(const wchar_t* source, const wchar_t* destination, uint32_t* error) {
  utf8_path from(source);
  utf8_path to(destination);
  if (!from.ok() || !to.ok()) {
    *error = EINVAL;
    return 0;
  }
  // Plain rename would replace an empty destination folder; this never replaces anything.
  if (renameat2(AT_FDCWD, from.text, AT_FDCWD, to.text, RENAME_NOREPLACE) != 0) {
    *error = static_cast<uint32_t>(errno);
    return 0;
  }
  // Written through: the moved entry and the folders it left and entered reach the disk before
  // success is reported. The rename has happened either way, so a failed sync cannot undo it.
  sync_path(to.text, O_NOFOLLOW);
  sync_parent(to.text);
  if (!same_parent(from.text, to.text)) sync_parent(from.text);
  *error = 0;
  return 1;
}

int move_error_is_retryable(uint32_t error) {
  return error == EBUSY || error == ETXTBSY || error == EACCES || error == EPERM;
}

int examine_entry(const wchar_t* path, int* is_folder, uint32_t* error) {
  utf8_path native(path);
  if (!native.ok()) {
    *error = EINVAL;
    return 0;
  }
  struct stat info;
  if (lstat(native.text, &info) != 0) {
    *error = static_cast<uint32_t>(errno);
    return 0;
  }
  // A link counts as what it points to, as a folder link does on Windows.
  struct stat target;
  *is_folder =
      S_ISDIR(info.st_mode) || (S_ISLNK(info.st_mode) && stat(native.text, &target) == 0 && S_ISDIR(target.st_mode));
  return 1;
}

int error_means_missing(uint32_t error) { return error == ENOENT; }

uint32_t own_process_id() { return static_cast<uint32_t>(getpid()); }

uint32_t conversion_error() { return EINVAL; }
