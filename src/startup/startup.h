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

// The process identifier as the C library reads it in base 10: leading white space and a sign
// are accepted, reading stops at the first other character, no digits give 0.
unsigned long parse_process_id(const wchar_t* text);

constexpr unsigned SELF_UPDATE_WAIT_MS = 30000;
constexpr unsigned SELF_UPDATE_PAUSE_MS = 1500;
constexpr unsigned LAUNCHER_TRIAL_MS = 10000;
