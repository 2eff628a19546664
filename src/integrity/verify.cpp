#include "integrity/verify.h"

#include <cstdlib>
#include <cstring>

#include "core/journal.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "integrity/overlays.h"
#include "trust/digest.h"
#include "trust/manifest.h"

namespace {
constexpr size_t ENTRY_MINIMUM_BYTES = 67;
constexpr uint32_t STATUS_EVERY = 250;
constexpr size_t MESSAGE_UNITS = PATH_UNITS + 256;

// Working buffers of one verification, too large for a worker's stack.
struct scratch {
  wchar_t path[PATH_UNITS];     // the listed path, converted
  wchar_t full[PATH_UNITS];     // joined to the folder
  wchar_t message[MESSAGE_UNITS];
};

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool contains(const char* bytes, size_t length, const char* needle) {
  size_t n = strlen(needle);
  for (size_t i = 0; i + n <= length; ++i) {
    if (memcmp(bytes + i, needle, n) == 0) return true;
  }
  return false;
}

// Form and path rules of one entry; fills the listed digest and the converted path.
bool parse_entry(const char* line, size_t length, wchar_t listed[DIGEST_TEXT_UNITS], wchar_t* path) {
  if (length < ENTRY_MINIMUM_BYTES || line[64] != ' ' || line[65] != ' ') return false;
  for (int i = 0; i < 64; ++i) {
    if (!is_lower_hex(line[i])) return false;
    listed[i] = static_cast<wchar_t>(line[i]);
  }
  listed[64] = L'\0';
  const char* raw = line + 66;
  size_t raw_length = length - 66;
  if (raw[0] == '/' || raw[0] == '\\') return false;
  if (memchr(raw, ':', raw_length) != nullptr || contains(raw, raw_length, "../") ||
      contains(raw, raw_length, "..\\")) {
    return false;
  }
  size_t units = utf8_to_wide(raw, raw_length, path, PATH_UNITS - 1);
  if (units == 0) return false;
  path[units] = L'\0';
  return true;
}

void journal_missing(scratch* work) {
  text_builder line = {work->message, MESSAGE_UNITS, 0};
  builder_append(&line, L"Fichier client absent ou illisible : ");
  builder_append(&line, work->path);
  write_log(work->message);
}

void journal_refused(scratch* work, const wchar_t* listed, const wchar_t* actual) {
  text_builder line = {work->message, MESSAGE_UNITS, 0};
  builder_append(&line, L"Empreinte client refusee : ");
  builder_append(&line, work->path);
  builder_append(&line, L" (attendu ");
  builder_append(&line, listed);
  builder_append(&line, L", obtenu ");
  builder_append(&line, actual);
  builder_append(&line, L")");
  write_log(work->message);
}

void report_progress(scratch* work, uint32_t count, int32_t total) {
  text_builder line = {work->message, 256, 0};
  builder_append(&line, L"Verification de securite : ");
  builder_append_uint(&line, count, 1);
  builder_append(&line, L" fichiers...");
  set_verify_progress(static_cast<int32_t>(count), total);
  set_status(work->message);
}

// The list is read once; its digest is taken from the very bytes that are then parsed.
char* read_checked_list(const wchar_t* list_path, const wchar_t* expected_digest, uint32_t* length) {
  if (!is_plain_file(list_path)) return nullptr;
  char* text = read_file(list_path, INTEGRITY_LIST_LIMIT, length);
  if (text == nullptr) return nullptr;
  unsigned char digest[DIGEST_BYTES];
  wchar_t actual[DIGEST_TEXT_UNITS];
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

// Scans every entry; 1 when all were verified. Counts verified entries and sets flags.
int verify_entries(const wchar_t* folder, const char* text, int32_t total, scratch* work, uint32_t* count,
                   bool flags[OVERLAY_COUNT]) {
  for (const char* line = text; *line != '\0';) {
    const char* end = strchr(line, '\n');
    size_t length = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
    const char* next = end != nullptr ? end + 1 : line + length;
    if (length == 0) {
      line = next;
      continue;
    }
    wchar_t listed[DIGEST_TEXT_UNITS];
    if (!parse_entry(line, length, listed, work->path)) return 0;
    to_native_separators(work->path);
    join_path(work->full, folder, work->path);
    unsigned char digest[DIGEST_BYTES];
    if (!sha256_file(work->full, digest)) {
      journal_missing(work);
      return 0;
    }
    wchar_t actual[DIGEST_TEXT_UNITS];
    digest_hex(digest, actual);
    if (!equal_ignoring_case(actual, listed)) {
      overlay_kind flag = OVERLAY_NONE;
      if (!approve_overlay_entry(line + 66, length - 66, listed, actual, &flag)) {
        journal_refused(work, listed, actual);
        return 0;
      }
      if (flag != OVERLAY_NONE) flags[flag] = true;
    }
    ++*count;
    if (*count % STATUS_EVERY == 0) report_progress(work, *count, total);
    line = next;
  }
  return 1;
}
}  // namespace

void to_native_separators(wchar_t* path) {
  const wchar_t foreign = PATH_SEPARATOR == L'\\' ? L'/' : L'\\';
  for (; *path != L'\0'; ++path) {
    if (*path == foreign) *path = PATH_SEPARATOR;
  }
}

int verify_integrity(const wchar_t* folder, const wchar_t* expected_digest) {
  scratch* work = static_cast<scratch*>(malloc(sizeof(scratch)));
  if (work == nullptr) return 0;
  join_path(work->full, folder, L"client-integrity.sha256");
  uint32_t length = 0;
  char* text = read_checked_list(work->full, expected_digest, &length);
  if (text == nullptr) {
    free(work);
    return 0;
  }

  int32_t total = 0;
  for (uint32_t i = 0; i < length; ++i) total += text[i] == '\n';
  if (text[length - 1] != '\n') ++total;
  set_verify_progress(0, total);

  uint32_t count = 0;
  bool flags[OVERLAY_COUNT] = {false, false, false};
  int result = verify_entries(folder, text, total, work, &count, flags);
  free(text);
  free(work);
  if (!result) return 0;
  set_verify_progress(static_cast<int32_t>(count), total);

  for (int overlay = 0; overlay < OVERLAY_COUNT; ++overlay) {
    if (flags[overlay] && !overlay_complete(folder, static_cast<overlay_kind>(overlay))) return 0;
  }
  return count >= MINIMUM_VERIFIED_FILES;
}

int run_integrity_check(const wchar_t* folder, const wchar_t* digest) {
  copy_text(g_client, PATH_UNITS, folder);
  copy_text(g_root, PATH_UNITS, folder);
  wchar_t* last_separator = nullptr;
  for (wchar_t* p = g_root; *p != L'\0'; ++p) {
    if (*p == PATH_SEPARATOR) last_separator = p;
  }
  if (last_separator != nullptr) *last_separator = L'\0';
  join_path(g_log, g_root, L"launcher.log");
  if (!valid_hex64(digest)) return 2;
  return verify_integrity(folder, digest) ? 0 : 3;
}
