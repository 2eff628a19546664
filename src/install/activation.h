// Activation of a verified staging folder as the active client, with rollback, and the
// release marker written after it.
#pragma once

#include <cstdint>

#include "core/paths.h"

constexpr size_t FAILURE_TEXT_UNITS = 1024;
constexpr uint32_t MOVE_ATTEMPTS = 24;
constexpr uint32_t MOVE_RETRY_PAUSE_MS = 250;
constexpr size_t ROLLBACK_NAME_UNITS = 128;

// Closes the programs running from g_client, moves g_client aside into a rollback folder in
// g_root, moves the staging folder into place and moves the old client back if that fails.
// 1 on success (the old client, if any, stays in its rollback folder for good); 0 with the
// text for the user in failure (at most 1,023 units). Never leaves the old client anywhere but
// in g_client or in a rollback folder named in the journal.
int activate_staged_client(const wchar_t* staging, wchar_t failure[FAILURE_TEXT_UNITS]);

// Writes the version, in UTF-8 without line end, into "installed-release.txt" in g_root.
// Failures only write journal lines.
void write_release_marker(const wchar_t* version);

// Renames source to destination, never replacing an existing destination, retrying up to 24
// times, 250 ms apart, while the error means the entry is busy or locked. 1 with *error 0 on
// success; 0 with the last error and one journal line with the label otherwise.
int move_directory_with_retry(const wchar_t* source, const wchar_t* destination, const wchar_t* label,
                              uint32_t* error);

// "Client.rollback.HHHHHHHHLLLLLLLL.PID" from a time in 100-ns intervals since 1601 (UTC).
void rollback_name(uint64_t system_time, uint32_t process_id, wchar_t name[ROLLBACK_NAME_UNITS]);

// Platform halves of the activation.
// One rename that never replaces the destination: 0 on success, else the system's error.
uint32_t rename_entry_once(const wchar_t* source, const wchar_t* destination);
// Errors that mean "busy or locked" and are worth another attempt.
int move_error_is_retryable(uint32_t error);
void pause_milliseconds(uint32_t milliseconds);
// What is at path: 1 with *is_folder set when something is there; 0 with *error otherwise.
int examine_entry(const wchar_t* path, int* is_folder, uint32_t* error);
// Errors of examine_entry that mean nothing is at the path.
int error_means_missing(uint32_t error);
// Current time in 100-ns intervals since 1601 (UTC), and this process's ID.
uint64_t system_time_1601();
uint32_t own_process_id();
// The release marker file: written whole in one call. 0 on failure, with *error (0 when the
// write was merely short) and *stage (1 create, 2 write).
int write_marker_file(const wchar_t* path, const char* bytes, uint32_t count, int* stage, uint32_t* error);
// Error code for a version that does not convert to UTF-8.
uint32_t conversion_error();
