// UTF-16LE bytes, the form of the password blobs and of "selected-account.txt", to and from the
// process's wide text (UTF-16 on Windows, UTF-32 on Linux).
#pragma once

#include <cstddef>

// Encodes count units of text (no terminator); the number of bytes written, 0 when they do not
// all fit in capacity bytes.
size_t text_to_utf16le(const wchar_t* text, size_t count, unsigned char* output, size_t capacity);

// Decodes size bytes (an odd last byte is dropped) into at most capacity - 1 units and
// terminates; a text that does not fit is cut. Returns the number of units written.
size_t utf16le_to_text(const unsigned char* bytes, size_t size, wchar_t* output, size_t capacity);
