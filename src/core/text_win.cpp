#include <windows.h>

#include "core/text.h"

size_t utf8_to_wide(const char* bytes, size_t count, wchar_t* output, size_t capacity) {
  if (count == 0 || capacity == 0 || count > 0x7fffffff) return 0;
  int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(count), output,
                                    static_cast<int>(capacity > 0x7fffffff ? 0x7fffffff : capacity));
  return written > 0 ? static_cast<size_t>(written) : 0;
}

size_t wide_to_utf8(const wchar_t* text, size_t count, char* output, size_t capacity) {
  if (count == 0 || capacity == 0 || count > 0x7fffffff) return 0;
  int written = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), output,
                                    static_cast<int>(capacity > 0x7fffffff ? 0x7fffffff : capacity), nullptr, nullptr);
  return written > 0 ? static_cast<size_t>(written) : 0;
}
