#include "transfer/download.h"

#include <cstring>

#include "core/journal.h"
#include "core/os.h"
#include "core/text.h"
#include "transfer/release_hosts.h"

const wchar_t k_user_agent[] = L"Vorna380-Secure-Launcher/1.0";
const wchar_t k_redirect_off_origin[] = L"Redirection refusee: elle quitte l'origine de la release.";
uint32_t g_rate_window_ms = TRANSFER_RATE_WINDOW_MS;

namespace {
constexpr size_t ATTEMPT_LINE_UNITS = 192;
constexpr size_t URL_LINE_UNITS = 1024;  // a longer URL is cut in the journal line
}  // namespace

namespace {
struct small_download {
  const wchar_t* destination;
  uint32_t limit;
};

int small_download_once(const wchar_t* url, void* context) {
  const small_download* download = static_cast<const small_download*>(context);
  return download_small_once(url, download->destination, download->limit);
}

// What a range download still misses: [*begin + *done, end) of a file of total bytes.
struct range_request {
  uint64_t begin, end, total;
  const range_sink* sink;
  range_connection* connection;
  uint64_t done;
};

// The missing bytes from one host: asked once, and once more for what a dropped request left.
int range_from_host(const wchar_t* url, void* context) {
  range_request* request = static_cast<range_request*>(context);
  for (int ask = 0; ask < 2; ++ask) {
    uint64_t received = 0;
    range_outcome outcome = fetch_range_once(url, request->begin + request->done, request->end, request->total,
                                             request->sink, request->connection, &received);
    request->done += received;
    if (outcome == RANGE_DONE) return 1;
    if (outcome != RANGE_DROPPED || ask == 1) return 0;
    // The retry asks only for what is missing, so that the sink never sees a byte twice.
    write_log_with_number(L"Plage interrompue apres ", received, L" octets: nouvelle demande des octets restants.");
  }
  return 0;
}
}  // namespace

int download_with_retries(const wchar_t* url, const wchar_t* destination, uint32_t limit,
                          const wchar_t* recovered_before, const wchar_t* failed_after) {
  small_download download = {destination, limit};
  for (unsigned attempt = 1; attempt <= DOWNLOAD_ATTEMPTS; ++attempt) {
    if (on_release_hosts(url, small_download_once, &download)) {
      if (attempt > 1) write_log_with_number(recovered_before, attempt, L"/3.");
      return 1;
    }
    write_log_with_number(L"Tentative reseau ", attempt, failed_after);
    if (attempt < DOWNLOAD_ATTEMPTS) os_sleep_ms(RETRY_PAUSE_MS * attempt);
  }
  return 0;
}

int download_small(const wchar_t* url, const wchar_t* destination) {
  return download_with_retries(url, destination, SMALL_DOWNLOAD_LIMIT,
                               L"Telechargement du manifeste retabli a la tentative ",
                               L"/3 echouee pour le manifeste securise.");
}

int strong_validator(const char* etag) {
  size_t length = etag != nullptr ? strlen(etag) : 0;
  if (length < 2 || length >= VALIDATOR_BYTES || etag[0] != '"' || etag[length - 1] != '"') return 0;
  for (size_t i = 1; i + 1 < length; ++i) {
    unsigned char c = static_cast<unsigned char>(etag[i]);
    if (c < 0x21 || c == '"' || c == 0x7F) return 0;
  }
  return 1;
}

void start_rate_watch(rate_watch* watch) {
  watch->window_start_ms = transfer_clock_ms();
  watch->window_start_bytes = 0;
  watch->window_ms = g_rate_window_ms;
}

int rate_kept(rate_watch* watch, uint64_t bytes) {
  if (bytes < watch->window_start_bytes) watch->window_start_bytes = 0;
  uint64_t now = transfer_clock_ms();
  if (now - watch->window_start_ms < watch->window_ms) return 1;
  uint64_t minimum = static_cast<uint64_t>(TRANSFER_MINIMUM_RATE) * watch->window_ms / 1000;
  if (bytes - watch->window_start_bytes < minimum) return 0;
  watch->window_start_ms = now;
  watch->window_start_bytes = bytes;
  return 1;
}

uint32_t rate_watch_wait_ms(const rate_watch* watch) {
  uint64_t passed = transfer_clock_ms() - watch->window_start_ms;
  return passed < watch->window_ms ? static_cast<uint32_t>(watch->window_ms - passed) : 1;
}

void journal_too_slow(const wchar_t* url) {
  wchar_t line[ATTEMPT_LINE_UNITS + URL_LINE_UNITS];
  text_builder builder = start_text(line, ATTEMPT_LINE_UNITS + URL_LINE_UNITS);
  builder_append(&builder, L"Transfert abandonne: moins de ");
  builder_append_uint(&builder, TRANSFER_MINIMUM_RATE / 1024, 1);
  builder_append(&builder, L" Kio/s pendant ");
  builder_append_uint(&builder, g_rate_window_ms / 1000, 1);
  builder_append(&builder, L" s (");
  builder_append(&builder, url);
  builder_append(&builder, L").");
  write_log(line);
}

int download_range(const wchar_t* url, uint64_t begin, uint64_t end, uint64_t total, const range_sink* sink,
                   range_connection* connection) {
  if (begin >= end || end > total) return 0;
  range_request request = {begin, end, total, sink, connection, 0};
  return on_release_hosts(url, range_from_host, &request);
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
