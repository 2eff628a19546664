// The launcher window with the real accounts behind it, the way the interactive start runs it
// (selected account loaded, bridge started before the window, stopped after it), without the
// instance lock, the self-installation and the install worker: a small worker only reports the
// client verified and the window ready. The play tests drive it from outside.
//   accounts_window ROOT        (client folder ROOT/Client, journal ROOT/launcher.log)
#pragma once

int run_accounts_window(int argc, wchar_t** argv);
