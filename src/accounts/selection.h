// "selected-account.txt": the platform's reading and writing of its bytes.
#pragma once

#include <cstddef>

constexpr size_t SELECTION_READ_LIMIT = 510;  // bytes read at most: 255 UTF-16 units

// Reads at most limit bytes from the start of the file; the count read, or -1 when the file
// cannot be opened or read.
long read_selection_file(const wchar_t* path, unsigned char* bytes, size_t limit);
// Replaces the file with the bytes (hidden where the system has such an attribute). Failures
// are silent.
void write_selection_file(const wchar_t* path, const unsigned char* bytes, size_t count);
