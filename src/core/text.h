// Bounded wide-text helpers and the UTF-8 conversions used where text meets files and the system.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies at most capacity - 1 units of text and terminates; longer text is cut silently.
void copy_text(wchar_t* output, size_t capacity, const wchar_t* text);

// Appends into a fixed buffer, keeping it terminated and cutting silently at capacity - 1.
struct text_builder {
  wchar_t* output;
  size_t capacity;
  size_t length;
};
// An empty builder over output (capacity at least 1).
text_builder start_text(wchar_t* output, size_t capacity);
void builder_append(text_builder* builder, const wchar_t* text);
void builder_append_char(text_builder* builder, wchar_t unit);
// Decimal, left-padded with zeros to at least min_digits.
void builder_append_uint(text_builder* builder, uint64_t value, int min_digits);

// ASCII case-insensitive equality of two terminated wide strings.
int equal_ignoring_case(const wchar_t* a, const wchar_t* b);

// Strict UTF-8 decoding of count bytes: number of wide units written (no terminator added),
// 0 when the bytes are not valid UTF-8 or need more than capacity units.
size_t utf8_to_wide(const char* bytes, size_t count, wchar_t* output, size_t capacity);

// UTF-8 encoding of count units (a unit that cannot be encoded becomes U+FFFD): number of
// bytes written (no terminator added), 0 when the output is too small.
size_t wide_to_utf8(const wchar_t* text, size_t count, char* output, size_t capacity);
