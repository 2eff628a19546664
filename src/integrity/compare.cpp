#include "integrity/compare.h"

#include <cstdlib>

#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "integrity/hash_pool.h"
#include "integrity/verify.h"
#include "trust/digest.h"

namespace {
constexpr size_t PROGRESS_EVERY = 250;
}  // namespace

int compare_listed_files(const wchar_t* folder, const list_entry* entries, size_t count, const file_identity* known,
                         unsigned char* matches, file_identity* identities) {
  hash_pool* pool = start_hash_pool(folder, entries, count, 0, known, identities);
  if (pool == nullptr) return 0;
  int32_t total = count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
  set_verify_progress(0, total);
  for (size_t i = 0; i < count; ++i) {
    unsigned char digest[DIGEST_BYTES];
    matches[i] = 0;
    if (take_digest(pool, i, digest)) {
      wchar_t actual[DIGEST_TEXT_UNITS];
      wchar_t listed[DIGEST_TEXT_UNITS];
      digest_hex(digest, actual);
      for (size_t d = 0; d < 64; ++d) listed[d] = static_cast<wchar_t>(entries[i].line[d]);
      listed[64] = L'\0';
      matches[i] = equal_ignoring_case(actual, listed) ? 1 : 0;
    }
    if (!matches[i]) identities[i].taken = 0;
    if ((i + 1) % PROGRESS_EVERY == 0) set_verify_progress(static_cast<int32_t>(i + 1), total);
  }
  stop_hash_pool(pool);
  set_verify_progress(total, total);
  return 1;
}
