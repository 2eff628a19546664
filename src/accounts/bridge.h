// The account bridge: the selected account's login and password, queued by the UI thread and
// handed once to the game over a small HTTP server on 127.0.0.1:32110.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t BRIDGE_PORT = 32110;
constexpr int BRIDGE_BACKLOG = 2;
constexpr unsigned BRIDGE_POLL_MS = 250;
constexpr unsigned BRIDGE_READ_TIMEOUT_MS = 2000;  // for the whole header block of a request
constexpr size_t BRIDGE_REQUEST_BYTES = 1024;      // the header block must end within this many bytes
constexpr size_t ENCODED_BYTES = 1024;             // one URL-encoded field, at most 1022 characters
constexpr size_t BODY_BYTES = 2100;
constexpr size_t REPLY_BYTES = 2400;
constexpr size_t PENDING_UNITS = 256;
// A queued account not fetched within this time is wiped: ample for a slow first start of the
// game (under Wine too), short enough that it does not wait for a game that never asks.
constexpr uint64_t BRIDGE_QUEUE_LIFETIME_MS = 5 * 60 * 1000;

// The queue, guarded by the bridge lock.
extern int32_t g_pending_account;  // 1 while credentials are queued and not yet served
// The login and password share one page of their own, which the bridge keeps out of core and
// crash dumps while it runs (a queued password waits up to five minutes).
struct alignas(4096) pending_secrets {
  wchar_t login[PENDING_UNITS];
  wchar_t password[PENDING_UNITS];
};
extern pending_secrets g_pending_secrets;
extern wchar_t (&g_pending_login)[PENDING_UNITS];
extern wchar_t (&g_pending_password)[PENDING_UNITS];
extern uint64_t g_pending_since;  // bridge_clock_ms() when the account was queued
// Nonzero while the bridge lock exists.
extern int g_bridge_initialized;

// UTF-8 of the text with every byte outside A-Z a-z 0-9 - . _ ~ as %XX, cut before a triplet
// that would pass 1022 characters; empty when the UTF-8 form needs more than 1023 bytes.
void url_encode_utf8(const wchar_t* text, char* out);

// Length of the header block (up to and including the empty line that ends it) within the
// count bytes; 0 when no empty line has come yet.
size_t bridge_header_block_length(const char* request, size_t count);

// Whether a request may be given the queued account. Only a header block that ended within the
// bytes read is judged, as a whole. It may not carry an Origin, Referer or Sec-Fetch-* header
// (whatever the letter case and the spaces around the name: a browser sends them, also for
// image and script loads), nor a Host header naming anything but the loopback (127.0.0.1,
// localhost, "localhost.", [::1], with or without a port). Anything after the block is ignored.
int bridge_request_allowed(const char* request, size_t count);

// The reply to one request: the queued account when the request is allowed and an account is
// queued and not expired (it is then taken off the queue and its password wiped); "NONE"
// otherwise, the queue left as it was. Returns the reply's length, 0 when it does not fit.
size_t build_bridge_reply(int allowed, char* reply);

// One accepted connection: reads the header block (until the empty line, 1024 bytes, the peer's
// end of sending or 2 s, whichever comes first), answers it and wipes what it sent. A peer that
// is not a process of this user gets "NONE". Nothing is sent when the bridge is stopped meanwhile.
void serve_bridge_connection(intptr_t connection);

// Journals why a client was refused the account: its connection is in none of the system's
// TCP tables (found 0), or its process is not one of this user's (found 1). Returns 0.
int journal_refused_peer(int found);

// Takes the queued account off the queue and wipes its login and password.
void clear_bridge_queue();
// Queues the login and the password (UTF-16LE bytes, as the vault keeps them) for the game's
// next request, in place of whatever was queued.
void queue_account(const wchar_t* login, const unsigned char* password_utf16le, size_t password_bytes);
// The same once the account has been queued for BRIDGE_QUEUE_LIFETIME_MS.
void expire_bridge_queue();
// The same when the queued account is the login (ignoring case): it has just been removed.
void forget_queued_account(const wchar_t* login);

constexpr uint32_t BRIDGE_STOP_WAIT_MS = 2000;  // how long stopping waits for the bridge thread
