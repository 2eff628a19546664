// Closing the programs started from the active client folder before it is moved aside.
#pragma once

#include <cstdint>

#include "core/paths.h"

constexpr uint32_t CLIENT_PROCESS_EXIT_CODE = 1604;
constexpr uint32_t CLIENT_PROCESS_WAIT_MS = 5000;

// Every process whose executable lies inside g_client, except this one, is ended with a journal
// line. Nothing here fails: what goes wrong is journalled and the activation goes on.
void close_client_processes();

// The steps for one process. A process is held from its match until it is ended, so the process
// ended is always the process matched, even if its ID passes to another process meanwhile.
struct client_process {
  uint32_t id;
  intptr_t handle;  // a process handle (Windows) or a pidfd (Linux)
};
// Opens the process and reads its executable's path into image (PATH_UNITS units). 1 when the
// path lies inside g_client; the process is then held in *process until end_client_process.
int match_client_process(uint32_t id, wchar_t* image, client_process* process);
// Terminates the held process (exit code 1604 where the system has exit codes), waits up to 5 s
// for it to end and releases it. Journals only what went wrong.
void end_client_process(client_process* process);

// 1 when the executable's path lies inside the folder at any depth: longer than the folder,
// starting with it, with a separator right after it. Letter case is ignored where the file
// system ignores it (Windows).
int image_inside_folder(const wchar_t* image, const wchar_t* folder);

// "Fermeture du processus Vorna380 ID avant activation: IMAGE", cut at 1,023 units.
void journal_client_process(uint32_t id, const wchar_t* image);
