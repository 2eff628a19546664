#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <cwchar>

#include "core/journal.h"
#include "core/text.h"
#include "release_profile.h"
#include "transfer/download.h"
#include "transfer/release_hosts.h"

uint64_t transfer_clock_ms() { return GetTickCount64(); }

namespace {
constexpr DWORD HOST_UNITS = 256;
constexpr DWORD URL_PATH_UNITS = 4096;
constexpr size_t URL_UNITS = 16 + HOST_UNITS + URL_PATH_UNITS;  // scheme, host, port and path

// A connection closed before the announced length arrived is reported by some WinHTTP
// implementations (Wine's) as the end of the body; such a body is refused all the same.
bool has_announced_length(HINTERNET request, uint64_t total) {
  wchar_t text[32];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return true;  // no length announced
  }
  return _wcstoui64(text, nullptr, 10) == total;
}

// Receives the body into the open file; 1 when it ended with 1 to 1,048,576 bytes written.
// Each wait for bytes ends when some come (or at the receive time-out), so the rate is checked
// as they trickle in.
int receive_body(HINTERNET request, HANDLE file, unsigned char* buffer, rate_watch* watch, const wchar_t* url,
                 uint32_t limit) {
  uint64_t total = 0;
  for (;;) {
    if (!rate_kept(watch, total)) {
      journal_too_slow(url);
      return 0;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return 0;
    if (available == 0) return total >= 1 && has_announced_length(request, total);
    while (available > 0) {
      DWORD wanted = available < DOWNLOAD_CHUNK_BYTES ? available : DOWNLOAD_CHUNK_BYTES;
      DWORD got = 0;
      if (!WinHttpReadData(request, buffer, wanted, &got) || got == 0) return 0;
      total += got;
      if (total > limit) return 0;
      DWORD written = 0;
      if (!WriteFile(file, buffer, got, &written, nullptr) || written != got) return 0;
      available -= got < available ? got : available;
    }
  }
}

// One HTTPS GET with the launcher's session settings, sent and answered: the three handles,
// closed by close_exchange, and the answer's status. Fails on anything but an https URL whose
// host and path fit.
// A session given to send_get is the caller's: the exchange neither opens nor closes it.
struct http_exchange {
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  bool own_session = true;
};

void close_exchange(http_exchange* exchange) {
  if (exchange->request != nullptr) WinHttpCloseHandle(exchange->request);
  if (exchange->connection != nullptr) WinHttpCloseHandle(exchange->connection);
  if (exchange->session != nullptr && exchange->own_session) WinHttpCloseHandle(exchange->session);
  *exchange = http_exchange();
}

HINTERNET open_session() {
  HINTERNET session =
      WinHttpOpen(k_user_agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session != nullptr) {
    WinHttpSetTimeouts(session, RESOLVE_TIMEOUT_MS, CONNECT_TIMEOUT_MS, SEND_TIMEOUT_MS, RECEIVE_TIMEOUT_MS);
  }
  return session;
}

// follow: whether WinHTTP follows redirects itself.
bool send_get(const wchar_t* url, const wchar_t* headers, http_exchange* exchange, DWORD* status,
              HINTERNET session = nullptr, bool follow = true) {
  wchar_t host[HOST_UNITS];
  wchar_t path[URL_PATH_UNITS];
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = HOST_UNITS;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = URL_PATH_UNITS;
  if (!WinHttpCrackUrl(url, 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS ||
      parts.dwHostNameLength > HOST_UNITS - 1 || parts.dwUrlPathLength > URL_PATH_UNITS - 1) {
    return false;
  }
  exchange->own_session = session == nullptr;
  exchange->session = session != nullptr ? session : open_session();
  if (exchange->session == nullptr) return false;
  exchange->connection = WinHttpConnect(exchange->session, host, parts.nPort, 0);
  if (exchange->connection == nullptr) return false;
  exchange->request = WinHttpOpenRequest(exchange->connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (exchange->request == nullptr) return false;
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  if (!follow && !WinHttpSetOption(exchange->request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never)) {
    return false;
  }
  DWORD header_units = headers == WINHTTP_NO_ADDITIONAL_HEADERS ? 0 : static_cast<DWORD>(-1L);
  DWORD status_size = sizeof *status;
  return WinHttpSendRequest(exchange->request, headers, header_units, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
         WinHttpReceiveResponse(exchange->request, nullptr) &&
         WinHttpQueryHeaders(exchange->request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, status, &status_size, WINHTTP_NO_HEADER_INDEX);
}
}  // namespace

int download_small_once(const wchar_t* url, const wchar_t* destination, uint32_t limit) {
  http_exchange exchange;
  HANDLE file = INVALID_HANDLE_VALUE;
  unsigned char* buffer = nullptr;
  int result = 0;
  DWORD status = 0;
  rate_watch watch;
  start_rate_watch(&watch);
  if (send_get(url, WINHTTP_NO_ADDITIONAL_HEADERS, &exchange, &status) && status == 200) {
    file = CreateFileW(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    buffer = static_cast<unsigned char*>(malloc(DOWNLOAD_CHUNK_BYTES));
    if (file != INVALID_HANDLE_VALUE && buffer != nullptr) {
      result = receive_body(exchange.request, file, buffer, &watch, url, limit);
    }
  }
  free(buffer);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  close_exchange(&exchange);
  // Every failure removes the destination, also a file an earlier run left there.
  if (!result) DeleteFileW(destination);
  return result;
}

namespace {
// The answer's Content-Range, as bytes, is exactly the one asked for.
bool answered_range(HINTERNET request, uint64_t begin, uint64_t end, uint64_t total) {
  wchar_t text[96];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  char value[96];
  size_t units = size / sizeof(wchar_t);
  for (size_t i = 0; i < units; ++i) {
    if (text[i] > 0x7E) return false;
    value[i] = static_cast<char>(text[i]);
  }
  return content_range_is(value, units, begin, end, total);
}

// The body of an accepted range answer into the sink. Dropped when the connection fails or the
// body ends short (Wine reports a closed connection as the end of the body).
range_outcome receive_range(HINTERNET request, uint64_t wanted, const range_sink* sink, unsigned char* buffer,
                            rate_watch* watch, const wchar_t* url, uint64_t* received) {
  for (;;) {
    if (!rate_kept(watch, *received)) {
      journal_too_slow(url);
      return RANGE_REFUSED;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return RANGE_DROPPED;
    if (available == 0) return *received == wanted ? RANGE_DONE : RANGE_DROPPED;
    DWORD got = 0;
    if (!WinHttpReadData(request, buffer, available < DOWNLOAD_CHUNK_BYTES ? available : DOWNLOAD_CHUNK_BYTES, &got)) {
      return RANGE_DROPPED;
    }
    if (got == 0) return *received == wanted ? RANGE_DONE : RANGE_DROPPED;
    if (got > wanted - *received || !sink->take(sink->context, buffer, got)) return RANGE_REFUSED;
    *received += got;
  }
}

// Where the redirect answer leads, into target (URL_UNITS): 1 when it stays within the release
// origin; a path alone is on the current URL's server. Journalled when it would leave the origin
// or comes once too often.
bool redirect_target(HINTERNET request, const wchar_t* current, unsigned redirects, wchar_t* location,
                     wchar_t* target) {
  DWORD size = URL_UNITS * sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, location, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  size_t server = 0;
  if (location[0] == L'/' && location[1] != L'/') {
    const wchar_t* scheme_end = wcsstr(current, L"://");
    const wchar_t* path = scheme_end != nullptr ? wcschr(scheme_end + 3, L'/') : nullptr;
    server = path != nullptr ? static_cast<size_t>(path - current) : wcslen(current);
  }
  size_t rest = wcslen(location);
  if (server + rest >= URL_UNITS) return false;
  wmemmove(target, current, server);
  wmemcpy(target + server, location, rest + 1);
  if (!on_release_host(target)) {
    write_log(k_redirect_off_origin);
    return false;
  }
  if (redirects == REDIRECTS_MAX) {
    write_log(L"Redirection refusee: trop de redirections.");
    return false;
  }
  return true;
}
}  // namespace

namespace {
// The answer's ETag, as ASCII, into validator (VALIDATOR_BYTES); empty when it has none.
void read_validator(HINTERNET request, char* validator) {
  wchar_t value[VALIDATOR_BYTES];
  DWORD size = sizeof value;
  validator[0] = '\0';
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_ETAG, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return;
  }
  size_t units = size / sizeof(wchar_t);
  for (size_t i = 0; i < units; ++i) {
    if (value[i] > 0x7E) return;
    validator[i] = static_cast<char>(value[i]);
  }
  validator[units] = '\0';
}
}  // namespace

// WinHTTP keeps the connections of a session alive for the next request of the same session.
struct range_connection {
  HINTERNET session;
};

range_connection* open_range_connection() {
  range_connection* connection = static_cast<range_connection*>(malloc(sizeof(range_connection)));
  if (connection == nullptr) return nullptr;
  connection->session = open_session();
  if (connection->session == nullptr) {
    free(connection);
    return nullptr;
  }
  return connection;
}

void close_range_connection(range_connection* connection) {
  if (connection == nullptr) return;
  WinHttpCloseHandle(connection->session);
  free(connection);
}

range_outcome fetch_range_once(const wchar_t* url, uint64_t begin, uint64_t end, uint64_t total, const range_sink* sink,
                               range_connection* connection, uint64_t* received) {
  *received = 0;
  if (begin >= end || end > total) return RANGE_REFUSED;
  wchar_t range[80 + VALIDATOR_BYTES];
  text_builder header = start_text(range, 80 + VALIDATOR_BYTES);
  builder_append(&header, L"Range: bytes=");
  builder_append_uint(&header, begin, 1);
  builder_append_char(&header, L'-');
  builder_append_uint(&header, end - 1, 1);
  if (sink->if_range != nullptr && strong_validator(sink->if_range)) {
    builder_append(&header, L"\r\nIf-Range: ");
    for (const char* c = sink->if_range; *c != '\0'; ++c) builder_append_char(&header, static_cast<wchar_t>(*c));
  }
  if (sink->validator != nullptr) sink->validator[0] = '\0';
  if (sink->answered_whole != nullptr) *sink->answered_whole = false;
  // The current URL, the next one and a redirect's Location.
  wchar_t* urls = static_cast<wchar_t*>(malloc(3 * URL_UNITS * sizeof(wchar_t)));
  unsigned char* buffer = static_cast<unsigned char*>(malloc(DOWNLOAD_CHUNK_BYTES));
  range_outcome outcome = RANGE_REFUSED;
  if (urls == nullptr || buffer == nullptr || wcslen(url) >= URL_UNITS) {
    free(urls);
    free(buffer);
    return outcome;
  }
  wchar_t* current = urls;
  wchar_t* next = urls + URL_UNITS;
  wcscpy(current, url);
  rate_watch watch;
  start_rate_watch(&watch);
  for (unsigned redirects = 0;; ++redirects) {
    http_exchange exchange;
    DWORD status = 0;
    if (!send_get(current, range, &exchange, &status, connection != nullptr ? connection->session : nullptr, false)) {
      outcome = RANGE_DROPPED;
    } else if (status >= 300 && status < 400) {
      bool follow = redirect_target(exchange.request, current, redirects, urls + 2 * URL_UNITS, next);
      close_exchange(&exchange);
      if (!follow) break;
      wchar_t* previous = current;
      current = next;
      next = previous;
      continue;
    } else if (sink->answered_whole != nullptr && status == 200) {
      *sink->answered_whole = true;
    } else if (status == 206 && answered_range(exchange.request, begin, end, total)) {
      if (sink->validator != nullptr) read_validator(exchange.request, sink->validator);
      outcome = receive_range(exchange.request, end - begin, sink, buffer, &watch, url, received);
    }
    close_exchange(&exchange);
    break;
  }
  free(urls);
  free(buffer);
  return outcome;
}
