#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "core/journal.h"
#include "core/system_path_posix.h"
#include "core/text.h"
#include "install/processes.h"

namespace {
// Called through syscall(): the C library's declarations lack C linkage in some releases.
int open_pidfd(uint32_t id) { return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0)); }
int kill_through_pidfd(int pidfd) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
}

constexpr size_t COMMAND_LINE_BYTES = 65536;  // of a process's arguments, looked at

// Scratch of the scan, which runs on the install worker only.
char s_link[PATH_UNITS * 4];
char s_arguments[COMMAND_LINE_BYTES];
wchar_t s_folder[PATH_UNITS];
wchar_t s_image[PATH_UNITS];

// UTF-8 bytes to wide text; a byte that starts no valid sequence becomes U+FFFD.
void bytes_to_wide(const char* bytes, size_t count, wchar_t* output, size_t capacity) {
  size_t written = 0;
  for (size_t i = 0; i < count && written + 1 < capacity;) {
    size_t used = 0;
    for (size_t k = 1; k <= 4 && i + k <= count; ++k) {
      if (utf8_to_wide(bytes + i, k, output + written, 1) == 1) {
        used = k;
        break;
      }
    }
    if (used == 0) {
      output[written] = 0xFFFD;
      used = 1;
    }
    ++written;
    i += used;
  }
  output[written] = L'\0';
}

// The client folder as /proc shows executables: with every link resolved.
void resolved_client_folder(wchar_t* folder) {
  copy_text(folder, PATH_UNITS, g_client);
  utf8_path native(g_client);
  if (!native.ok()) return;
  char* resolved = realpath(native.text, nullptr);
  if (resolved == nullptr) return;
  bytes_to_wide(resolved, strlen(resolved), folder, PATH_UNITS);
  free(resolved);
}

bool has_ended(int pidfd, int timeout_ms) {
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    struct pollfd watch = {pidfd, POLLIN, 0};
    int ready = poll(&watch, 1, timeout_ms);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= timeout_ms) return false;
    timeout_ms -= static_cast<int>(elapsed);
    start = now;
  }
}
// A program run by an emulator or an interpreter (a game under Wine) shows the emulator as its
// executable. It counts as the client's when it runs in the client folder, or when one of its
// arguments names a file there: a Linux path, or the drive Z: form Wine gives the program
// ("Z:\\home\\...\\Tarvo.exe"). Only this user's processes are looked at.
bool runs_client_program(uint32_t id, const wchar_t* folder, wchar_t* image) {
  char path[64];
  struct stat owner;
  snprintf(path, sizeof path, "/proc/%u", id);
  if (stat(path, &owner) != 0 || owner.st_uid != getuid()) return false;
  snprintf(path, sizeof path, "/proc/%u/cwd", id);
  ssize_t length = readlink(path, s_link, sizeof s_link);
  if (length > 0 && static_cast<size_t>(length) < sizeof s_link) {
    s_link[length] = '/';  // the folder itself counts too
    bytes_to_wide(s_link, static_cast<size_t>(length) + 1, image, PATH_UNITS);
    if (image_inside_folder(image, folder)) {
      image[length] = L'\0';
      return true;
    }
  }
  snprintf(path, sizeof path, "/proc/%u/cmdline", id);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t count = read(fd, s_arguments, sizeof s_arguments - 1);
  close(fd);
  for (ssize_t at = 0; count > 0 && at < count;) {
    size_t argument = strnlen(s_arguments + at, static_cast<size_t>(count - at));
    const char* text = s_arguments + at;
    bool wine_path = argument > 3 && (text[0] == 'Z' || text[0] == 'z') && text[1] == ':' && text[2] == '\\';
    if (wine_path) text += 2, argument -= 2;
    bytes_to_wide(text, argument, image, PATH_UNITS);
    for (wchar_t* c = image; wine_path && *c != L'\0'; ++c) {
      if (*c == L'\\') *c = L'/';
    }
    if (image[0] == L'/' && image_inside_folder(image, folder)) return true;
    at += static_cast<ssize_t>(argument) + (wine_path ? 2 : 0) + 1;
  }
  return false;
}
}  // namespace

int match_client_process(uint32_t id, wchar_t* image, client_process* process) {
  // The pidfd is taken first and names this one process for as long as it is held.
  int pidfd = open_pidfd(id);
  if (pidfd < 0) return 0;
  char exe[32];
  snprintf(exe, sizeof exe, "/proc/%u/exe", id);
  ssize_t length = readlink(exe, s_link, sizeof s_link);
  // Still running after the link was read: the ID named the pidfd's process all along, so the
  // path read is that process's executable.
  if (length <= 0 || static_cast<size_t>(length) >= sizeof s_link || has_ended(pidfd, 0)) {
    close(pidfd);
    return 0;
  }
  bytes_to_wide(s_link, static_cast<size_t>(length), image, PATH_UNITS);
  resolved_client_folder(s_folder);
  if (!image_inside_folder(image, s_folder) && (!runs_client_program(id, s_folder, image) || has_ended(pidfd, 0))) {
    close(pidfd);
    return 0;
  }
  process->id = id;
  process->handle = pidfd;
  return 1;
}

void end_client_process(client_process* process) {
  int pidfd = static_cast<int>(process->handle);
  process->handle = -1;
  // Signalled through the pidfd: never another process that took the same ID.
  if (kill_through_pidfd(pidfd) != 0) {
    int error = errno;
    if (!has_ended(pidfd, 0)) log_windows_error(L"Fermeture d'un ancien processus Vorna380 impossible", error);
  } else if (!has_ended(pidfd, CLIENT_PROCESS_WAIT_MS)) {
    write_log(L"Un ancien processus Vorna380 ne s'est pas ferme dans le delai imparti.");
  }
  close(pidfd);
}

void close_client_processes() {
  pid_t own = getpid();
  DIR* processes = opendir("/proc");
  if (processes == nullptr) {
    log_windows_error(L"Inventaire des processus Vorna380 impossible", static_cast<uint32_t>(errno));
    return;
  }
  errno = 0;
  struct dirent* entry = readdir(processes);
  if (entry == nullptr) {
    log_windows_error(L"Lecture des processus Vorna380 impossible", static_cast<uint32_t>(errno));
    closedir(processes);
    return;
  }
  do {
    char* end = nullptr;
    unsigned long id = strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || id == 0 || id > UINT32_MAX || static_cast<pid_t>(id) == own) continue;
    client_process process;
    if (!match_client_process(static_cast<uint32_t>(id), s_image, &process)) continue;
    journal_client_process(process.id, s_image);
    end_client_process(&process);
  } while ((entry = readdir(processes)) != nullptr);
  closedir(processes);
}
