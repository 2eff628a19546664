// The Linux desktop entry's text, for its tests.
#pragma once

#include <cstddef>

// The entry (UTF-8) that starts installed in root and, as its action, uninstalls: the number of
// bytes written into out before its terminating zero; 0 when a path holds a character an entry
// cannot carry (a control character) or out is too small.
size_t linux_desktop_entry(const char* installed, const char* root, char* out, size_t size);
