// What each platform half of the core supplies to the portable core files only. Platform
// operations other subsystems call too are declared in the public headers (journal.h,
// status.h, paths.h).
#pragma once

#include <cstdint>

// Journal.
struct journal_time {
  unsigned year, month, day, hour, minute, second;
};
void journal_local_time(journal_time* now);
// One append-only write of the bytes to the file at path (created when missing). Nothing is
// written when the path is a link or anything other than a regular file.
void journal_append(const wchar_t* path, const char* bytes, uint32_t count);
// The system's text for an error code into output (empty when it has none).
void system_error_text(uint32_t code, wchar_t* output, uint32_t capacity);

#ifdef VORNA380_CRASH_POINTS
// Test builds: ends this process at once, as a power cut or a kill would, flushing nothing.
// On Windows the process ends with this exit code.
constexpr uint32_t CRASH_EXIT_CODE = 9;
[[noreturn]] void crash_now();
// Test builds: stops the calling thread until someone outside lets it go on.
void crash_pause();
#endif
