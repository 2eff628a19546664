#include "core/status.h"
#include "core/window_channel_posix.h"

int post_window_message(window_handle window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  return window->post != nullptr && window->post(window, message, wparam, lparam);
}

void invalidate_window(window_handle window) {
  if (window->invalidate != nullptr) window->invalidate(window);
}
