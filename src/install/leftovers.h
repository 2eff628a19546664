// What runs leave behind in the launcher root, and its removal: a stale staging folder, the
// update by the file's temporary files, and rollback folders beyond the newest few.
#pragma once

#include <cstddef>
#include <cstdint>

// Rollback folders kept after an activation, the new one included. Each update by the file
// adds a link to every unchanged file (NTFS allows 1,023 per file), and each full one keeps a
// whole client.
constexpr size_t ROLLBACK_FOLDERS_KEPT = 3;

// A stale staging folder is first renamed to "Client.discard.<time>.<pid>", which works even
// where a running game holds files it shares with the active client, and then removed; what
// cannot be removed yet waits for remove_run_leftovers. 1 when nothing is left at staging.
int set_aside_staging(const wchar_t* staging);

// At the start of a run: the temporary files of an interrupted update by the file and the
// folders set aside by earlier runs. Failures are journalled; nothing else is touched.
void remove_run_leftovers();

// Removes every "Client.rollback.*" folder but the newest ROLLBACK_FOLDERS_KEPT (their names
// sort by creation time).
void prune_rollback_folders();
