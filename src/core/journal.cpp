#include "core/journal.h"

#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"

namespace {
constexpr size_t LINE_UNITS = 2048;
constexpr size_t UTF8_BYTES = 8192;
constexpr size_t ERROR_TEXT_UNITS = 768;
constexpr size_t ERROR_LINE_UNITS = 1280;

bool is_high_surrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
}  // namespace

void write_log_with_path(const wchar_t* prefix, const wchar_t* path) {
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  builder_append(&text, prefix);
  builder_append(&text, path);
  write_log(line);
}

void write_log_with_number(const wchar_t* before, uint64_t number, const wchar_t* after) {
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  builder_append(&text, before);
  builder_append_uint(&text, number, 1);
  builder_append(&text, after);
  write_log(line);
}

void write_log(const wchar_t* message) {
  if (g_log[0] == L'\0') return;
  journal_time now;
  journal_local_time(&now);

  // Room for the line end is kept, so a cut line still ends where it should and the
  // next entry starts on a line of its own.
  wchar_t line[LINE_UNITS];
  text_builder builder = {line, LINE_UNITS - 2, 0};
  builder_append_char(&builder, L'[');
  builder_append_uint(&builder, now.year, 4);
  builder_append_char(&builder, L'-');
  builder_append_uint(&builder, now.month, 2);
  builder_append_char(&builder, L'-');
  builder_append_uint(&builder, now.day, 2);
  builder_append_char(&builder, L' ');
  builder_append_uint(&builder, now.hour, 2);
  builder_append_char(&builder, L':');
  builder_append_uint(&builder, now.minute, 2);
  builder_append_char(&builder, L':');
  builder_append_uint(&builder, now.second, 2);
  builder_append(&builder, L"] ");
  builder_append(&builder, message);
  // Never leave half of a surrogate pair at the cut.
  if (builder.length > 0 && is_high_surrogate(line[builder.length - 1])) line[--builder.length] = L'\0';
  builder.capacity = LINE_UNITS;
  builder_append(&builder, L"\r\n");
  line[LINE_UNITS - 1] = L'\0';

  char bytes[UTF8_BYTES];
  size_t count = wide_to_utf8(line, builder.length, bytes, sizeof bytes);
  if (count == 0) return;
  journal_append(g_log, bytes, static_cast<uint32_t>(count));
}

void log_windows_error(const wchar_t* prefix, uint32_t code) {
  wchar_t text[ERROR_TEXT_UNITS];
  text[0] = L'\0';
  system_error_text(code, text, ERROR_TEXT_UNITS);
  text[ERROR_TEXT_UNITS - 1] = L'\0';

  size_t length = 0;
  while (text[length] != L'\0') ++length;
  while (length > 0) {
    wchar_t last = text[length - 1];
    if (last != L'.' && last != L'\r' && last != L'\n' && last != L' ') break;
    text[--length] = L'\0';
  }

  wchar_t line[ERROR_LINE_UNITS];
  text_builder builder = start_text(line, ERROR_LINE_UNITS);
  builder_append(&builder, prefix);
  builder_append_char(&builder, L' ');
  builder_append_error_code(&builder, code);
  if (length > 0) {
    builder_append(&builder, L": ");
    builder_append(&builder, text);
  }
  builder_append_char(&builder, L'.');
  write_log(line);
}

void builder_append_error_code(text_builder* builder, uint32_t code) {
  builder_append_char(builder, L'(');
  builder_append(builder, k_system_error_label);
  builder_append_char(builder, L' ');
  builder_append_uint(builder, code, 1);
  builder_append_char(builder, L')');
}
