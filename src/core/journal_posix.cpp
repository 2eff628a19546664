#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "core/journal.h"
#include "core/platform.h"
#include "core/system_path_posix.h"
#include "core/text.h"

const wchar_t k_system_error_label[] = L"erreur systeme";

void journal_local_time(journal_time* now) {
  time_t seconds = time(nullptr);
  struct tm local;
  if (localtime_r(&seconds, &local) == nullptr) {
    *now = {1970, 1, 1, 0, 0, 0};
    return;
  }
  *now = {static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
          static_cast<unsigned>(local.tm_mday),        static_cast<unsigned>(local.tm_hour),
          static_cast<unsigned>(local.tm_min),         static_cast<unsigned>(local.tm_sec)};
}

void journal_append(const wchar_t* path, const char* bytes, uint32_t count) {
  utf8_path native(path);
  if (!native.ok()) return;
  // Never through a link, and never waiting on a FIFO: only a regular file takes the line.
  int fd = open(native.text, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) return;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    // One write per line: with O_APPEND it lands whole at the current end of the file.
    ssize_t ignored = write(fd, bytes, count);
    (void)ignored;
  }
  close(fd);
}

void system_error_text(uint32_t code, wchar_t* output, uint32_t capacity) {
  output[0] = L'\0';
  // Codes the C library cannot name have no text; they get the short journal form.
  if (code > 0x7fffffff || strerrorname_np(static_cast<int>(code)) == nullptr) return;
  char buffer[512];
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  size_t length = utf8_to_wide(text, strlen(text), output, capacity - 1);
  output[length] = L'\0';
}
