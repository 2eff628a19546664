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
