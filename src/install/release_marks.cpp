#include "install/release_marks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/platform.h"
#include "trust/manifest.h"

namespace {
constexpr size_t MARKER_BYTES = 256;
constexpr size_t LINE_UNITS = 256;

const wchar_t k_marker[] = L"installed-release.txt";
const wchar_t k_sequence_mark[] = L"release-sequence.txt";

// The path of a mark in g_root, on the heap (a path buffer is too large for a worker's stack).
wchar_t* mark_path(const wchar_t* name) {
  wchar_t* path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (path != nullptr) join_path(path, g_root, name);
  return path;
}

void journal_stage(const wchar_t* what, const os_failure& failure) {
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  if (failure.stage == OS_REPLACE_WRITE && failure.error == 0) {
    builder_append(&text, L"Ecriture incomplete ");
    builder_append(&text, what);
    builder_append(&text, L".");
    write_log(line);
    return;
  }
  // A mark that cannot be made or moved into place was not created.
  builder_append(&text, failure.stage == OS_REPLACE_WRITE ? L"Ecriture " : L"Creation ");
  builder_append(&text, what);
  builder_append(&text, L" impossible");
  log_windows_error(line, failure.error);
}

// Replaces the mark with the bytes; an empty folder in its place goes first when
// clear_empty_folder. Journals the failing stage of the last attempt, "what" naming the mark
// ("du marqueur de version"). 1 on success.
int write_mark(const wchar_t* name, const char* bytes, size_t count, const wchar_t* what, bool clear_empty_folder) {
  wchar_t* path = mark_path(name);
  if (path == nullptr) return 0;
  os_failure failure = {OS_REPLACE_CREATE, 0};
  int written = os_replace_file(path, bytes, count, &failure) ||
                (clear_empty_folder && os_remove_empty_folder(path) && os_replace_file(path, bytes, count, &failure));
  if (!written) journal_stage(what, failure);
  free(path);
  return written;
}
}  // namespace

int release_marker_holds(const wchar_t* version) {
  wchar_t* path = mark_path(k_marker);
  char bytes[MARKER_BYTES];
  size_t count = wide_to_utf8(version, wcslen(version), bytes, MARKER_BYTES - 1);
  uint32_t length = 0;
  char* text = path != nullptr ? read_file(path, MARKER_BYTES, &length) : nullptr;
  int holds = text != nullptr && count != 0 && length == count && memcmp(text, bytes, count) == 0;
  free(text);
  free(path);
  return holds;
}

void write_release_marker(const wchar_t* version) {
  char bytes[MARKER_BYTES];
  size_t count = wide_to_utf8(version, wcslen(version), bytes, MARKER_BYTES - 1);
  if (count == 0) {
    log_windows_error(L"Conversion de la version installee impossible", conversion_error());
  } else if (write_mark(k_marker, bytes, count, L"du marqueur de version", false)) {
    return;
  }
  write_log(L"Avertissement: le client est active mais le marqueur de version n'a pas pu etre ecrit.");
}

int read_sequence_mark(uint64_t* sequence) {
  *sequence = 0;
  wchar_t* path = mark_path(k_sequence_mark);
  if (path == nullptr) return 0;
  uint32_t length = 0;
  char* text = read_file(path, SEQUENCE_MARK_LIMIT, &length);
  int read = 0;
  if (text == nullptr) {
    int is_folder = 0;
    uint32_t error = 0;
    read = !examine_entry(path, &is_folder, &error) && error_means_missing(error);
  } else {
    uint64_t value = 0;
    uint32_t digits = 0;
    while (digits < length && text[digits] >= '0' && text[digits] <= '9' && digits < SEQUENCE_DIGITS_MAX) {
      value = value * 10 + static_cast<uint64_t>(text[digits] - '0');
      ++digits;
    }
    uint32_t end = digits;
    while (end < length && (text[end] == ' ' || text[end] == '\t' || text[end] == '\r' || text[end] == '\n')) ++end;
    free(text);
    if (value != 0 && end == length) {
      *sequence = value;
      read = 1;
    }
  }
  free(path);
  if (!read) write_log(L"Marqueur de sequence illisible: seule une release numerotee est acceptee.");
  return read;
}

void write_sequence_mark(uint64_t sequence) {
  char bytes[SEQUENCE_DIGITS_MAX + 2];
  int count = snprintf(bytes, sizeof bytes, "%llu", static_cast<unsigned long long>(sequence));
  if (!write_mark(k_sequence_mark, bytes, static_cast<size_t>(count), L"du marqueur de sequence", true)) {
    write_log(L"Avertissement: le marqueur de sequence de la release n'a pas pu etre ecrit.");
  }
}
