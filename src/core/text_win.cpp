#include <windows.h>

#include "core/text.h"

// Both conversions measure first: a call into a buffer that is too small may deliver part of
// the text (the first half of a surrogate pair, say) instead of failing.
size_t utf8_to_wide(const char* bytes, size_t count, wchar_t* output, size_t capacity) {
  if (count == 0 || capacity == 0 || count > 0x7fffffff) return 0;
  int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(count), nullptr, 0);
  if (needed <= 0 || static_cast<size_t>(needed) > capacity) return 0;
  int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(count), output, needed);
  return written == needed ? static_cast<size_t>(written) : 0;
}

size_t wide_to_utf8(const wchar_t* text, size_t count, char* output, size_t capacity) {
  if (count == 0 || capacity == 0 || count > 0x7fffffff) return 0;
  int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || static_cast<size_t>(needed) > capacity) return 0;
  int written = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), output, needed, nullptr, nullptr);
  return written == needed ? static_cast<size_t>(written) : 0;
}
