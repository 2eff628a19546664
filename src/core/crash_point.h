// Named points at which a test copy of the launcher can be stopped dead, to check what a kill
// at that very point leaves on disk and what the next start makes of it. Only code built with
// VORNA380_CRASH_POINTS (the tests' own copies of the core and install libraries) carries
// them; everywhere else a point compiles to nothing, its name included.
#pragma once

#ifdef VORNA380_CRASH_POINTS
// Kills this process at once, with nothing flushed or cleaned up (SIGKILL on Linux,
// TerminateProcess on Windows), when the environment variable VORNA380_CRASH_AT is the name;
// stops it until it is told to go on (SIGSTOP, SIGCONT; the worker thread suspended on
// Windows) when VORNA380_PAUSE_AT is, so that a test can change the disk under it.
void crash_point(const char* name);
// The same for the point "<name>:<the last component of path>", for points inside the core's
// file primitives, which serve several files.
void crash_point_at_file(const char* name, const wchar_t* path);
#else
#define crash_point(name) ((void)0)
#define crash_point_at_file(name, path) ((void)0)
#endif
