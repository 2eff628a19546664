#include "accounts/bridge.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "accounts/platform.h"
#include "accounts/utf16le.h"
#include "accounts/wipe.h"
#include "core/journal.h"
#include "core/os.h"
#include "core/text.h"

int32_t g_pending_account = 0;
pending_secrets g_pending_secrets;
wchar_t (&g_pending_login)[PENDING_UNITS] = g_pending_secrets.login;
wchar_t (&g_pending_password)[PENDING_UNITS] = g_pending_secrets.password;
uint64_t g_pending_since = 0;
int g_bridge_initialized = 0;

namespace {
os_thread* g_bridge_thread = nullptr;

void run_bridge_thread(void*) { account_bridge_worker(); }
}  // namespace

void start_account_bridge() {
  if (open_bridge_signals()) g_bridge_thread = os_thread_start(run_bridge_thread, nullptr);
}

// A bridge thread that outlives the wait runs on detached and ends with the process.
void stop_account_bridge() {
  request_bridge_stop();
  if (g_bridge_thread != nullptr) os_thread_join(g_bridge_thread, BRIDGE_STOP_WAIT_MS);
  g_bridge_thread = nullptr;
  close_bridge_signals();
}

namespace {
bool is_unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool same_ignoring_case(const char* text, size_t length, const char* word) {
  size_t i = 0;
  for (; i < length && word[i] != '\0'; ++i) {
    if (lower(text[i]) != word[i]) return false;
  }
  return i == length && word[i] == '\0';
}

bool starts_ignoring_case(const char* text, size_t length, const char* prefix) {
  size_t n = strlen(prefix);
  return length >= n && same_ignoring_case(text, n, prefix);
}

// Space and tab, and the CR of a CR LF line end.
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Narrows [*from, *to) of the line to what lies between spaces and tabs.
void trim_spaces(const char* line, size_t* from, size_t* to) {
  while (*from < *to && is_space(line[*from])) ++*from;
  while (*to > *from && is_space(line[*to - 1])) --*to;
}

// A Host value naming the loopback: one of the names, then nothing or ":" and a port number.
bool is_loopback_host(const char* value, size_t length) {
  static const char* const names[] = {"127.0.0.1", "localhost.", "localhost", "[::1]"};
  for (const char* name : names) {
    size_t n = strlen(name);
    if (length < n || !same_ignoring_case(value, n, name)) continue;
    if (length == n) return true;
    if (value[n] != ':' || length - n - 1 < 1 || length - n - 1 > 5) continue;
    bool digits = true;
    for (size_t i = n + 1; i < length; ++i) digits = digits && value[i] >= '0' && value[i] <= '9';
    if (digits) return true;
  }
  return false;
}
}  // namespace

void url_encode_utf8(const wchar_t* text, char* out) {
  static const char hex[] = "0123456789ABCDEF";
  char utf8[ENCODED_BYTES];
  size_t units = wcslen(text);
  size_t bytes = units == 0 ? 0 : wide_to_utf8(text, units, utf8, sizeof utf8 - 1);
  utf8[bytes] = '\0';
  size_t j = 0;
  for (size_t i = 0; utf8[i] != '\0'; ++i) {
    if (j + 4 > ENCODED_BYTES - 1) break;
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (is_unreserved(c)) {
      out[j++] = static_cast<char>(c);
    } else {
      out[j++] = '%';
      out[j++] = hex[c >> 4];
      out[j++] = hex[c & 0x0F];
    }
  }
  out[j] = '\0';
  wipe_memory(utf8, sizeof utf8);
}

size_t bridge_header_block_length(const char* request, size_t count) {
  size_t at = 0;
  while (at < count) {
    const char* newline = static_cast<const char*>(memchr(request + at, '\n', count - at));
    if (newline == nullptr) return 0;
    size_t end = static_cast<size_t>(newline - request);
    if (end == at || (end == at + 1 && request[at] == '\r')) return end + 1;
    at = end + 1;
  }
  return 0;
}

int bridge_request_allowed(const char* request, size_t count) {
  size_t block = bridge_header_block_length(request, count);
  if (block == 0) return 0;  // unfinished: what is still to come cannot be checked
  size_t at = 0;
  while (at < block) {
    size_t end = at;
    while (request[end] != '\n') ++end;
    const char* line = request + at;
    size_t length = end - at;
    const char* colon = static_cast<const char*>(memchr(line, ':', length));
    if (colon != nullptr) {
      size_t name = 0;
      size_t name_end = static_cast<size_t>(colon - line);
      size_t value = name_end + 1;
      size_t value_end = length;
      trim_spaces(line, &name, &name_end);
      trim_spaces(line, &value, &value_end);
      const char* name_text = line + name;
      size_t name_length = name_end - name;
      if (same_ignoring_case(name_text, name_length, "origin") ||
          same_ignoring_case(name_text, name_length, "referer") ||
          starts_ignoring_case(name_text, name_length, "sec-fetch-")) {
        return 0;
      }
      if (same_ignoring_case(name_text, name_length, "host") && !is_loopback_host(line + value, value_end - value)) {
        return 0;
      }
    }
    at = end + 1;
  }
  return 1;
}

namespace {
// The queue's wiping, bridge lock held.
void clear_queue_locked() {
  g_pending_account = 0;
  wipe_memory(g_pending_login, sizeof g_pending_login);
  wipe_memory(g_pending_password, sizeof g_pending_password);
}

bool queue_expired_locked() { return bridge_clock_ms() - g_pending_since >= BRIDGE_QUEUE_LIFETIME_MS; }

// Reads until the header block ends, the buffer is full, the peer ends its sending or the time
// is up; the bytes read, or -1 when the bridge is asked to stop meanwhile.
long read_bridge_request(intptr_t connection, char* request) {
  uint64_t start = bridge_clock_ms();
  size_t count = 0;
  while (count < BRIDGE_REQUEST_BYTES && bridge_header_block_length(request, count) == 0) {
    if (bridge_stop_requested()) return -1;
    uint64_t waited = bridge_clock_ms() - start;
    if (waited >= BRIDGE_READ_TIMEOUT_MS) break;
    uint64_t left = BRIDGE_READ_TIMEOUT_MS - waited;
    unsigned wait = left < BRIDGE_POLL_MS ? static_cast<unsigned>(left) : BRIDGE_POLL_MS;
    long got = bridge_connection_receive(connection, request + count, BRIDGE_REQUEST_BYTES - count, wait);
    if (got == 0) break;
    if (got > 0) count += static_cast<size_t>(got);
  }
  return static_cast<long>(count);
}
}  // namespace

size_t build_bridge_reply(int allowed, char* reply) {
  char encoded_login[ENCODED_BYTES] = {};
  char encoded_password[ENCODED_BYTES] = {};
  char body[BODY_BYTES] = "NONE";

  enter_bridge_lock();
  if (g_pending_account && queue_expired_locked()) clear_queue_locked();
  if (g_pending_account && allowed) {
    url_encode_utf8(g_pending_login, encoded_login);
    url_encode_utf8(g_pending_password, encoded_password);
    snprintf(body, sizeof body, "%s&%s", encoded_login, encoded_password);
    g_pending_account = 0;
    wipe_memory(g_pending_password, sizeof g_pending_password);
  }
  leave_bridge_lock();

  int length = snprintf(reply, REPLY_BYTES,
                        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\n"
                        "Connection: close\r\nContent-Length: %u\r\n\r\n%s",
                        static_cast<unsigned>(strlen(body)), body);
  wipe_memory(encoded_password, sizeof encoded_password);
  wipe_memory(body, sizeof body);
  if (length <= 0 || static_cast<size_t>(length) >= REPLY_BYTES) {
    wipe_memory(reply, REPLY_BYTES);
    return 0;
  }
  return static_cast<size_t>(length);
}

void serve_bridge_connection(intptr_t connection) {
  char request[BRIDGE_REQUEST_BYTES];
  long count = read_bridge_request(connection, request);
  if (count < 0) return;
  // The peer's owner is asked once its request is in, from the socket it sent it through.
  int allowed = bridge_request_allowed(request, static_cast<size_t>(count)) && bridge_peer_is_same_user(connection);
  char reply[REPLY_BYTES];
  size_t length = build_bridge_reply(allowed, reply);
  if (length > 0) bridge_connection_send(connection, reply, length);
  wipe_memory(reply, sizeof reply);
}

int journal_refused_peer(int found) {
  write_log(found ? L"Pont de compte: client refuse, son processus n'est pas un processus de cet utilisateur "
                    L"(ou ne peut etre examine)."
                  : L"Pont de compte: client refuse, sa connexion est introuvable dans les tables TCP du systeme.");
  return 0;
}

void clear_bridge_queue() {
  enter_bridge_lock();
  clear_queue_locked();
  leave_bridge_lock();
}

void expire_bridge_queue() {
  enter_bridge_lock();
  if (g_pending_account && queue_expired_locked()) clear_queue_locked();
  leave_bridge_lock();
}

void forget_queued_account(const wchar_t* login) {
  enter_bridge_lock();
  if (g_pending_account && equal_ignoring_case(g_pending_login, login)) clear_queue_locked();
  leave_bridge_lock();
}

void queue_account(const wchar_t* login, const unsigned char* password_utf16le, size_t password_bytes) {
  enter_bridge_lock();
  copy_text(g_pending_login, PENDING_UNITS, login);
  utf16le_to_text(password_utf16le, password_bytes, g_pending_password, PENDING_UNITS);
  g_pending_since = bridge_clock_ms();
  g_pending_account = 1;
  leave_bridge_lock();
}
