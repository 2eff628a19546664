// The one way the Windows build opens a file it reads.
#pragma once

#include <windows.h>

#include <cstddef>

// Opens the file at path for reading (GENERIC_READ, sharing FILE_SHARE_READ, OPEN_EXISTING,
// plus flags) when it is a disk file reached without a link: the first checked_from units
// name a trusted folder; every element after it must be a real folder or, at the end, a
// regular file, none a reparse point (symbolic link, junction, ...) and none a device name.
// INVALID_HANDLE_VALUE otherwise.
HANDLE open_regular_below(const wchar_t* path, size_t checked_from, DWORD flags);

// 1 when the open handle is a disk file, neither a folder nor a reparse point.
int is_regular_file_handle(HANDLE file);
