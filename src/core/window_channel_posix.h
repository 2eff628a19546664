// What the Linux window offers to worker code: the counterpart of PostMessageW and
// InvalidateRect. The window fills these in; g_window points at it once it exists.
#pragma once

#include <cstdint>

struct posix_window {
  // Queues the message for the window thread; nonzero when queued. On success the receiver
  // owns a text passed in lparam.
  int (*post)(posix_window* self, unsigned message, uintptr_t wparam, intptr_t lparam);
  void (*invalidate)(posix_window* self);
};
