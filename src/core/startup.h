// The interactive start (one launcher per session, installed into the profile, window,
// workers, shutdown) and the --apply-self-update mode.
#pragma once

#include <cstdint>

// Exit codes: 0 after a normal close, when another launcher runs or after a relaunch of the
// installed copy; 1 when installing, relaunching, the graphics or the window failed.
int run_interactive_start();
// --apply-self-update PID: waits for the process (at most 30 s; 1.5 s pause without one),
// copies the running executable over the installed launcher and starts it. 0 when started,
// 2 without the executable's path or the data folder, 3 when the root or the copy fails,
// 4 when the copy cannot be started.
int run_self_update(const wchar_t* process_id);

// The process identifier as the C library reads it in base 10: leading white space and a sign
// are accepted, reading stops at the first other character, no digits give 0.
unsigned long parse_process_id(const wchar_t* text);

constexpr unsigned SELF_UPDATE_WAIT_MS = 30000;
constexpr unsigned SELF_UPDATE_PAUSE_MS = 1500;

// Platform halves (startup_win.cpp, startup_posix.cpp).
extern const wchar_t k_installed_launcher_name[];
// The session's instance lock: 1 when this process now holds it, 0 when another launcher
// holds it (or it cannot be made).
int take_instance_lock();
void release_instance_lock();  // gives the lock up and closes it
void close_instance_lock();    // closes it; the lock ends with the process
// Full path of the running executable / the user's data folder; 0 on failure.
int running_executable_path(wchar_t* path);
int user_data_folder(wchar_t* folder);
// Nonzero when the running executable (at running) is the installed launcher: on Windows the
// two paths are equal ignoring case; on Linux they are one file (device and inode).
int same_launcher_path(const wchar_t* running, const wchar_t* installed);
// Copies the executable over the installed launcher, overwriting; nonzero on success.
int copy_launcher(const wchar_t* from, const wchar_t* to);
// Starts the installed launcher detached, no arguments, the root as working folder.
int start_installed_launcher(const wchar_t* path, const wchar_t* root);
// Waits at most SELF_UPDATE_WAIT_MS for the process to end; 0 when it cannot be watched
// (ended already, or not ours to see).
int wait_for_process_end(unsigned long process_id);
void pause_ms(unsigned milliseconds);
// The install worker thread: 1 when started. The handle is only closed, never waited for.
int start_install_worker_thread();
void close_install_worker_thread();
