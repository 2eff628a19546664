#include <windows.h>
#include <psapi.h>

#include "core_test_platform.h"
#include "core/status.h"

shared_file_holder::shared_file_holder(const std::wstring& path) {
  handle = reinterpret_cast<intptr_t>(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}
shared_file_holder::~shared_file_holder() {
  if (held()) CloseHandle(reinterpret_cast<HANDLE>(handle));
}
bool shared_file_holder::held() const { return reinterpret_cast<HANDLE>(handle) != INVALID_HANDLE_VALUE; }

uint32_t described_error_code() { return ERROR_FILE_NOT_FOUND; }
bool system_texts_end_with_full_stop() { return true; }

std::wstring raw_system_error_text(uint32_t code) {
  wchar_t text[768];
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 768, nullptr);
  return std::wstring(text, length);
}

std::vector<uint32_t> undescribed_error_codes() { return {0x2FFFFFFFu}; }

namespace {
const wchar_t k_class[] = L"Vorna380CoreTestWindow";

LRESULT CALLBACK test_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}
}  // namespace

window_handle open_test_window() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = test_window_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = k_class;
  RegisterClassExW(&window_class);  // fails harmlessly when already registered
  // A hidden top-level window has an update region to observe; without a display none can be
  // made, and a message-only window still receives the posts.
  HWND window =
      CreateWindowExW(0, k_class, L"", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) {
    window = CreateWindowExW(0, k_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  return window;
}

std::vector<posted_message> take_posted_messages(window_handle window) {
  std::vector<posted_message> taken;
  MSG message;
  // Only the application range: WM_PAINT would come back for as long as the window is invalid.
  while (PeekMessageW(&message, window, WM_APP, 0xBFFF, PM_REMOVE)) {
    taken.push_back({message.message, static_cast<uintptr_t>(message.wParam), static_cast<intptr_t>(message.lParam)});
  }
  return taken;
}

int take_repaint_requests(window_handle window) {
  // A message-only window never has anything to repaint.
  if (!(GetWindowLongW(window, GWL_STYLE) & WS_POPUP)) return -1;
  RECT area;
  int requested = GetUpdateRect(window, &area, FALSE) ? 1 : 0;
  ValidateRect(window, nullptr);
  return requested;
}

void destroy_test_window(window_handle window) { DestroyWindow(window); }

void release_test_window(window_handle window) {
  if (IsWindow(window)) DestroyWindow(window);
}

size_t process_private_bytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters)) {
    return 0;
  }
  // Wine leaves PrivateUsage at 0; the page-file usage is the same commit charge.
  return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}
