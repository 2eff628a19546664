#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "core/system_path_posix.h"
#include "install/activation.h"

namespace {
// 100-ns intervals from 1601-01-01 to 1970-01-01, so rollback names sort as on Windows.
constexpr uint64_t EPOCH_1601_TO_1970 = 116444736000000000ULL;

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

uint32_t rename_entry_once(const wchar_t* source, const wchar_t* destination) {
  utf8_path from(source);
  utf8_path to(destination);
  if (!from.ok() || !to.ok()) return EINVAL;
  // Plain rename would replace an empty destination folder; this never replaces anything.
  if (renameat2(AT_FDCWD, from.text, AT_FDCWD, to.text, RENAME_NOREPLACE) != 0) return static_cast<uint32_t>(errno);
  // Written through: the moved entry and the folders it left and entered reach the disk before
  // success is reported. The rename has happened either way, so a failed sync cannot undo it.
  sync_path(to.text, O_NOFOLLOW);
  sync_parent(to.text);
  if (!same_parent(from.text, to.text)) sync_parent(from.text);
  return 0;
}

int move_error_is_retryable(uint32_t error) {
  return error == EBUSY || error == ETXTBSY || error == EACCES || error == EPERM;
}

void pause_milliseconds(uint32_t milliseconds) {
  struct timespec pause = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
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
  *is_folder = S_ISDIR(info.st_mode) || (S_ISLNK(info.st_mode) && stat(native.text, &target) == 0 && S_ISDIR(target.st_mode));
  return 1;
}

int error_means_missing(uint32_t error) { return error == ENOENT; }

uint64_t system_time_1601() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return EPOCH_1601_TO_1970 + static_cast<uint64_t>(now.tv_sec) * 10000000ULL + static_cast<uint64_t>(now.tv_nsec) / 100;
}

uint32_t own_process_id() { return static_cast<uint32_t>(getpid()); }

int write_marker_file(const wchar_t* path, const char* bytes, uint32_t count, int* stage, uint32_t* error) {
  utf8_path native(path);
  int fd = native.ok() ? open(native.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
  if (fd < 0) {
    *stage = 1;
    *error = native.ok() ? static_cast<uint32_t>(errno) : EINVAL;
    return 0;
  }
  ssize_t written = write(fd, bytes, count);
  if (written != static_cast<ssize_t>(count)) {
    *stage = 2;
    *error = written < 0 ? static_cast<uint32_t>(errno) : 0;
    close(fd);
    return 0;
  }
  close(fd);
  return 1;
}

uint32_t conversion_error() { return EINVAL; }
