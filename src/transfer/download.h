// HTTPS download of the two small files the launcher fetches itself: the release manifest and
// its signature.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t SMALL_DOWNLOAD_LIMIT = 1048576;  // largest body accepted
constexpr uint32_t DOWNLOAD_CHUNK_BYTES = 65536;    // one read of the body
constexpr uint32_t RESOLVE_TIMEOUT_MS = 15000;
constexpr uint32_t CONNECT_TIMEOUT_MS = 15000;
constexpr uint32_t SEND_TIMEOUT_MS = 30000;
constexpr uint32_t RECEIVE_TIMEOUT_MS = 30000;
constexpr unsigned DOWNLOAD_ATTEMPTS = 3;
constexpr uint32_t RETRY_PAUSE_MS = 1500;  // times the number of the failed attempt

// The deadlines of every transfer, the launcher's own and the package download's: connected
// (name resolved, TCP and TLS done) within TRANSFER_CONNECT_LIMIT_MS, then at least
// TRANSFER_MINIMUM_RATE bytes a second on average over each window of g_rate_window_ms, counted
// from the start of the request; a slower transfer is abandoned and journalled.
constexpr uint32_t TRANSFER_CONNECT_LIMIT_MS = RESOLVE_TIMEOUT_MS + CONNECT_TIMEOUT_MS;
constexpr uint32_t TRANSFER_MINIMUM_RATE = 16384;  // 16 Kio/s
constexpr uint32_t TRANSFER_RATE_WINDOW_MS = 60000;
// The window in force: TRANSFER_RATE_WINDOW_MS, shortened by tests.
extern uint32_t g_rate_window_ms;

// The minimum rate, watched over consecutive windows.
struct rate_watch {
  uint64_t window_start_ms;
  uint64_t window_start_bytes;
  uint32_t window_ms;
};
void start_rate_watch(rate_watch* watch);
// bytes: all the transfer moved so far (a count that fell since, as for a file written anew,
// counts from 0). 0 once a whole window has passed with fewer bytes than the minimum; 1
// otherwise, starting the next window when one has passed.
int rate_kept(rate_watch* watch, uint64_t bytes);
// Milliseconds until the current window ends (at least 1).
uint32_t rate_watch_wait_ms(const rate_watch* watch);
// "Transfert abandonne: moins de 16 Kio/s pendant 60 s (URL)."
void journal_too_slow(const wchar_t* url);
// A monotonic clock in milliseconds (platform halves).
uint64_t transfer_clock_ms();

// The journal line of a redirect that would leave the release hosts.
extern const wchar_t k_redirect_off_origin[];
constexpr unsigned REDIRECTS_MAX = 5;

// The user agent of the launcher's own downloads.
extern const wchar_t k_user_agent[];

// One HTTPS GET of url into destination: 1 when the answer was 200 with a body of 1 to limit
// bytes (1,048,576 unless told) and all of it was written. On 0 nothing is left at
// destination, not even a file an earlier run left there. Only https URLs; the platform's
// certificate validation.
int download_small_once(const wchar_t* url, const wchar_t* destination, uint32_t limit = SMALL_DOWNLOAD_LIMIT);

// download_small_once with up to three attempts, 1.5 s and 3 s apart, each a pass over the
// release hosts (release_hosts.h) for a url on the release origin; journals each failed
// attempt ("Tentative reseau N/3" and failed_after) and a success after a failure (recovered_before,
// N, "/3.").
int download_with_retries(const wchar_t* url, const wchar_t* destination, uint32_t limit,
                          const wchar_t* recovered_before, const wchar_t* failed_after);
// The manifest's and the signature's download: download_with_retries at the small limit.
int download_small(const wchar_t* url, const wchar_t* destination);

// Where the bytes of a range go, in order: 1 when taken, 0 to abandon the download. Optional:
// if_range, a strong validator the file must still have (sent as If-Range, so that a changed
// file is answered whole, which the range refuses); validator, where the answer's own ETag is
// left (VALIDATOR_BYTES with its zero; empty when it had none); answered_whole, set when the
// server answered with the whole file (200), as it does when the validator no longer holds.
constexpr size_t VALIDATOR_BYTES = 128;
struct range_sink {
  int (*take)(void* context, const unsigned char* bytes, size_t count);
  void* context;
  const char* if_range = nullptr;
  char* validator = nullptr;
  bool* answered_whole = nullptr;
};
// 1 when the ETag value is a strong validator: quoted, not weak ("W/"), and short enough.
int strong_validator(const char* etag);

// HTTPS GETs of the bytes [begin, end) of url, a file of total bytes: 1 when every byte was
// handed to the sink, in order and each once. An answer counts only when it is 206 with exactly
// "Content-Range: bytes first-(end-1)/total" for the bytes still missing; a server that ignores
// the range (200), or answers another range, fails it before any byte reaches the sink.
// Redirects are followed only within the release hosts (at most five). A request whose
// connection drops, before or after its answer began, is asked again once for the bytes still
// missing; one refused, or abandoned under the minimum rate, is not. A url on the release
// origin goes to the release hosts in turn (release_hosts.h), each asked for what is missing.
// connection: null, or one that range downloads share one after the other.
struct range_connection;
int download_range(const wchar_t* url, uint64_t begin, uint64_t end, uint64_t total, const range_sink* sink,
                   range_connection* connection = nullptr);

// One request of download_range (platform halves): its outcome, and in *received the bytes it
// handed to the sink.
enum range_outcome { RANGE_DONE, RANGE_DROPPED, RANGE_REFUSED };
range_outcome fetch_range_once(const wchar_t* url, uint64_t begin, uint64_t end, uint64_t total, const range_sink* sink,
                               range_connection* connection, uint64_t* received);

// What consecutive range downloads share, so that each one after the first goes over the
// connection the server kept open instead of a new connection and handshake. For one thread at
// a time. Null when it cannot be set up: the downloads then connect on their own.
range_connection* open_range_connection();
void close_range_connection(range_connection* connection);

// Whether a Content-Range value (no leading spaces) names exactly that range of that total.
int content_range_is(const char* value, size_t bytes, uint64_t begin, uint64_t end, uint64_t total);
