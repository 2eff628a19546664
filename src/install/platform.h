// What each platform half of the install subsystem supplies to its portable files.
#pragma once

#include <cstdint>

// Activation. One rename that never replaces the destination: 1 on success, else 0 with the
// system's error.
int rename_entry_once(const wchar_t* source, const wchar_t* destination, uint32_t* error);
// Errors that mean "busy or locked" and are worth another attempt.
int move_error_is_retryable(uint32_t error);
// What is at path: 1 with *is_folder set when something is there; 0 with *error otherwise.
int examine_entry(const wchar_t* path, int* is_folder, uint32_t* error);
// Errors of examine_entry that mean nothing is at the path.
int error_means_missing(uint32_t error);
// This process's ID.
uint32_t own_process_id();

// Launcher update. Lets the file be run as a program (Linux: mode 0755; nothing on Windows).
int make_launcher_runnable(const wchar_t* path);
// Starts program with "--apply-self-update" and the identifier, the root as working folder,
// and watches it for HANDOVER_WATCH_MS: 1 when it still runs then (it waits for this process
// to end); 0, journalled, when it could not start or ended before.
int start_launcher_update(const wchar_t* program, uint32_t process_id);
// Error code for a version that does not convert to UTF-8.
uint32_t conversion_error();

// Install worker: bytes free to the caller on the volume of the folder (0 when the query fails).
int query_free_bytes(const wchar_t* folder, uint64_t* free_bytes);

// Leftovers. Removes path and everything below it, read-only entries included; a link or a
// junction inside is removed itself, never followed. 1 when nothing is left (or nothing was
// there); else 0 with the first error, the rest removed as far as it could be.
int remove_tree(const wchar_t* path, uint32_t* error);
// Calls visit with the name of each entry of folder whose name starts with prefix: 0 when the
// folder cannot be read.
int visit_entries(const wchar_t* folder, const wchar_t* prefix, void (*visit)(const wchar_t* name, void* context),
                  void* context);
