#include "integrity/verify.h"

#include <cstdlib>
#include <cwchar>

#include "core/journal.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "integrity/hash_pool.h"
#include "integrity/list.h"
#include "integrity/overlays.h"
#include "trust/digest.h"
#include "trust/manifest.h"

namespace {
constexpr uint32_t STATUS_EVERY = 250;
constexpr size_t MESSAGE_UNITS = PATH_UNITS + 256;

// Working buffers of one verification, too large for a worker's stack.
struct scratch {
  wchar_t path[PATH_UNITS];  // a listed path, converted, for the journal
  wchar_t full[PATH_UNITS];
  wchar_t message[MESSAGE_UNITS];
};

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

// Takes the entries' digests in list order and judges each; 1 when all were verified. Counts
// verified entries and sets the overlay flags.
// seen: null, or the pool's identities, of which only those of the entries judged to have
// their listed digest are kept; *judged counts the entries judged.
int verify_entries(hash_pool* pool, const list_entry* entries, size_t count, int32_t total, scratch* work,
                   uint32_t* verified, bool flags[OVERLAY_COUNT], file_identity* seen, size_t* judged) {
  for (size_t i = 0; i < count; ++i) {
    *judged = i + 1;
    const list_entry& entry = entries[i];
    wchar_t listed[DIGEST_TEXT_UNITS];
    parse_list_entry(entry.line, entry.length, listed, work->path);
    to_native_separators(work->path);
    unsigned char digest[DIGEST_BYTES];
    if (!take_digest(pool, i, digest)) {
      journal_missing(work);
      return 0;
    }
    wchar_t actual[DIGEST_TEXT_UNITS];
    digest_hex(digest, actual);
    if (!equal_ignoring_case(actual, listed)) {
      if (seen != nullptr) seen[i].taken = 0;
      overlay_kind flag = OVERLAY_NONE;
      const char* raw_path = entry.line + ENTRY_PATH_OFFSET;
      if (!approve_overlay_entry(raw_path, entry.length - ENTRY_PATH_OFFSET, listed, actual, &flag)) {
        journal_refused(work, listed, actual);
        return 0;
      }
      if (flag != OVERLAY_NONE) flags[flag] = true;
    }
    ++*verified;
    if (*verified % STATUS_EVERY == 0) report_progress(work, *verified, total);
  }
  return 1;
}
}  // namespace

void release_file_identities(file_identities* identities) {
  free(identities->items);
  identities->items = nullptr;
  identities->count = 0;
  identities->list_digest[0] = L'\0';
}

const file_identity* identities_for_list(const file_identities* known, const wchar_t* list_digest, size_t count) {
  if (known == nullptr || known->items == nullptr || known->count != count) return nullptr;
  return equal_ignoring_case(known->list_digest, list_digest) ? known->items : nullptr;
}

namespace {
int verify_folder(const wchar_t* folder, const wchar_t* expected_digest, uint32_t threads, const file_identities* known,
                  file_identities* found) {
  scratch* work = static_cast<scratch*>(malloc(sizeof(scratch)));
  if (work == nullptr) {
    if (found != nullptr) release_file_identities(found);
    return 0;
  }
  join_path(work->full, folder, L"client-integrity.sha256");
  uint32_t length = 0;
  char* text = read_checked_list_file(work->full, expected_digest, &length);
  if (text == nullptr) {
    free(work);
    if (found != nullptr) release_file_identities(found);
    return 0;
  }
  int32_t total = list_line_total(text, length);
  set_verify_progress(0, total);

  // Entries after a malformed line are never examined: the pool does not even open them.
  size_t count = 0;
  int malformed = 0;
  list_entry* entries = split_list(text, &count, &malformed);
  // Identities name entries by their place in the list of that digest.
  const file_identity* reused = identities_for_list(known, expected_digest, count);
  file_identity* seen = nullptr;
  if (found != nullptr && entries != nullptr) {
    seen = static_cast<file_identity*>(calloc(count > 0 ? count : 1, sizeof(file_identity)));
  }
  hash_pool* pool = entries != nullptr ? start_hash_pool(folder, entries, count, threads, reused, seen) : nullptr;
  uint32_t verified = 0;
  size_t judged = 0;
  bool flags[OVERLAY_COUNT] = {false, false, false};
  int result = pool != nullptr && verify_entries(pool, entries, count, total, work, &verified, flags, seen, &judged) &&
               !malformed;
  if (pool != nullptr) stop_hash_pool(pool);
  if (found != nullptr) {
    // Files the workers hashed past the first failure were never judged.
    if (seen != nullptr) {
      for (size_t i = judged; i < count; ++i) seen[i].taken = 0;
    }
    release_file_identities(found);  // after the pool: known may be found itself
    if (seen != nullptr) {
      found->items = seen;
      found->count = count;
      copy_text(found->list_digest, DIGEST_TEXT_UNITS, expected_digest);
    }
  }
  free(entries);
  free(text);
  free(work);
  if (!result) return 0;
  set_verify_progress(static_cast<int32_t>(verified), total);

  for (int overlay = 0; overlay < OVERLAY_COUNT; ++overlay) {
    if (flags[overlay] && !overlay_complete(folder, static_cast<overlay_kind>(overlay))) return 0;
  }
  return verified >= MINIMUM_VERIFIED_FILES;
}
}  // namespace

int verify_integrity_with_threads(const wchar_t* folder, const wchar_t* expected_digest, uint32_t threads) {
  return verify_folder(folder, expected_digest, threads, nullptr, nullptr);
}

int verify_integrity_reusing(const wchar_t* folder, const wchar_t* expected_digest, const file_identities* known,
                             file_identities* found) {
  return verify_folder(folder, expected_digest, 0, known, found);
}

int verify_integrity(const wchar_t* folder, const wchar_t* expected_digest) {
  return verify_integrity_with_threads(folder, expected_digest, 0);
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
