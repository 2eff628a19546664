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

// The user agent of the launcher's own downloads.
extern const wchar_t k_user_agent[];

// One HTTPS GET of url into destination: 1 when the answer was 200 with a body of 1 to
// 1,048,576 bytes and all of it was written. On 0 nothing is left at destination, not even a
// file an earlier run left there. Only https URLs; the platform's certificate validation.
int download_small_once(const wchar_t* url, const wchar_t* destination);

// download_small_once with up to three attempts, 1.5 s and 3 s apart; journals each failed
// attempt and a success after a failure.
int download_small(const wchar_t* url, const wchar_t* destination);

// Where the bytes of a range go, in order: 1 when taken, 0 to abandon the download.
struct range_sink {
  int (*take)(void* context, const unsigned char* bytes, size_t count);
  void* context;
};

// One HTTPS GET of the bytes [begin, end) of url, a file of total bytes: 1 when the answer was
// 206 with exactly "Content-Range: bytes begin-(end-1)/total" and then exactly end - begin
// bytes, all of them handed to the sink. A server that ignores the range (200), or answers
// another range, fails it before any byte reaches the sink.
// connection: null, or one that range downloads share one after the other.
struct range_connection;
int download_range(const wchar_t* url, uint64_t begin, uint64_t end, uint64_t total, const range_sink* sink,
                   range_connection* connection = nullptr);

// What consecutive range downloads share, so that each one after the first goes over the
// connection the server kept open instead of a new connection and handshake. For one thread at
// a time. Null when it cannot be set up: the downloads then connect on their own.
range_connection* open_range_connection();
void close_range_connection(range_connection* connection);

// Whether a Content-Range value (no leading spaces) names exactly that range of that total.
int content_range_is(const char* value, size_t bytes, uint64_t begin, uint64_t end, uint64_t total);
