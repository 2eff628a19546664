#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "core_test_platform.h"
#include "core/window_channel_posix.h"
#include "support/test_support.h"

shared_file_holder::shared_file_holder(const std::wstring& path) {
  handle = open(to_utf8(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}
shared_file_holder::~shared_file_holder() {
  if (held()) close(static_cast<int>(handle));
}
bool shared_file_holder::held() const { return handle >= 0; }

uint32_t described_error_code() { return ENOENT; }
bool system_texts_end_with_full_stop() { return false; }

std::wstring raw_system_error_text(uint32_t code) {
  if (strerrorname_np(static_cast<int>(code)) == nullptr) return {};
  return from_utf8(strerror(static_cast<int>(code)));
}

// 99999 is no errno; a code above 0x7fffffff is not even an int.
std::vector<uint32_t> undescribed_error_codes() { return {99999u, 0x80000001u}; }

namespace {
// The recording window: posts are queued here until the test takes them.
struct recording_window {
  posix_window base;
  std::mutex lock;
  std::vector<posted_message> posted;
  int repaints = 0;
  bool destroyed = false;
};

recording_window* recorder(window_handle window) { return reinterpret_cast<recording_window*>(window); }

int record_post(posix_window* self, unsigned message, uintptr_t wparam, intptr_t lparam) {
  recording_window* window = recorder(self);
  std::lock_guard<std::mutex> guard(window->lock);
  if (window->destroyed) return 0;
  window->posted.push_back({message, wparam, lparam});
  return 1;
}

void record_invalidate(posix_window* self) {
  recording_window* window = recorder(self);
  std::lock_guard<std::mutex> guard(window->lock);
  if (!window->destroyed) ++window->repaints;
}
}  // namespace

window_handle open_test_window() {
  auto* window = new recording_window;
  window->base.post = record_post;
  window->base.invalidate = record_invalidate;
  return &window->base;
}

std::vector<posted_message> take_posted_messages(window_handle window) {
  std::lock_guard<std::mutex> guard(recorder(window)->lock);
  std::vector<posted_message> taken;
  taken.swap(recorder(window)->posted);
  return taken;
}

int take_repaint_requests(window_handle window) {
  std::lock_guard<std::mutex> guard(recorder(window)->lock);
  int count = recorder(window)->repaints;
  recorder(window)->repaints = 0;
  return count;
}

void destroy_test_window(window_handle window) {
  std::lock_guard<std::mutex> guard(recorder(window)->lock);
  recorder(window)->destroyed = true;
}

void release_test_window(window_handle window) { delete recorder(window); }

size_t process_private_bytes() {
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  int read = fscanf(statm, "%lu %lu", &size, &resident);
  fclose(statm);
  return read == 2 ? resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}
