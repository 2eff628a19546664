#include <windows.h>
#include <winhttp.h>

#include <cstdlib>

#include "core/text.h"
#include "transfer/download.h"

namespace {
constexpr DWORD HOST_UNITS = 256;
constexpr DWORD URL_PATH_UNITS = 4096;

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
int receive_body(HINTERNET request, HANDLE file, unsigned char* buffer) {
  uint64_t total = 0;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return 0;
    if (available == 0) return total >= 1 && has_announced_length(request, total);
    while (available > 0) {
      DWORD wanted = available < DOWNLOAD_CHUNK_BYTES ? available : DOWNLOAD_CHUNK_BYTES;
      DWORD got = 0;
      if (!WinHttpReadData(request, buffer, wanted, &got) || got == 0) return 0;
      total += got;
      if (total > SMALL_DOWNLOAD_LIMIT) return 0;
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

bool send_get(const wchar_t* url, const wchar_t* headers, http_exchange* exchange, DWORD* status,
              HINTERNET session = nullptr) {
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
  DWORD header_units = headers == WINHTTP_NO_ADDITIONAL_HEADERS ? 0 : static_cast<DWORD>(-1L);
  DWORD status_size = sizeof *status;
  return WinHttpSendRequest(exchange->request, headers, header_units, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
         WinHttpReceiveResponse(exchange->request, nullptr) &&
         WinHttpQueryHeaders(exchange->request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, status, &status_size, WINHTTP_NO_HEADER_INDEX);
}
}  // namespace

int download_small_once(const wchar_t* url, const wchar_t* destination) {
  http_exchange exchange;
  HANDLE file = INVALID_HANDLE_VALUE;
  unsigned char* buffer = nullptr;
  int result = 0;
  DWORD status = 0;
  if (send_get(url, WINHTTP_NO_ADDITIONAL_HEADERS, &exchange, &status) && status == 200) {
    file = CreateFileW(destination, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    buffer = static_cast<unsigned char*>(malloc(DOWNLOAD_CHUNK_BYTES));
    if (file != INVALID_HANDLE_VALUE && buffer != nullptr) result = receive_body(exchange.request, file, buffer);
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

int receive_range(HINTERNET request, uint64_t wanted, const range_sink* sink, unsigned char* buffer) {
  uint64_t received = 0;
  for (;;) {
    DWORD got = 0;
    if (!WinHttpReadData(request, buffer, DOWNLOAD_CHUNK_BYTES, &got)) return 0;
    if (got == 0) return received == wanted;
    if (got > wanted - received || !sink->take(sink->context, buffer, got)) return 0;
    received += got;
  }
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

int download_range(const wchar_t* url, uint64_t begin, uint64_t end, uint64_t total, const range_sink* sink,
                   range_connection* connection) {
  if (begin >= end || end > total) return 0;
  wchar_t range[80];
  text_builder header = start_text(range, 80);
  builder_append(&header, L"Range: bytes=");
  builder_append_uint(&header, begin, 1);
  builder_append_char(&header, L'-');
  builder_append_uint(&header, end - 1, 1);
  http_exchange exchange;
  int result = 0;
  DWORD status = 0;
  if (send_get(url, range, &exchange, &status, connection != nullptr ? connection->session : nullptr) &&
      status == 206 && answered_range(exchange.request, begin, end, total)) {
    unsigned char* buffer = static_cast<unsigned char*>(malloc(DOWNLOAD_CHUNK_BYTES));
    if (buffer != nullptr) result = receive_range(exchange.request, end - begin, sink, buffer);
    free(buffer);
  }
  close_exchange(&exchange);
  return result;
}
