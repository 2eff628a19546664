// libFuzzer entry: arbitrary bytes as an integrity list. The list is split the way the check
// splits it, and every entry it keeps must obey the form and path rules that make it safe to
// join to the client folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/paths.h"
#include "integrity/list.h"
#include "integrity/verify.h"
#include "trust/manifest.h"

namespace {
void check(bool holds) {
  if (!holds) abort();
}

bool has_parent_step(const wchar_t* path) {
  for (const wchar_t* p = path; (p = wcsstr(p, L"..")) != nullptr; ++p) {
    if (p[2] == L'/' || p[2] == L'\\') return true;
  }
  return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > INTEGRITY_LIST_LIMIT) return 0;
  static wchar_t path[PATH_UNITS];
  static wchar_t full[PATH_UNITS];
  char* text = static_cast<char*>(malloc(size + 1));
  if (text == nullptr) return 0;
  memcpy(text, data, size);
  text[size] = '\0';

  int32_t total = list_line_total(text, static_cast<uint32_t>(size));
  size_t count = 0;
  int malformed = 0;
  list_entry* entries = split_list(text, &count, &malformed);
  if (entries != nullptr) {
    const size_t scanned = strlen(text);  // the scan ends at the first zero byte
    check(count <= static_cast<size_t>(total));
    size_t non_empty_lines = 0;
    for (const char* line = text; line < text + scanned;) {
      const char* end = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(text + scanned - line)));
      if (end == nullptr) end = text + scanned;
      non_empty_lines += end > line;
      line = end + 1;
    }
    // Without a malformed line every non-empty line is an entry; with one, the entries stop
    // before it.
    check(malformed ? count < non_empty_lines : count == non_empty_lines);
    const char* previous_end = text;
    for (size_t i = 0; i < count; ++i) {
      const list_entry& entry = entries[i];
      check(entry.line >= previous_end && entry.line + entry.length <= text + scanned);
      check(memchr(entry.line, '\n', entry.length) == nullptr);
      previous_end = entry.line + entry.length;
      wchar_t listed[DIGEST_TEXT_UNITS];
      check(parse_list_entry(entry.line, entry.length, listed, path) == 1);
      check(valid_hex64(listed) == 1);
      check(path[0] != L'\0' && path[0] != L'/' && path[0] != L'\\' && wcschr(path, L':') == nullptr);
      check(!has_parent_step(path) && wcslen(path) < PATH_UNITS);
      // Joined to a folder, the path stays below it.
      to_native_separators(path);
      join_path(full, L"C:\\Client", path);
      check(wcsncmp(full, L"C:\\Client", 9) == 0 && (full[9] == L'\\' || full[9] == L'/'));
      has_device_name(full, 9);
    }
  }
  free(entries);
  free(text);
  return 0;
}
