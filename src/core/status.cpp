#include "core/status.h"

#include <cstdlib>
#include <cwchar>

#include "core/journal.h"

wchar_t g_status_text[STATUS_UNITS] = L"Initialisation securisee...";
int32_t g_ui_state = UI_STATE_WAIT;
std::atomic<int32_t> g_progress_mode{PROGRESS_INDETERMINATE};
std::atomic<int32_t> g_verify_progress_done{0};
std::atomic<int32_t> g_verify_progress_total{0};
uint64_t g_progress_total = 0;
wchar_t g_progress_file[PATH_UNITS];

void set_status(const wchar_t* text) {
  write_log(text);
  post_text(WM_LAUNCHER_STATUS, text);
}

void post_text(unsigned message, const wchar_t* text) {
  size_t units = wcslen(text) + 1;
  wchar_t* copy = static_cast<wchar_t*>(malloc(units * sizeof(wchar_t)));
  if (message == WM_LAUNCHER_ERROR) write_log(text);
  if (copy == nullptr) return;
  wmemcpy(copy, text, units);
  if (g_window == nullptr || !post_window_message(g_window, message, 0, reinterpret_cast<intptr_t>(copy))) {
    free(copy);
  }
}

void set_indeterminate_progress() {
  g_progress_mode.exchange(PROGRESS_INDETERMINATE);
  g_verify_progress_done.exchange(0);
  g_verify_progress_total.exchange(0);
  if (g_window != nullptr) invalidate_window(g_window);
}

void set_download_progress(const wchar_t* file, uint64_t total) {
  size_t units = wcslen(file);
  if (units >= PATH_UNITS) units = PATH_UNITS - 1;
  wmemcpy(g_progress_file, file, units);
  g_progress_file[units] = L'\0';
  g_progress_total = total;
  g_progress_mode.exchange(PROGRESS_DOWNLOAD);
  if (g_window != nullptr) invalidate_window(g_window);
}

void post_ready() {
  if (g_window != nullptr) post_window_message(g_window, WM_LAUNCHER_READY, 0, 0);
}

void post_close() {
  if (g_window != nullptr) post_window_message(g_window, WM_LAUNCHER_CLOSE, 0, 0);
}

void set_verify_progress(int32_t done, int32_t total) {
  if (total < 0) total = 0;
  if (done < 0) done = 0;
  g_verify_progress_total.exchange(total);
  g_verify_progress_done.exchange(done);
  g_progress_mode.exchange(PROGRESS_VERIFY);
  if (g_window != nullptr) invalidate_window(g_window);
}
