// The Linux halves' own OS calls: one way to start a program (with its streams, its
// environment, its working folder and nothing else of the launcher's open files), and one way
// to write a buffer whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct os_child_plan {
  const char* program = nullptr;       // absolute path, started as is (no search, no shell)
  char* const* argv = nullptr;         // argv[0] first, null-terminated
  char* const* environment = nullptr;  // null: the launcher's own
  const char* folder = nullptr;        // working folder; null: the launcher's
  bool capture_output = false;         // standard output into a pipe, else /dev/null
  bool capture_errors = false;         // standard error likewise
  bool inherit_streams = false;        // keeps the launcher's three streams instead
  bool new_session = false;            // the child leads a session of its own
};

struct os_child {
  pid_t pid = -1;
  int output = -1;  // read ends of the captured streams, -1 otherwise; the caller closes them
  int errors = -1;
};

// Starts the plan; every descriptor above 2 is closed in the child. 1 with *started filled;
// 0 with the error number in *error and nothing left open.
int os_spawn(const os_child_plan* plan, os_child* started, int* error);
// Waits for the child to end: 1 with its wait status; 0 with the error number.
int os_wait_child(pid_t pid, int* status, int* error);
// Collects the child's end on a thread of its own, for a child nobody waits for.
void os_release_child(pid_t pid);
// Starts a program that outlives the launcher: a session of its own, the launcher's three
// streams, the folder as working folder. As os_spawn.
int os_start_detached(const char* program, char* const argv[], const char* folder, os_child* started, int* error);
// Waits at most limit_ms for the child to end: 1 with its wait status, 0 while it still runs.
int os_wait_child_within(pid_t pid, uint32_t limit_ms, int* status);

// Writes all count bytes to the descriptor, resuming after interruptions and short writes:
// 1, or 0 when a write failed (errno says why).
int os_write_all(int fd, const void* bytes, size_t count);
