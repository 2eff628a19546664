#include "install/processes.h"

#include <cwchar>

#include "core/journal.h"
#include "core/text.h"

namespace {
constexpr size_t CLOSING_LINE_UNITS = 1024;
// Letter case in paths matters where the separator is '/'.
constexpr bool k_paths_ignore_case = PATH_SEPARATOR == L'\\';

wchar_t fold(wchar_t c) { return (k_paths_ignore_case && c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }
}  // namespace

int image_inside_folder(const wchar_t* image, const wchar_t* folder) {
  size_t n = wcslen(folder);
  if (n == 0 || wcslen(image) <= n) return 0;
  for (size_t i = 0; i < n; ++i) {
    if (fold(image[i]) != fold(folder[i])) return 0;
  }
  return image[n] == PATH_SEPARATOR || image[n] == L'/';
}

void journal_client_process(uint32_t id, const wchar_t* image) {
  wchar_t line[CLOSING_LINE_UNITS];
  text_builder text = start_text(line, CLOSING_LINE_UNITS);
  builder_append(&text, L"Fermeture du processus Vorna380 ");
  builder_append_uint(&text, id, 1);
  builder_append(&text, L" avant activation: ");
  builder_append(&text, image);
  write_log(line);
}
