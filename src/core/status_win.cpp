#include <windows.h>

#include "core/status.h"

int post_window_message(window_handle window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  return PostMessageW(window, message, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam)) != 0;
}

void invalidate_window(window_handle window) { InvalidateRect(window, nullptr, FALSE); }
