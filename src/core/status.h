// Status texts, fatal errors and progress, passed from worker code to the window.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/paths.h"

// Window messages (WM_APP + n). Texts travel as malloc'd copies the receiver frees.
constexpr unsigned WM_LAUNCHER_STATUS = 0x8001;
constexpr unsigned WM_LAUNCHER_ERROR = 0x8002;
constexpr unsigned WM_LAUNCHER_READY = 0x8003;
constexpr unsigned WM_LAUNCHER_CLOSE = 0x8004;

constexpr int32_t UI_STATE_WAIT = 0;
constexpr int32_t UI_STATE_READY = 1;
constexpr int32_t UI_STATE_ERROR = 2;

constexpr int32_t PROGRESS_INDETERMINATE = 0;
constexpr int32_t PROGRESS_DOWNLOAD = 1;
constexpr int32_t PROGRESS_VERIFY = 2;

constexpr size_t STATUS_UNITS = 2048;

// Written only on the window thread.
extern wchar_t g_status_text[STATUS_UNITS];
extern int32_t g_ui_state;

// Written atomically by workers, read by the painting. Counters are stored before the mode
// when a mode with figures is entered, and after it when the mode is left.
extern std::atomic<int32_t> g_progress_mode;
extern std::atomic<int32_t> g_verify_progress_done;
extern std::atomic<int32_t> g_verify_progress_total;
// Plain values published by the later store of PROGRESS_DOWNLOAD into g_progress_mode.
extern uint64_t g_progress_total;
extern wchar_t g_progress_file[PATH_UNITS];

// Journals the text, then posts it to the window as WM_LAUNCHER_STATUS.
void set_status(const wchar_t* text);
// Posts a heap copy of the text; WM_LAUNCHER_ERROR texts are journalled here.
void post_text(unsigned message, const wchar_t* text);
void set_indeterminate_progress();
// Download progress: the window measures the growing file against total. The file and total
// are stored before the mode that publishes them.
void set_download_progress(const wchar_t* file, uint64_t total);
// The worker's last word: posts WM_LAUNCHER_READY to the window.
void post_ready();
// The worker handed over to another launcher: posts WM_LAUNCHER_CLOSE, which ends this one.
void post_close();
// Negative figures are stored as 0.
void set_verify_progress(int32_t done, int32_t total);

// Post to the window (nonzero when the window took the message), and ask the window to repaint
// without erasing. Supplied by each platform half.
int post_window_message(window_handle window, unsigned message, uintptr_t wparam, intptr_t lparam);
void invalidate_window(window_handle window);
