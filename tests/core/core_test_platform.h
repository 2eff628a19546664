// Platform pieces of the core tests: files held open by a second handle, the system's error
// texts, a window that receives the status channel's posts, and the process's memory use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/paths.h"

// Holds the file open for reading and writing while letting others read and write it too.
struct shared_file_holder {
  explicit shared_file_holder(const std::wstring& path);
  ~shared_file_holder();
  bool held() const;
  intptr_t handle;
};

// An error code the system describes (ERROR_FILE_NOT_FOUND / ENOENT), and whether this
// system's texts come with a final ".\r\n" (Windows) or bare (the C library).
uint32_t described_error_code();
bool system_texts_end_with_full_stop();
// The system's own text for the code, untouched (empty when it has none).
std::wstring raw_system_error_text(uint32_t code);
// Codes the system has no text for.
std::vector<uint32_t> undescribed_error_codes();

// A window on the calling thread that records what the status channel sends it.
struct posted_message {
  unsigned message;
  uintptr_t wparam;
  intptr_t lparam;
};
window_handle open_test_window();
// The launcher messages posted since the last call, in order of arrival.
std::vector<posted_message> take_posted_messages(window_handle window);
// Nonzero when a repaint was requested since the last call (on Linux: how many times); -1 when
// this window cannot show it (under Wine without a display only a message-only window exists).
int take_repaint_requests(window_handle window);
// After this, posts to the window fail (it is destroyed); the handle stays valid to pass on.
void destroy_test_window(window_handle window);
// Releases what is left of a window from open_test_window (after destroy_test_window or not).
void release_test_window(window_handle window);

// Memory the process holds privately, in bytes (0 when unknown).
size_t process_private_bytes();
