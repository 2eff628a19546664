// The account bridge: the selected account's login and password, queued by the UI thread and
// handed once to the game over a small HTTP server on 127.0.0.1:32110.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t BRIDGE_PORT = 32110;
constexpr int BRIDGE_BACKLOG = 2;
constexpr unsigned BRIDGE_POLL_MS = 250;
constexpr unsigned BRIDGE_READ_TIMEOUT_MS = 2000;
constexpr size_t BRIDGE_REQUEST_BYTES = 1024;  // one read of at most this many bytes
constexpr size_t ENCODED_BYTES = 1024;         // one URL-encoded field, at most 1022 characters
constexpr size_t BODY_BYTES = 2100;
constexpr size_t REPLY_BYTES = 2400;
constexpr size_t PENDING_UNITS = 256;

// The queue, guarded by the bridge lock.
extern int32_t g_pending_account;  // 1 while credentials are queued and not yet served
extern wchar_t g_pending_login[PENDING_UNITS];
extern wchar_t g_pending_password[PENDING_UNITS];
// Nonzero while the bridge lock exists.
extern int g_bridge_initialized;

// UTF-8 of the text with every byte outside A-Z a-z 0-9 - . _ ~ as %XX, cut before a triplet
// that would pass 1022 characters; empty when the UTF-8 form needs more than 1023 bytes.
void url_encode_utf8(const wchar_t* text, char* out);

// Whether a request may be given the queued account. A request that carries an Origin header,
// or a Host header naming anything but the loopback (127.0.0.1, localhost, "localhost.",
// [::1], with or without a port), may not; nor may one that fills the whole read without its
// header block ending, since what follows cannot be checked. Anything else may.
int bridge_request_allowed(const char* request, size_t count);

// The reply to one request of count bytes (count 0 when nothing arrived): the queued account,
// which is then taken off the queue and its password wiped, when there is one and the request
// is allowed; "NONE" otherwise. Returns the reply's length, 0 when it does not fit.
size_t build_bridge_reply(const char* request, size_t count, char* reply);

// The bridge thread's work: serves 127.0.0.1:32110 until the stop signal. 1 when the socket
// layer cannot start, else 0; a port that cannot be bound ends it silently.
uint32_t account_bridge_worker(void* unused);

// Platform halves: the bridge lock and the stop signal.
void enter_bridge_lock();
void leave_bridge_lock();
int bridge_stop_requested();
