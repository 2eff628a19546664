#include "core/text.h"

void copy_text(wchar_t* output, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return;
  text_builder builder = {output, capacity, 0};
  output[0] = L'\0';
  builder_append(&builder, text);
}

text_builder start_text(wchar_t* output, size_t capacity) {
  output[0] = L'\0';
  return {output, capacity, 0};
}

void builder_append_char(text_builder* builder, wchar_t unit) {
  if (builder->length + 1 < builder->capacity) {
    builder->output[builder->length++] = unit;
  }
  builder->output[builder->length] = L'\0';
}

void builder_append(text_builder* builder, const wchar_t* text) {
  size_t room = builder->capacity - 1 - builder->length;
  size_t i = 0;
  for (; i < room && text[i] != L'\0'; ++i) builder->output[builder->length + i] = text[i];
  builder->length += i;
  builder->output[builder->length] = L'\0';
}

void builder_append_uint(text_builder* builder, uint64_t value, int min_digits) {
  wchar_t digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count < min_digits && count < 20) digits[count++] = L'0';
  while (count > 0) builder_append_char(builder, digits[--count]);
}

static wchar_t fold_ascii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

int equal_ignoring_case(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    if (fold_ascii(*a) != fold_ascii(*b)) return 0;
    if (*a == L'\0') return 1;
  }
}
