#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/os.h"
#include "core/os_posix.h"
#include "core/paths.h"
#include "core/system_path_posix.h"
#include "core/text.h"
#include "startup/platform.h"
#include "startup/startup.h"

namespace {
int g_instance_lock = -1;

// $XDG_RUNTIME_DIR, or a folder of the user's own under the temporary folder.
bool lock_folder(char* folder, size_t size) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return snprintf(folder, size, "%s", runtime) < static_cast<int>(size);
  const char* temporary = getenv("TMPDIR");
  if (temporary == nullptr || temporary[0] != '/') temporary = "/tmp";
  if (snprintf(folder, size, "%s/vorna380-%lu", temporary, static_cast<unsigned long>(getuid())) >=
      static_cast<int>(size))
    return false;
  if (mkdir(folder, 0700) != 0 && errno != EEXIST) return false;
  // Somebody else's folder of that name is not ours to lock in.
  struct stat info;
  return lstat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 022) == 0;
}

int open_pidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

bool instance_lock_path(char* path, size_t size) {
  if (!lock_folder(path, size)) return false;
  size_t used = strlen(path);
  return snprintf(path + used, size - used, "/Vorna380SecureLauncherV1.lock") < static_cast<int>(size - used);
}
}  // namespace

int take_instance_lock() {
  char path[PATH_MAX];
  if (!instance_lock_path(path, sizeof path)) return 0;
  g_instance_lock = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (g_instance_lock >= 0 && flock(g_instance_lock, LOCK_EX | LOCK_NB) == 0) {
    // The holder's process ID, for an uninstall that must close it.
    char id[24];
    int length = snprintf(id, sizeof id, "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(g_instance_lock, 0) != 0 || pwrite(g_instance_lock, id, static_cast<size_t>(length), 0) != length) {
      // Without the ID an uninstall cannot close this launcher; the launcher itself runs on.
    }
    return 1;
  }
  close_instance_lock();
  return 0;
}

namespace {
// The process ID the lock's holder wrote, when that process still runs the launcher (its
// executable's name is the installed launcher's): 0 otherwise.
pid_t lock_holder() {
  char path[PATH_MAX];
  if (!instance_lock_path(path, sizeof path)) return 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char text[24] = {};
  ssize_t count = read(fd, text, sizeof text - 1);
  close(fd);
  long id = count > 0 ? strtol(text, nullptr, 10) : 0;
  if (id <= 1 || id == getpid()) return 0;
  char exe[64];
  char target[PATH_MAX];
  snprintf(exe, sizeof exe, "/proc/%ld/exe", id);
  ssize_t length = readlink(exe, target, sizeof target - 1);
  if (length <= 0) return 0;
  target[length] = '\0';
  const char* name = strrchr(target, '/');
  utf8_path installed(k_installed_launcher_name);
  return name != nullptr && installed.ok() && strcmp(name + 1, installed.text) == 0 ? static_cast<pid_t>(id) : 0;
}
}  // namespace

// The launcher ends on SIGTERM (its lock goes with it); one that has not within the time is
// killed.
int close_running_launcher(unsigned timeout_ms) {
  if (take_instance_lock()) return 1;
  pid_t holder = lock_holder();
  if (holder == 0) return 0;
  kill(holder, SIGTERM);
  for (unsigned waited = 0; waited < timeout_ms + 2000; waited += 100) {
    if (waited == timeout_ms) kill(holder, SIGKILL);
    os_sleep_ms(100);
    if (take_instance_lock()) return 1;
  }
  return 0;
}

// Linux removes a running program's file as any other.
int move_running_executable_out(const wchar_t*, const wchar_t*) { return 1; }

void release_instance_lock() {
  if (g_instance_lock < 0) return;
  flock(g_instance_lock, LOCK_UN);
  close_instance_lock();
}

void close_instance_lock() {
  if (g_instance_lock >= 0) close(g_instance_lock);
  g_instance_lock = -1;
}

int running_executable_path(wchar_t* path) {
  char native[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", native, sizeof native - 1);
  if (length <= 0) return 0;
  size_t units = utf8_to_wide(native, static_cast<size_t>(length), path, PATH_UNITS - 1);
  if (units == 0) return 0;
  path[units] = L'\0';
  return 1;
}

// $XDG_DATA_HOME, or ~/.local/share; an unusable value counts as unset.
int user_data_folder(wchar_t* folder) {
  char native[PATH_MAX];
  const char* data = getenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  int written;
  if (data != nullptr && data[0] == '/') {
    written = snprintf(native, sizeof native, "%s", data);
  } else if (home != nullptr && home[0] == '/') {
    written = snprintf(native, sizeof native, "%s/.local/share", home);
  } else {
    return 0;
  }
  if (written <= 0 || written >= static_cast<int>(sizeof native)) return 0;
  size_t units = utf8_to_wide(native, static_cast<size_t>(written), folder, PATH_UNITS - 1);
  if (units == 0) return 0;
  folder[units] = L'\0';
  return ensure_directory(folder);
}

// By file identity, not by text: the installed path is joined from $XDG_DATA_HOME or $HOME as
// given (links, "//", a trailing slash) while the running path is fully resolved. A link or
// nothing at the installed path is not the installed launcher.
int same_launcher_path(const wchar_t*, const wchar_t* installed) {
  utf8_path native(installed);
  struct stat running;
  struct stat at_place;
  if (!native.ok() || stat("/proc/self/exe", &running) != 0 || lstat(native.text, &at_place) != 0) return 0;
  return S_ISREG(at_place.st_mode) && running.st_dev == at_place.st_dev && running.st_ino == at_place.st_ino;
}

namespace {
int start_launcher(const wchar_t* path, const wchar_t* root, os_child* started) {
  utf8_path program(path);
  utf8_path folder(root);
  char* arguments[] = {program.text, nullptr};
  int error = 0;
  return program.ok() && folder.ok() && os_start_detached(program.text, arguments, folder.text, started, &error);
}
}  // namespace

int start_installed_launcher(const wchar_t* path, const wchar_t* root) {
  os_child started;
  return start_launcher(path, root, &started);
}

namespace {
// Whether some process holds the instance lock, read from /proc/locks without taking it (a
// try would make the launcher being watched find the lock taken).
bool instance_lock_taken() {
  char path[PATH_MAX];
  struct stat lock;
  if (!instance_lock_path(path, sizeof path) || stat(path, &lock) != 0) return false;
  FILE* locks = fopen("/proc/locks", "re");
  if (locks == nullptr) return false;
  char line[256];
  bool taken = false;
  while (!taken && fgets(line, sizeof line, locks) != nullptr) {
    unsigned long long inode = 0;
    char kind[16];
    // "1: FLOCK  ADVISORY  WRITE 4242 00:2a:1234 0 EOF"
    taken = sscanf(line, "%*s %15s %*s %*s %*d %*x:%*x:%llu", kind, &inode) == 2 && strcmp(kind, "FLOCK") == 0 &&
            inode == static_cast<unsigned long long>(lock.st_ino);
  }
  fclose(locks);
  return taken;
}
}  // namespace

int start_and_try_launcher(const wchar_t* path, const wchar_t* root, unsigned trial_ms) {
  os_child started;
  if (!start_launcher(path, root, &started)) return 0;
  int took_over = 0;
  int status = 0;
  if (os_wait_child_within(started.pid, trial_ms, &status)) {
    took_over = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : -1;
  } else if (instance_lock_taken()) {
    took_over = 1;
  }
  if (took_over == 0) {
    kill(started.pid, SIGKILL);
    waitpid(started.pid, nullptr, 0);
  } else if (took_over == 1) {
    os_release_child(started.pid);
  }
  return took_over == 1;
}

int wait_for_process_end(unsigned long process_id) {
  if (process_id > static_cast<unsigned long>(INT_MAX)) return 0;
  int process = open_pidfd(static_cast<pid_t>(process_id));
  if (process < 0) return 0;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long spent = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= SELF_UPDATE_WAIT_MS) break;
    pollfd watched = {process, POLLIN, 0};
    int ready = poll(&watched, 1, static_cast<int>(SELF_UPDATE_WAIT_MS - spent));
    if (ready > 0 || (ready < 0 && errno != EINTR)) break;
  }
  close(process);
  return 1;
}
