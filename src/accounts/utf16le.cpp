#include "accounts/utf16le.h"

#include <cstdint>

namespace {
void put_unit(unsigned char* output, size_t at, uint32_t unit) {
  output[at] = static_cast<unsigned char>(unit & 0xFF);
  output[at + 1] = static_cast<unsigned char>(unit >> 8);
}
}  // namespace

size_t text_to_utf16le(const wchar_t* text, size_t count, unsigned char* output, size_t capacity) {
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t code = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 || code < 0x10000) {
      if (code > 0xFFFF) code = 0xFFFD;
      if (at + 2 > capacity) return 0;
      put_unit(output, at, code);
      at += 2;
    } else {
      if (code > 0x10FFFF) code = 0xFFFD;
      if (code > 0xFFFF) {
        if (at + 4 > capacity) return 0;
        code -= 0x10000;
        put_unit(output, at, 0xD800 + (code >> 10));
        put_unit(output, at + 2, 0xDC00 + (code & 0x3FF));
        at += 4;
      } else {
        if (at + 2 > capacity) return 0;
        put_unit(output, at, code);
        at += 2;
      }
    }
  }
  return at;
}

size_t utf16le_to_text(const unsigned char* bytes, size_t size, wchar_t* output, size_t capacity) {
  if (capacity == 0) return 0;
  size_t units = size / 2;
  size_t written = 0;
  for (size_t i = 0; i < units && written + 1 < capacity; ++i) {
    uint32_t unit = bytes[2 * i] | (static_cast<uint32_t>(bytes[2 * i + 1]) << 8);
    // Where wide text is UTF-32, a surrogate pair becomes one character; a lone surrogate stays
    // as it is (it becomes U+FFFD wherever the text is converted to UTF-8).
    if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
      uint32_t next = bytes[2 * i + 2] | (static_cast<uint32_t>(bytes[2 * i + 3]) << 8);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    output[written++] = static_cast<wchar_t>(unit);
  }
  output[written] = L'\0';
  return written;
}
