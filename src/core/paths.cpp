#include "core/paths.h"

#include <cwchar>

#include "core/text.h"

wchar_t g_root[PATH_UNITS];
wchar_t g_client[PATH_UNITS];
wchar_t g_log[PATH_UNITS];
window_handle g_window = nullptr;

int is_path_separator(wchar_t c) { return c == PATH_SEPARATOR || (PATH_SEPARATOR == L'\\' && c == L'/'); }

void join_path(wchar_t* output, const wchar_t* folder, const wchar_t* name) {
  size_t folder_length = 0;
  while (folder[folder_length] != L'\0') ++folder_length;
  bool has_separator = folder_length > 0 && folder[folder_length - 1] == PATH_SEPARATOR;
  text_builder line = {output, PATH_UNITS, 0};
  builder_append(&line, folder);
  if (!has_separator) {
    const wchar_t separator[2] = {PATH_SEPARATOR, L'\0'};
    builder_append(&line, separator);
  }
  builder_append(&line, name);
  output[PATH_UNITS - 1] = L'\0';
}

void to_native_separators(wchar_t* path) {
  const wchar_t foreign = PATH_SEPARATOR == L'\\' ? L'/' : L'\\';
  for (; *path != L'\0'; ++path) {
    if (*path == foreign) *path = PATH_SEPARATOR;
  }
}

size_t folder_part_length(const wchar_t* path) {
  size_t last = 0;
  for (size_t i = 0; path[i] != L'\0'; ++i) {
    if (is_path_separator(path[i])) last = i;
  }
  return last;
}

int is_device_name(const wchar_t* element, size_t length) {
  // The name proper ends at the first dot; spaces before it do not count.
  size_t name = 0;
  while (name < length && element[name] != L'.') ++name;
  while (name > 0 && element[name - 1] == L' ') --name;
  wchar_t folded[8];
  if (name < 3 || name > 7) return 0;
  for (size_t i = 0; i < name; ++i) {
    wchar_t c = element[i];
    folded[i] = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
  }
  auto is = [&](const wchar_t* word) {
    size_t n = 0;
    while (word[n] != L'\0') ++n;
    return n == name && wmemcmp(folded, word, n) == 0;
  };
  if (is(L"CON") || is(L"PRN") || is(L"AUX") || is(L"NUL") || is(L"CONIN$") || is(L"CONOUT$")) return 1;
  if (name != 4 || !(wmemcmp(folded, L"COM", 3) == 0 || wmemcmp(folded, L"LPT", 3) == 0)) return 0;
  wchar_t digit = folded[3];
  return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

int has_device_name(const wchar_t* path, size_t from) {
  const wchar_t* element = path + from;
  for (const wchar_t* p = element;; ++p) {
    if (*p == L'\0' || is_path_separator(*p)) {
      if (is_device_name(element, static_cast<size_t>(p - element))) return 1;
      if (*p == L'\0') return 0;
      element = p + 1;
    }
  }
}
