#include "transfer/download.h"

#include <cstring>

#include "core/journal.h"
#include "core/os.h"
#include "core/text.h"

const wchar_t k_user_agent[] = L"Vorna380-Secure-Launcher/1.0";

namespace {
constexpr size_t ATTEMPT_LINE_UNITS = 192;

void journal_attempt(const wchar_t* before, unsigned attempt, const wchar_t* after) {
  wchar_t line[ATTEMPT_LINE_UNITS];
  text_builder builder = start_text(line, ATTEMPT_LINE_UNITS);
  builder_append(&builder, before);
  builder_append_uint(&builder, attempt, 1);
  builder_append(&builder, after);
  write_log(line);
}
}  // namespace

int download_small(const wchar_t* url, const wchar_t* destination) {
  for (unsigned attempt = 1; attempt <= DOWNLOAD_ATTEMPTS; ++attempt) {
    if (download_small_once(url, destination)) {
      if (attempt > 1) journal_attempt(L"Telechargement du manifeste retabli a la tentative ", attempt, L"/3.");
      return 1;
    }
    journal_attempt(L"Tentative reseau ", attempt, L"/3 echouee pour le manifeste securise.");
    if (attempt < DOWNLOAD_ATTEMPTS) os_sleep_ms(RETRY_PAUSE_MS * attempt);
  }
  return 0;
}

namespace {
// Decimal digits at text[*at...] up to the stop character, no sign, no leading zero but "0".
bool read_number(const char* text, size_t bytes, size_t* at, char stop, uint64_t* value) {
  size_t start = *at;
  *value = 0;
  while (*at < bytes && text[*at] >= '0' && text[*at] <= '9') {
    uint64_t digit = static_cast<uint64_t>(text[*at] - '0');
    if (*value > (UINT64_MAX - digit) / 10) return false;
    *value = *value * 10 + digit;
    ++*at;
  }
  size_t digits = *at - start;
  if (digits == 0 || (digits > 1 && text[start] == '0')) return false;
  if (stop == '\0') return *at == bytes;
  if (*at >= bytes || text[*at] != stop) return false;
  ++*at;
  return true;
}
}  // namespace

int content_range_is(const char* value, size_t bytes, uint64_t begin, uint64_t end, uint64_t total) {
  static const char unit[] = "bytes ";
  while (bytes > 0 && (value[bytes - 1] == ' ' || value[bytes - 1] == '\t')) --bytes;
  if (begin >= end || end > total || bytes < sizeof unit - 1 || memcmp(value, unit, sizeof unit - 1) != 0) return 0;
  size_t at = sizeof unit - 1;
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t size = 0;
  return read_number(value, bytes, &at, '-', &first) && read_number(value, bytes, &at, '/', &last) &&
         read_number(value, bytes, &at, '\0', &size) && first == begin && last == end - 1 && size == total;
}
