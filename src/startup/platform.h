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

// The desktop entries (entries.cpp). Each write replaces an entry that is missing or differs
// and journals what fails; each remove leaves what is not the installed launcher's.
// Start-menu shortcuts (Windows), or the desktop entry and its icons (Linux).
int write_menu_entries(const wchar_t* installed, const wchar_t* root);
int remove_menu_entries(const wchar_t* installed);
// The desktop shortcut (Windows; Linux has none and succeeds).
int write_desktop_shortcut(const wchar_t* installed, const wchar_t* root);
int remove_desktop_shortcut(const wchar_t* installed);

// The uninstall. Asks a running launcher to close, then ends it if it has not within
// timeout_ms: 1 when this process now holds the instance lock.
int close_running_launcher(unsigned timeout_ms);
// Moves the running executable out of the root when it lies inside it (Windows cannot delete
// a running program; Linux can and does nothing here): 1 when it is out or was never in.
int move_running_executable_out(const wchar_t* executable, const wchar_t* root);
