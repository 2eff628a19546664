// On Linux a wide unit is one Unicode code point (wchar_t is 32 bits wide).
#include "core/text.h"

size_t utf8_to_wide(const char* bytes, size_t count, wchar_t* output, size_t capacity) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
  size_t written = 0;
  size_t i = 0;
  while (i < count) {
    unsigned char lead = in[i];
    uint32_t code;
    size_t extra;
    uint32_t minimum;
    if (lead < 0x80) {
      code = lead, extra = 0, minimum = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      code = lead & 0x1F, extra = 1, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      code = lead & 0x0F, extra = 2, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      code = lead & 0x07, extra = 3, minimum = 0x10000;
    } else {
      return 0;
    }
    if (extra > count - i - 1) return 0;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = in[i + k];
      if ((next & 0xC0) != 0x80) return 0;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (written >= capacity) return 0;
    output[written++] = static_cast<wchar_t>(code);
    i += extra + 1;
  }
  return written;
}

size_t wide_to_utf8(const wchar_t* text, size_t count, char* output, size_t capacity) {
  size_t written = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t code = static_cast<uint32_t>(text[i]);
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    unsigned char encoded[4];
    size_t length;
    if (code < 0x80) {
      encoded[0] = static_cast<unsigned char>(code), length = 1;
    } else if (code < 0x800) {
      encoded[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
      encoded[1] = static_cast<unsigned char>(0x80 | (code & 0x3F)), length = 2;
    } else if (code < 0x10000) {
      encoded[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
      encoded[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      encoded[2] = static_cast<unsigned char>(0x80 | (code & 0x3F)), length = 3;
    } else {
      encoded[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
      encoded[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
      encoded[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
      encoded[3] = static_cast<unsigned char>(0x80 | (code & 0x3F)), length = 4;
    }
    if (length > capacity - written) return 0;
    for (size_t k = 0; k < length; ++k) output[written++] = static_cast<char>(encoded[k]);
  }
  return written;
}
