#include "accounts/bridge.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "accounts/accounts.h"
#include "accounts/utf16le.h"
#include "accounts/vault.h"
#include "accounts/wipe.h"
#include "core/text.h"

int32_t g_pending_account = 0;
wchar_t g_pending_login[PENDING_UNITS];
wchar_t g_pending_password[PENDING_UNITS];
int g_bridge_initialized = 0;

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

bool is_space(char c) { return c == ' ' || c == '\t'; }

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

int bridge_request_allowed(const char* request, size_t count) {
  size_t at = 0;
  while (at < count) {
    size_t end = at;
    while (end < count && request[end] != '\n') ++end;
    if (end == count && count >= BRIDGE_REQUEST_BYTES) return 0;  // cut off: the rest is unseen
    size_t length = end - at;
    if (length > 0 && request[at + length - 1] == '\r') --length;
    if (length == 0 && end < count) return 1;  // end of the header block
    const char* line = request + at;
    const char* colon = static_cast<const char*>(memchr(line, ':', length));
    if (colon != nullptr) {
      size_t name = static_cast<size_t>(colon - line);
      size_t value = name + 1;
      size_t value_end = length;
      while (value < value_end && is_space(line[value])) ++value;
      while (value_end > value && is_space(line[value_end - 1])) --value_end;
      if (same_ignoring_case(line, name, "origin")) return 0;
      if (same_ignoring_case(line, name, "host") && !is_loopback_host(line + value, value_end - value)) return 0;
    }
    at = end + 1;
  }
  return 1;
}

size_t build_bridge_reply(const char* request, size_t count, char* reply) {
  char encoded_login[ENCODED_BYTES] = {};
  char encoded_password[ENCODED_BYTES] = {};
  char body[BODY_BYTES] = "NONE";
  bool allowed = bridge_request_allowed(request, count);

  enter_bridge_lock();
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

int queue_selected_account() {
  if (g_selected_account[0] == L'\0') return 1;
  wchar_t target[ACCOUNT_TARGET_UNITS];
  account_target(g_selected_account, target);
  vault_credential credential;
  if (!vault_read(target, &credential)) return 0;
  if (credential.blob_size >= PASSWORD_BLOB_LIMIT) {
    vault_release(&credential);
    return 0;
  }
  enter_bridge_lock();
  copy_text(g_pending_login, PENDING_UNITS, credential.user_name);
  g_pending_account = 1;
  utf16le_to_text(credential.blob, credential.blob_size, g_pending_password, PENDING_UNITS);
  leave_bridge_lock();
  vault_release(&credential);
  return 1;
}
