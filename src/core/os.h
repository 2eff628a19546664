// The operating-system layer: the few primitives every subsystem needs and each port supplies
// once (os_win.cpp, os_posix.cpp). A subsystem's platform half keeps only its own service (the
// vault, HTTP, crypto, drawing, sockets); sleeping, threads, a file's size and replacing a file
// on disk go through here. Results: nonzero is success.
#pragma once

#include <cstddef>
#include <cstdint>

// Sleeps at least this long (interruptions are resumed).
void os_sleep_ms(uint32_t milliseconds);

// The system clock: 100-ns intervals since 1601-01-01 (UTC), leap seconds not counted; 0 when
// it cannot be read.
uint64_t os_system_time_1601();
// A clock that only goes forward, in milliseconds from an unspecified start (for durations).
uint64_t os_monotonic_ms();

// A thread running run(context). Whoever starts one ends it with exactly one of
// os_thread_join or os_thread_detach.
struct os_thread;
os_thread* os_thread_start(void (*run)(void*), void* context);  // null when it cannot start
constexpr uint32_t OS_WAIT_FOREVER = 0xFFFFFFFFu;
// Waits up to limit_ms for the thread to end: 1 when it ended. Either way the handle is
// released; a thread still running then runs on detached.
int os_thread_join(os_thread* thread, uint32_t limit_ms);
void os_thread_detach(os_thread* thread);  // lets go of a running thread; it ends with the process

// The size of the regular file at path, itself no link; 0 when there is none or it is not one.
int os_file_size(const wchar_t* path, uint64_t* size);

// What a failed replacement got to: the temporary file could not be made, not be written or
// flushed whole, or not be moved over the destination. error is the system's code (0 for a
// short write).
enum os_replace_stage { OS_REPLACE_CREATE = 1, OS_REPLACE_WRITE = 2, OS_REPLACE_MOVE = 3 };
struct os_failure {
  int stage;
  uint32_t error;
};

// Replaces the file at path with the bytes so that a crash leaves either the old file or the
// new one whole: the bytes go to the temporary path + ".tmp" beside it, are flushed, and the
// temporary is moved over path, written through (the folder synced on Linux). On failure the
// temporary is removed, path is left as it was and *failure (when given) says why.
int os_replace_file(const wchar_t* path, const void* bytes, size_t count, os_failure* failure);
// Moves the finished file source over destination, replacing it, the same way: source's
// content reaches the disk before its new name does. Source stays where it was on failure.
int os_move_over(const wchar_t* source, const wchar_t* destination);
// Replaces destination with a copy of source (a running program may be the source), so that a
// crash leaves either the old file or the new one whole: a copy beside it (destination +
// ".copy"), flushed, then moved over it, written through.
int os_copy_over(const wchar_t* source, const wchar_t* destination);

// Deletes the file, ignoring the result; removes the folder when it is empty (0 otherwise).
void os_delete_file(const wchar_t* path);
int os_remove_empty_folder(const wchar_t* path);

// A file written from its start, in order (for a download assembled piece by piece).
struct os_file;
// Creates the file or empties the one there (never through a link); null on failure.
os_file* os_create_file(const wchar_t* path);
// Opens the regular file there to write after its last byte (never through a link); null on
// failure.
os_file* os_append_file(const wchar_t* path);
int os_write_file(os_file* file, const void* bytes, size_t count);  // all of them, or 0
// Flushes the file to disk and closes it: 1 when both worked. The handle is gone either way.
int os_close_file(os_file* file);

// A second name for an existing file on the same volume (no copy): 1 on success.
int os_hard_link(const wchar_t* existing, const wchar_t* link);
