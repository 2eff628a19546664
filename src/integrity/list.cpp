#include "integrity/list.h"

#include <cstdlib>
#include <cstring>

#include "core/paths.h"
#include "core/text.h"
#include "integrity/verify.h"

namespace {
constexpr size_t ENTRY_MINIMUM_BYTES = 67;

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool contains(const char* bytes, size_t length, const char* needle) {
  size_t n = strlen(needle);
  for (size_t i = 0; i + n <= length; ++i) {
    if (memcmp(bytes + i, needle, n) == 0) return true;
  }
  return false;
}
}  // namespace

int32_t list_line_total(const char* text, uint32_t length) {
  int32_t total = 0;
  for (uint32_t i = 0; i < length; ++i) total += text[i] == '\n';
  if (length > 0 && text[length - 1] != '\n') ++total;
  return total;
}

namespace {
// path holds room units; a path that needs more than PATH_UNITS - 1 fails.
int check_entry(const char* line, size_t length, wchar_t listed[DIGEST_TEXT_UNITS], wchar_t* path, size_t room) {
  if (length < ENTRY_MINIMUM_BYTES || line[64] != ' ' || line[65] != ' ') return 0;
  for (int i = 0; i < 64; ++i) {
    if (!is_lower_hex(line[i])) return 0;
    listed[i] = static_cast<wchar_t>(line[i]);
  }
  listed[64] = L'\0';
  const char* raw = line + ENTRY_PATH_OFFSET;
  size_t raw_length = length - ENTRY_PATH_OFFSET;
  if (raw[0] == '/' || raw[0] == '\\') return 0;
  if (memchr(raw, ':', raw_length) != nullptr || contains(raw, raw_length, "../") ||
      contains(raw, raw_length, "..\\")) {
    return 0;
  }
  size_t units = utf8_to_wide(raw, raw_length, path, (room < PATH_UNITS ? room : PATH_UNITS) - 1);
  if (units == 0) return 0;
  path[units] = L'\0';
  return 1;
}
}  // namespace

int parse_list_entry(const char* line, size_t length, wchar_t listed[DIGEST_TEXT_UNITS], wchar_t* path) {
  return check_entry(line, length, listed, path, PATH_UNITS);
}

list_entry* split_list(const char* text, size_t* count, int* malformed) {
  // A path never converts to more units than it has bytes, so the longest line bounds the room
  // the conversions need.
  size_t lines = 1;
  size_t longest = 0;
  for (const char* line = text; *line != '\0';) {
    const char* end = strchr(line, '\n');
    size_t length = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
    if (length > longest) longest = length;
    if (end == nullptr) break;
    ++lines;
    line = end + 1;
  }
  size_t room = longest + 1 < PATH_UNITS ? longest + 1 : PATH_UNITS;
  list_entry* entries = static_cast<list_entry*>(malloc(lines * sizeof(list_entry)));
  wchar_t* path = static_cast<wchar_t*>(malloc(room * sizeof(wchar_t)));
  *count = 0;
  *malformed = 0;
  if (entries == nullptr || path == nullptr) {
    free(entries);
    free(path);
    return nullptr;
  }
  for (const char* line = text; *line != '\0';) {
    const char* end = strchr(line, '\n');
    size_t length = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
    wchar_t listed[DIGEST_TEXT_UNITS];
    if (length > 0) {
      if (!check_entry(line, length, listed, path, room)) {
        *malformed = 1;
        break;
      }
      entries[(*count)++] = {line, length};
    }
    line = end != nullptr ? end + 1 : line + length;
  }
  free(path);
  return entries;
}

char* read_checked_list_file(const wchar_t* path, const wchar_t* expected_digest, uint32_t* length) {
  char* text = read_file(path, INTEGRITY_LIST_LIMIT, length);
  if (text == nullptr) return nullptr;
  unsigned char digest[DIGEST_BYTES];
  wchar_t actual[DIGEST_TEXT_UNITS];
  // The digest is taken from the very bytes the caller then parses.
  if (!sha256_bytes(reinterpret_cast<const unsigned char*>(text), *length, digest)) {
    free(text);
    return nullptr;
  }
  digest_hex(digest, actual);
  if (!equal_ignoring_case(actual, expected_digest)) {
    free(text);
    return nullptr;
  }
  return text;
}
