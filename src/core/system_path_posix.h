// Wide paths meet the Linux system as UTF-8; this owns one converted path. Also the one way
// the Linux build opens a file it reads.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "core/text.h"

struct utf8_path {
  char* text = nullptr;

  explicit utf8_path(const wchar_t* path) : utf8_path(path, wcslen(path)) {}
  // The first units of path only.
  utf8_path(const wchar_t* path, size_t units) {
    size_t capacity = units * 4 + 1;
    text = static_cast<char*>(malloc(capacity));
    if (text == nullptr) return;
    size_t bytes = units == 0 ? 0 : wide_to_utf8(path, units, text, capacity);
    text[bytes] = '\0';
    if (units != 0 && bytes == 0) text[0] = '\0';
  }
  ~utf8_path() { free(text); }
  utf8_path(const utf8_path&) = delete;
  utf8_path& operator=(const utf8_path&) = delete;

  bool ok() const { return text != nullptr && text[0] != '\0'; }
};

// Opens the file at path for reading when it is a regular file reached without a link: the
// first checked_from units name a trusted folder (links there are followed); every element
// after it must be a real folder or, at the end, a regular file, and no device name. The open
// never blocks, so a FIFO, a device or a socket is refused at once. -1 otherwise.
int open_regular_below(const wchar_t* path, size_t checked_from);

// Its two steps, for callers that open many files of one folder. The folder path[0, end) with
// every element after the first checked_from units checked as above: an O_PATH descriptor, -1
// when an element is missing, a link or not a folder.
int open_folder_below(const wchar_t* path, size_t checked_from, size_t end);
// The regular file of that name (one element, UTF-8) in the folder, never through a link and
// never blocking; *size gets its size when size is not null. -1 otherwise.
int open_regular_in(int folder, const char* name, uint64_t* size);
// Where the last element of path starts (checked_from when there is no separator after it).
size_t last_element_at(const wchar_t* path, size_t checked_from);

// The program of that name in the first folder of PATH that holds it as an executable regular
// file. Only absolute folders count: an empty or relative entry would name a folder relative
// to wherever the child starts. The absolute path, to free; null when there is none.
char* find_program(const char* name);
