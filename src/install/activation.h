// Activation of a verified staging folder as the active client, with rollback.
#pragma once

#include <cstdint>

#include "core/paths.h"
#include "install/release_marks.h"

constexpr size_t FAILURE_TEXT_UNITS = 1024;
constexpr uint32_t MOVE_ATTEMPTS = 24;
constexpr uint32_t MOVE_RETRY_PAUSE_MS = 250;
constexpr size_t ROLLBACK_NAME_UNITS = 128;

// Closes the programs running from g_client, moves g_client aside into a rollback folder in
// g_root, moves the staging folder into place and moves the old client back if that fails.
// 1 on success (the old client, if any, stays in its rollback folder); 0 with the text for the
// user in failure (at most 1,023 units). Never leaves the old client anywhere but in g_client
// or in a rollback folder named in the journal. shares_files: the staging folder was built by
// the update by the file, so its unchanged files are hard links to the old client's, and the
// rollback folder is no copy of its own (the journal says so).
int activate_staged_client(const wchar_t* staging, wchar_t failure[FAILURE_TEXT_UNITS], int shares_files = 0);

// Renames source to destination, never replacing an existing destination, retrying up to 24
// times, 250 ms apart, while the error means the entry is busy or locked. 1 with *error 0 on
// success; 0 with the last error and one journal line with the label otherwise.
int move_directory_with_retry(const wchar_t* source, const wchar_t* destination, const wchar_t* label, uint32_t* error);

// "Client.rollback.HHHHHHHHLLLLLLLL.PID" from a time in 100-ns intervals since 1601 (UTC).
void rollback_name(uint64_t system_time, uint32_t process_id, wchar_t name[ROLLBACK_NAME_UNITS]);
