// Wide paths meet the Linux system as UTF-8; this owns one converted path.
#pragma once

#include <cstdlib>
#include <cwchar>

#include "core/text.h"

struct utf8_path {
  char* text = nullptr;

  explicit utf8_path(const wchar_t* path) {
    size_t units = wcslen(path);
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
