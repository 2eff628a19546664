#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "accounts/selection.h"
#include "core/system_path_posix.h"

long read_selection_file(const wchar_t* path, unsigned char* bytes, size_t limit) {
  utf8_path native(path);
  if (!native.ok()) return -1;
  int fd = open(native.text, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t got;
  do {
    got = read(fd, bytes, limit);
  } while (got < 0 && errno == EINTR);
  close(fd);
  return got < 0 ? -1 : static_cast<long>(got);
}

// Linux has no hidden attribute; the file is the user's own (it names the account).
void write_selection_file(const wchar_t* path, const unsigned char* bytes, size_t count) {
  utf8_path native(path);
  if (!native.ok()) return;
  int fd = open(native.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
}
