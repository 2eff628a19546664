#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/paths.h"
#include "core/system_path_posix.h"

int ensure_directory(const wchar_t* path) {
  utf8_path native(path);
  if (!native.ok()) return 0;
  // Create each missing folder of the chain, from the top down.
  char* text = native.text;
  size_t length = strlen(text);
  int last_error = 0;
  for (size_t i = 1; i <= length; ++i) {
    if (text[i] != '/' && text[i] != '\0') continue;
    char saved = text[i];
    text[i] = '\0';
    last_error = (mkdir(text, 0755) == 0) ? 0 : errno;
    text[i] = saved;
  }
  if (last_error == 0) return 1;
  // Anything already at the path counts, a regular file included.
  struct stat info;
  return lstat(text, &info) == 0;
}

char* read_file(const wchar_t* path, uint32_t limit, uint32_t* length) {
  utf8_path native(path);
  if (!native.ok()) return nullptr;
  int fd = open(native.text, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  char* buffer = nullptr;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
      static_cast<uint64_t>(info.st_size) <= limit) {
    size_t size = static_cast<size_t>(info.st_size);
    buffer = static_cast<char*>(malloc(size + 1));
    size_t done = 0;
    while (buffer != nullptr && done < size) {
      ssize_t got = read(fd, buffer + done, size - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (buffer != nullptr && done == size) {
      buffer[size] = '\0';
      *length = static_cast<uint32_t>(size);
    } else {
      free(buffer);
      buffer = nullptr;
    }
  }
  close(fd);
  return buffer;
}
