// The interactive start (one launcher per session, installed into the profile, window,
// workers, shutdown) and the --apply-self-update mode.
#pragma once

#include <cstdint>

// Exit codes: 0 after a normal close, when another launcher runs or after a relaunch of the
// installed copy; 1 when installing, relaunching, the graphics or the window failed.
int run_interactive_start();
// --apply-self-update PID: waits for the process (at most 30 s; 1.5 s pause without one), puts
// the running executable in the installed launcher's place (the replaced one kept as the
// previous copy, each file written beside and moved over) and starts it, then watches it for
// LAUNCHER_TRIAL_MS. One that ends with a failure by then, or runs without the instance lock,
// is replaced by the previous copy again, which is started, and its digest is refused for
// later updates. 0 when started and taken over, 2 without the executable's path or the data
// folder, 3 when the root or the copy fails, 4 when the copy cannot be started, 5 when it
// failed and the previous launcher was put back.
int run_self_update(const wchar_t* process_id);

// --uninstall [--remove-accounts]: no window. Closes a running launcher (and a game started
// from the client), removes the Start-menu and desktop shortcuts or the desktop entry and its
// icons, and the launcher root, never following a link out of it; with --remove-accounts also
// every account of the launcher in the vault. Exit codes: 0 when all is removed; 2 without the
// executable's path or the data folder; 3 when a running launcher could not be closed (nothing
// removed); 4 when something could not be removed (journalled in what is left of the root;
// running it again goes on).
int run_uninstall(int remove_accounts);

// The process identifier as the C library reads it in base 10: leading white space and a sign
// are accepted, reading stops at the first other character, no digits give 0.
unsigned long parse_process_id(const wchar_t* text);

constexpr unsigned SELF_UPDATE_WAIT_MS = 30000;
constexpr unsigned SELF_UPDATE_PAUSE_MS = 1500;
constexpr unsigned LAUNCHER_TRIAL_MS = 10000;
