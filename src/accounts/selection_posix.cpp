#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "accounts/selection.h"
#include "core/paths.h"
#include "core/system_path_posix.h"

// Opened like every file the launcher reads: a regular file, never a link, and a FIFO or a
// device is refused at once instead of holding up the start.
long read_selection_file(const wchar_t* path, unsigned char* bytes, size_t limit) {
  int fd = open_regular_below(path, folder_part_length(path));
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
  // Nor does a FIFO or a link in its place hold up or redirect the write.
  int fd = open(native.text, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  struct stat info;
  if (fd < 0) return;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ftruncate(fd, 0) != 0) {
    close(fd);
    return;
  }
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
}
