#include "core/paths.h"

#include "core/text.h"

wchar_t g_root[PATH_UNITS];
wchar_t g_client[PATH_UNITS];
wchar_t g_log[PATH_UNITS];
window_handle g_window = nullptr;

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
