#include <fcntl.h>
#include <pthread.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "core/system_path_posix.h"
#include "install/install_worker.h"

namespace {
pthread_t g_worker_thread;
bool g_worker_started = false;

void* install_worker(void*) { return reinterpret_cast<void*>(static_cast<intptr_t>(run_install_worker())); }
}  // namespace

int start_install_worker_thread() {
  g_worker_started = pthread_create(&g_worker_thread, nullptr, install_worker, nullptr) == 0;
  return g_worker_started;
}

void close_install_worker_thread() {
  if (g_worker_started) pthread_detach(g_worker_thread);
  g_worker_started = false;
}

int query_free_bytes(const wchar_t* folder, uint64_t* free_bytes) {
  utf8_path native(folder);
  struct statvfs info;
  if (!native.ok() || statvfs(native.text, &info) != 0) return 0;
  *free_bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
  return 1;
}

int write_file_flushed(const wchar_t* path, const char* bytes, uint32_t count) {
  utf8_path native(path);
  int fd = native.ok() ? open(native.text, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644) : -1;
  if (fd < 0) return 0;
  bool written = write(fd, bytes, count) == static_cast<ssize_t>(count) && fsync(fd) == 0;
  close(fd);
  return written ? 1 : 0;
}

int remove_empty_folder(const wchar_t* path) {
  utf8_path native(path);
  return native.ok() && rmdir(native.text) == 0;
}
