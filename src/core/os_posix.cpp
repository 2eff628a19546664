// The Linux port of the operating-system layer (os.h, os_posix.h). In order:
//   time      os_sleep_ms, os_monotonic_ms, os_system_time_1601 (the wall clock, for time stamps)
//   threads   os_thread_start/join/detach; the join waits on the monotonic clock
//   files     os_file_size, os_write_all, os_replace_file / os_move_over / os_copy_over (a
//             temporary beside, flushed, renamed over, the folder synced), deletes
//   children  os_spawn (posix_spawn, descriptors above 2 closed), os_start_detached, os_wait_child,
//             os_wait_child_within, os_release_child
//   crash     crash_now, for the kill tests' named points
//   pieces    os_create_file / os_write_file / os_close_file, os_hard_link
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "core/crash_point.h"
#include "core/os.h"
#include "core/os_posix.h"
#include "core/platform.h"
#include "core/system_path_posix.h"

extern char** environ;

void os_sleep_ms(uint32_t milliseconds) {
  timespec left = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint64_t os_monotonic_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

uint64_t os_system_time_1601() {
  // 100-ns intervals from 1601-01-01 to 1970-01-01, so times compare as on Windows.
  constexpr uint64_t EPOCH_1601_TO_1970 = 116444736000000000ULL;
  timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) return 0;
  return EPOCH_1601_TO_1970 + static_cast<uint64_t>(now.tv_sec) * 10000000ULL +
         static_cast<uint64_t>(now.tv_nsec) / 100;
}

// Shared by the thread and its starter: whichever lets go last frees it, so a thread left
// running after a join that timed out never touches freed memory.
struct os_thread {
  pthread_t handle;
  void (*run)(void*);
  void* context;
  std::atomic<int> holders;
};

namespace {
void let_go(os_thread* thread) {
  if (thread->holders.fetch_sub(1) == 1) free(thread);
}

void* thread_entry(void* argument) {
  os_thread* self = static_cast<os_thread*>(argument);
  self->run(self->context);
  let_go(self);
  return nullptr;
}
}  // namespace

os_thread* os_thread_start(void (*run)(void*), void* context) {
  os_thread* thread = static_cast<os_thread*>(malloc(sizeof(os_thread)));
  if (thread == nullptr) return nullptr;
  thread->run = run;
  thread->context = context;
  new (&thread->holders) std::atomic<int>(2);
  if (pthread_create(&thread->handle, nullptr, thread_entry, thread) != 0) {
    free(thread);
    return nullptr;
  }
  return thread;
}

int os_thread_join(os_thread* thread, uint32_t limit_ms) {
  int ended;
  if (limit_ms == OS_WAIT_FOREVER) {
    ended = pthread_join(thread->handle, nullptr) == 0;
  } else {
    // Measured on the monotonic clock: setting the system clock neither cuts nor stretches it.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(limit_ms / 1000);
    deadline.tv_nsec += static_cast<long>(limit_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) deadline.tv_sec += 1, deadline.tv_nsec -= 1000000000L;
    ended = pthread_clockjoin_np(thread->handle, nullptr, CLOCK_MONOTONIC, &deadline) == 0;
    if (!ended) pthread_detach(thread->handle);
  }
  let_go(thread);
  return ended;
}

void os_thread_detach(os_thread* thread) {
  pthread_detach(thread->handle);
  let_go(thread);
}

int os_file_size(const wchar_t* path, uint64_t* size) {
  utf8_path native(path);
  struct stat info;
  if (!native.ok() || lstat(native.text, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return 0;
  *size = static_cast<uint64_t>(info.st_size);
  return 1;
}

int os_write_all(int fd, const void* bytes, size_t count) {
  const char* at = static_cast<const char*>(bytes);
  while (count > 0) {
    ssize_t written = write(fd, at, count);
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = ENOSPC;
    if (written <= 0) return 0;
    at += written;
    count -= static_cast<size_t>(written);
  }
  return 1;
}

namespace {

// Flushes the folder holding path, so that a new name in it survives a crash.
void sync_parent(const char* path) {
  const char* slash = strrchr(path, '/');
  char* parent = slash == nullptr ? strdup(".") : strndup(path, slash == path ? 1 : static_cast<size_t>(slash - path));
  if (parent == nullptr) return;
  int fd = open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  free(parent);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool sync_file(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

// A test build writes a replacement in two halves, with a crash point between them.
size_t replace_first_part(size_t count) {
#ifdef VORNA380_CRASH_POINTS
  return count / 2;
#else
  (void)count;
  return 0;
#endif
}

int fail(os_failure* failure, int stage, int error) {
  if (failure != nullptr) *failure = {stage, static_cast<uint32_t>(error)};
  return 0;
}

int rename_over(const char* from, const char* to, os_failure* failure) {
  if (rename(from, to) != 0) {
    int error = errno;
    unlink(from);
    return fail(failure, OS_REPLACE_MOVE, error);
  }
  sync_parent(to);
  return 1;
}
}  // namespace

int os_replace_file(const wchar_t* path, const void* bytes, size_t count, os_failure* failure) {
  utf8_path target(path);
  if (!target.ok()) return fail(failure, OS_REPLACE_CREATE, EINVAL);
  char scratch[PATH_MAX];
  if (snprintf(scratch, sizeof scratch, "%s.tmp", target.text) >= static_cast<int>(sizeof scratch)) {
    return fail(failure, OS_REPLACE_CREATE, ENAMETOOLONG);
  }
  int fd = open(scratch, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return fail(failure, OS_REPLACE_CREATE, errno);
  errno = 0;
  const char* text = static_cast<const char*>(bytes);
  size_t first = replace_first_part(count);
  bool written = os_write_all(fd, text, first);
  crash_point_at_file("half-written", path);
  written = written && os_write_all(fd, text + first, count - first) && fsync(fd) == 0;
  int error = errno;
  written = close(fd) == 0 && written;
  if (!written) {
    unlink(scratch);
    return fail(failure, OS_REPLACE_WRITE, error);
  }
  return rename_over(scratch, target.text, failure);
}

int os_move_over(const wchar_t* source, const wchar_t* destination) {
  utf8_path from(source);
  utf8_path to(destination);
  if (!from.ok() || !to.ok() || !sync_file(from.text)) return 0;
  if (rename(from.text, to.text) != 0) return 0;
  sync_parent(to.text);
  return 1;
}

int os_copy_over(const wchar_t* source, const wchar_t* destination) {
  utf8_path from(source);
  utf8_path to(destination);
  if (!from.ok() || !to.ok()) return 0;
  char temporary[PATH_MAX];
  if (snprintf(temporary, sizeof temporary, "%s.copy", to.text) >= static_cast<int>(sizeof temporary)) return 0;
  int in = open(from.text, O_RDONLY | O_CLOEXEC);
  if (in < 0) return 0;
  int out = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0755);
  bool ok = out >= 0;
  static thread_local char buffer[65536];
  while (ok) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    ok = os_write_all(out, buffer, static_cast<size_t>(got));
  }
  close(in);
  if (out >= 0) {
    ok = ok && fchmod(out, 0755) == 0 && fsync(out) == 0;
    ok = close(out) == 0 && ok;
  }
  if (!ok) {
    unlink(temporary);
    return 0;
  }
  crash_point_at_file("copy-written", destination);
  return rename_over(temporary, to.text, nullptr);
}

void os_delete_file(const wchar_t* path) {
  utf8_path native(path);
  if (native.ok()) unlink(native.text);
}

int os_remove_empty_folder(const wchar_t* path) {
  utf8_path native(path);
  return native.ok() && rmdir(native.text) == 0;
}

namespace {
void close_if_open(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// The child's descriptor target: a new pipe whose read end the caller keeps, or /dev/null.
bool plan_stream(posix_spawn_file_actions_t* actions, int target, bool capture, int* read_end, int* write_end) {
  if (!capture) return posix_spawn_file_actions_addopen(actions, target, "/dev/null", O_WRONLY, 0) == 0;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  *read_end = fds[0];
  *write_end = fds[1];
  return posix_spawn_file_actions_adddup2(actions, fds[1], target) == 0;
}

bool plan_streams(posix_spawn_file_actions_t* actions, const os_child_plan* plan, os_child* started, int* output_write,
                  int* errors_write) {
  if (plan->inherit_streams) return true;
  return posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
         plan_stream(actions, 1, plan->capture_output, &started->output, output_write) &&
         plan_stream(actions, 2, plan->capture_errors, &started->errors, errors_write);
}
}  // namespace

int os_spawn(const os_child_plan* plan, os_child* started, int* error) {
  *started = os_child();
  int output_write = -1;
  int errors_write = -1;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  *error = posix_spawn_file_actions_init(&actions);
  if (*error != 0) return 0;
  *error = posix_spawnattr_init(&attributes);
  if (*error != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return 0;
  }
  errno = 0;
  bool planned = plan_streams(&actions, plan, started, &output_write, &errors_write) &&
                 posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0 &&
                 (plan->folder == nullptr || posix_spawn_file_actions_addchdir_np(&actions, plan->folder) == 0) &&
                 (!plan->new_session || posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID) == 0);
  *error = planned ? 0 : (errno != 0 ? errno : ENOMEM);
  if (*error == 0) {
    char* const* environment = plan->environment != nullptr ? plan->environment : environ;
    *error = posix_spawn(&started->pid, plan->program, &actions, &attributes, plan->argv, environment);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close_if_open(&output_write);
  close_if_open(&errors_write);
  if (*error != 0) {
    close_if_open(&started->output);
    close_if_open(&started->errors);
    started->pid = -1;
    return 0;
  }
  return 1;
}

int os_wait_child(pid_t pid, int* status, int* error) {
  pid_t done;
  do {
    done = waitpid(pid, status, 0);
  } while (done < 0 && errno == EINTR);
  if (done < 0) *error = errno;
  return done >= 0;
}

void os_release_child(pid_t pid) {
  static_assert(sizeof(pid_t) <= sizeof(void*), "a process ID fits the thread's context");
  os_thread* reaper = os_thread_start(
      [](void* context) {
        int status = 0;
        int error = 0;
        os_wait_child(static_cast<pid_t>(reinterpret_cast<intptr_t>(context)), &status, &error);
      },
      reinterpret_cast<void*>(static_cast<intptr_t>(pid)));
  if (reaper != nullptr) os_thread_detach(reaper);
}

int os_start_detached(const char* program, char* const argv[], const char* folder, os_child* started, int* error) {
  os_child_plan plan;
  plan.program = program;
  plan.argv = argv;
  plan.folder = folder;
  plan.inherit_streams = true;
  plan.new_session = true;
  return os_spawn(&plan, started, error);
}

int os_wait_child_within(pid_t pid, uint32_t limit_ms, int* status) {
  for (uint32_t waited = 0;; waited += 50) {
    if (waitpid(pid, status, WNOHANG) == pid) return 1;
    if (waited >= limit_ms) return 0;
    os_sleep_ms(50);
  }
}

#ifdef VORNA380_CRASH_POINTS
void crash_now() {
  kill(getpid(), SIGKILL);
  for (;;) pause();
}

void crash_pause() { raise(SIGSTOP); }
#endif

struct os_file {
  int fd;
};

namespace {
os_file* open_written(const wchar_t* path, int mode) {
  utf8_path native(path);
  if (!native.ok()) return nullptr;
  os_file* file = static_cast<os_file*>(malloc(sizeof(os_file)));
  if (file == nullptr) return nullptr;
  file->fd = open(native.text, O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | mode, 0644);
  if (file->fd < 0) {
    free(file);
    return nullptr;
  }
  return file;
}
}  // namespace

os_file* os_create_file(const wchar_t* path) { return open_written(path, O_CREAT | O_TRUNC); }
os_file* os_append_file(const wchar_t* path) { return open_written(path, O_APPEND); }

int os_write_file(os_file* file, const void* bytes, size_t count) {
  return os_write_all(file->fd, static_cast<const char*>(bytes), count);
}

int os_close_file(os_file* file) {
  bool ok = fsync(file->fd) == 0;
  ok = close(file->fd) == 0 && ok;
  free(file);
  return ok;
}

int os_hard_link(const wchar_t* existing, const wchar_t* link) {
  utf8_path from(existing);
  utf8_path to(link);
  return from.ok() && to.ok() && ::link(from.text, to.text) == 0;
}
