// How a player finds and removes the installed launcher, as any desktop program: on Windows the
// Start-menu shortcuts "Vorna380" and "Desinstaller Vorna380" (the shell's link objects in the
// user's Programs folder) and, made on the first installation only, a desktop shortcut; on Linux
// a desktop entry in $XDG_DATA_HOME/applications with an action that uninstalls, and the icon in
// the user's hicolor theme. No registry key and no system folder: everything is the user's.
#pragma once

// At each start of the installed launcher: writes again each entry that is missing or no
// longer what it should be (a shortcut pointing elsewhere, say). The desktop shortcut is made
// only while the root has no "desktop-shortcut.txt", which its making writes, so that one the
// player deleted stays deleted. Failures are journalled; the start goes on. 1 when all is in place.
int ensure_launcher_entries(const wchar_t* installed, const wchar_t* root);
// Removes every entry that points at the installed launcher: 1 when none is left.
int remove_launcher_entries(const wchar_t* installed);
