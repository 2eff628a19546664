// What each platform half of the start-up supplies to startup.cpp.
#pragma once

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
// Starts the installed launcher detached, no arguments, the root as working folder.
int start_installed_launcher(const wchar_t* path, const wchar_t* root);
// The same, then watches it for trial_ms: 1 when it ended with 0 by then, or still runs and
// holds the instance lock; 0 when it could not start, ended with another code, or runs without
// the lock (it is then ended).
int start_and_try_launcher(const wchar_t* path, const wchar_t* root, unsigned trial_ms);
// Waits at most SELF_UPDATE_WAIT_MS for the process to end; 0 when it cannot be watched
// (ended already, or not ours to see).
int wait_for_process_end(unsigned long process_id);
