// HTTPS download of the two small files the launcher fetches itself: the release manifest and
// its signature.
#pragma once

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

