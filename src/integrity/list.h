// The integrity list's text: its entries, their form and their path rules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trust/digest.h"

// One non-empty line of the list, without its line feed.
struct list_entry {
  const char* line;
  size_t length;
};

// Bytes 0-63 of an entry are its digest, 64-65 two spaces; the path follows.
constexpr size_t ENTRY_PATH_OFFSET = 66;

// The progress total: the list's line feeds, plus one when its last byte is not a line feed.
int32_t list_line_total(const char* text, uint32_t length);

// Checks the form and path rules of one entry in their documented order; 1 when all hold, with
// the listed digest and the path converted from UTF-8 (path holds PATH_UNITS units).
int parse_list_entry(const char* line, size_t length, wchar_t listed[DIGEST_TEXT_UNITS], wchar_t* path);

// The entries of the zero-terminated text in list order, up to its first zero byte or its first
// malformed line, after which *malformed is 1 (0 otherwise). A malloc'd array of *count
// entries pointing into text; null when out of memory.
list_entry* split_list(const char* text, size_t* count, int* malformed);

// The list file read whole (at most INTEGRITY_LIST_LIMIT bytes, zero-terminated) when its
// SHA-256 is the expected digest; null otherwise. The caller frees it.
char* read_checked_list_file(const wchar_t* path, const wchar_t* expected_digest, uint32_t* length);
