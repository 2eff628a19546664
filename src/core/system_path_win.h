// The one way the Windows build opens a file it reads.
#pragma once

#include <windows.h>

#include <cstddef>

// The folders on the way to the last file opened, held open for the next file of the same
// folders; for one thread at a time. Null when out of memory. Freeing it closes them.
struct folder_walk;
folder_walk* create_folder_walk();
void free_folder_walk(folder_walk* walk);

// Opens the file at path for reading (GENERIC_READ, sharing FILE_SHARE_READ, OPEN_EXISTING,
// plus flags) when it is a disk file reached without a link: the first checked_from units
// name a trusted folder; every element after it must be a real folder or, at the end, a
// regular file, none a reparse point (symbolic link, junction, ...) and none a device name.
// The folders stay held in walk until the next call with it (without one, until the file is
// open). INVALID_HANDLE_VALUE otherwise.
HANDLE open_regular_below(const wchar_t* path, size_t checked_from, DWORD flags, folder_walk* walk = nullptr);

// 1 when the open handle is a disk file, neither a folder nor a reparse point.
int is_regular_file_handle(HANDLE file);
