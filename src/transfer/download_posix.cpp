// libcurl in place of WinHTTP: https only, the system's certificate store, HTTP/1.1, redirects
// followed to https URLs only (as WinHTTP does by default; a range's only within the release
// origin), and WinHTTP's four time-outs mapped onto libcurl's: resolving and connecting share
// one limit of 15 + 15 s; a transfer that moves no byte for 30 s (sending or receiving) is
// abandoned, as is one below the minimum rate (download.h). libcurl is loaded at the first
// download, so that starting the launcher (and every command-line mode) does not pay for it and
// the two dozen libraries it brings.
#define CURL_DISABLE_TYPECHECK  // plain declarations, whose types the table below takes
#include <curl/curl.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/journal.h"
#include "core/os_posix.h"
#include "core/system_path_posix.h"
#include "core/text.h"
#include "release_profile.h"
#include "transfer/download.h"
#include "transfer/release_hosts.h"

namespace {
constexpr size_t HOST_UNITS = 256;
constexpr size_t URL_PATH_UNITS = 4096;

// The libcurl calls of a download, resolved once from the library; it stays loaded for the
// process's life, as its global state must.
struct curl_calls {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_easy_reset) easy_reset = nullptr;
  decltype(&curl_free) free = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;
  decltype(&curl_url) url = nullptr;
  decltype(&curl_url_set) url_set = nullptr;
  decltype(&curl_url_get) url_get = nullptr;
  decltype(&curl_url_cleanup) url_cleanup = nullptr;
};
curl_calls g_curl;
bool g_curl_ready = false;
pthread_once_t g_curl_once = PTHREAD_ONCE_INIT;

template <typename call>
bool resolve(void* library, call* slot, const char* name) {
  *slot = reinterpret_cast<call>(dlsym(library, name));
  return *slot != nullptr;
}

void start_curl() {
  void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return;
  curl_calls& c = g_curl;
  g_curl_ready =
      resolve(library, &c.global_init, "curl_global_init") && resolve(library, &c.easy_init, "curl_easy_init") &&
      resolve(library, &c.easy_setopt, "curl_easy_setopt") && resolve(library, &c.easy_perform, "curl_easy_perform") &&
      resolve(library, &c.easy_getinfo, "curl_easy_getinfo") &&
      resolve(library, &c.easy_cleanup, "curl_easy_cleanup") && resolve(library, &c.easy_reset, "curl_easy_reset") &&
      resolve(library, &c.free, "curl_free") && resolve(library, &c.slist_append, "curl_slist_append") &&
      resolve(library, &c.slist_free_all, "curl_slist_free_all") && resolve(library, &c.url, "curl_url") &&
      resolve(library, &c.url_set, "curl_url_set") && resolve(library, &c.url_get, "curl_url_get") &&
      resolve(library, &c.url_cleanup, "curl_url_cleanup") && c.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

// The minimum rate over a transfer's body bytes, checked by libcurl's progress callback, which
// runs at least once a second whether bytes come or not.
struct transfer_pace {
  rate_watch watch;
  uint64_t moved;
  bool too_slow;
};

int check_pace(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  transfer_pace* pace = static_cast<transfer_pace*>(user);
  if (rate_kept(&pace->watch, pace->moved)) return 0;
  pace->too_slow = true;
  return 1;
}

struct body_sink {
  CURL* curl;
  const char* path;
  int fd;
  uint64_t total;
  uint64_t limit;
  transfer_pace pace;
};

// The destination is created only once the answer is known to be 200.
size_t write_body(char* data, size_t size, size_t count, void* user) {
  body_sink* sink = static_cast<body_sink*>(user);
  size_t bytes = size * count;
  if (sink->fd < 0) {
    long status = 0;
    if (g_curl.easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200) return 0;
    sink->fd = open(sink->path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (sink->fd < 0) return 0;
  }
  sink->total += bytes;
  sink->pace.moved += bytes;
  if (sink->total > sink->limit) return 0;
  return os_write_all(sink->fd, data, bytes) ? bytes : 0;
}

// Wide length of a UTF-8 part of the URL; capacity when it does not fit.
size_t wide_length(const char* text, size_t capacity) {
  size_t bytes = strlen(text);
  if (bytes == 0) return 0;
  wchar_t* units = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
  if (units == nullptr) return capacity;
  size_t length = utf8_to_wide(text, bytes, units, capacity);
  free(units);
  return length == 0 ? capacity : length;
}

// The URL split as WinHttpCrackUrl would: https scheme, host of at most 255 units, path (with
// any query) of at most 4,095 units.
CURLU* split_https_url(const char* url) {
  CURLU* parts = g_curl.url();
  char* scheme = nullptr;
  char* host = nullptr;
  char* path = nullptr;
  char* query = nullptr;
  bool ok = parts != nullptr && g_curl.url_set(parts, CURLUPART_URL, url, 0) == CURLUE_OK &&
            g_curl.url_get(parts, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && strcmp(scheme, "https") == 0 &&
            g_curl.url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            g_curl.url_get(parts, CURLUPART_PATH, &path, 0) == CURLUE_OK;
  if (ok) {
    if (g_curl.url_get(parts, CURLUPART_QUERY, &query, 0) != CURLUE_OK) query = nullptr;
    size_t path_units = wide_length(path, URL_PATH_UNITS);
    if (query != nullptr) path_units += 1 + wide_length(query, URL_PATH_UNITS);
    ok = wide_length(host, HOST_UNITS) < HOST_UNITS && path_units < URL_PATH_UNITS;
  }
  g_curl.free(scheme);
  g_curl.free(host);
  g_curl.free(path);
  g_curl.free(query);
  if (!ok) {
    g_curl.url_cleanup(parts);
    return nullptr;
  }
  return parts;
}

// The settings every download of the launcher's own shares.
void set_common_options(CURL* curl, CURLU* url, const char* user_agent, curl_slist* headers, transfer_pace* pace) {
  g_curl.easy_setopt(curl, CURLOPT_CURLU, url);
  g_curl.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  g_curl.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  g_curl.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  g_curl.easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  g_curl.easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  g_curl.easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  g_curl.easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  g_curl.easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  g_curl.easy_setopt(curl, CURLOPT_USERAGENT, user_agent);
  g_curl.easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  g_curl.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  g_curl.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(TRANSFER_CONNECT_LIMIT_MS));
  g_curl.easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  g_curl.easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(RECEIVE_TIMEOUT_MS / 1000));
  g_curl.easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(DOWNLOAD_CHUNK_BYTES));
  g_curl.easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  g_curl.easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, check_pace);
  g_curl.easy_setopt(curl, CURLOPT_XFERINFODATA, pace);
}

int fetch(CURLU* url, const wchar_t* url_text, const char* destination, const char* user_agent, uint32_t limit) {
  CURL* curl = g_curl.easy_init();
  if (curl == nullptr) return 0;
  struct curl_slist* headers = g_curl.slist_append(nullptr, "Accept:");  // no header beyond the user agent
  body_sink sink = {curl, destination, -1, 0, limit, {}};
  start_rate_watch(&sink.pace.watch);
  set_common_options(curl, url, user_agent, headers, &sink.pace);
  g_curl.easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_body);
  g_curl.easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

  long status = 0;
  int result = g_curl.easy_perform(curl) == CURLE_OK &&
               g_curl.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200 &&
               sink.fd >= 0 && sink.total >= 1;
  if (sink.pace.too_slow) journal_too_slow(url_text);
  if (sink.fd >= 0 && close(sink.fd) != 0) result = 0;
  g_curl.easy_cleanup(curl);
  g_curl.slist_free_all(headers);
  return result;
}
// A range request: the answer is judged by its status and Content-Range before the first byte
// goes to the sink; a redirect's body goes nowhere.
struct range_state {
  CURL* curl;
  uint64_t begin, end, total, received;
  bool range_seen;  // the answer's Content-Range was exactly the one asked for
  bool judged;
  bool refused;  // the answer or the sink refused the bytes
  const range_sink* sink;
  transfer_pace pace;
};

size_t range_header(char* line, size_t size, size_t count, void* user) {
  range_state* state = static_cast<range_state*>(user);
  size_t bytes = size * count;
  static const char name[] = "content-range:";
  static const char etag[] = "etag:";
  if (bytes >= 5 && strncmp(line, "HTTP/", 5) == 0) state->range_seen = false;  // a new answer
  if (state->sink->validator != nullptr && bytes > sizeof etag - 1 && strncasecmp(line, etag, sizeof etag - 1) == 0) {
    size_t at = sizeof etag - 1;
    while (at < bytes && (line[at] == ' ' || line[at] == '\t')) ++at;
    size_t length = bytes - at;
    while (length > 0 && (line[at + length - 1] == '\n' || line[at + length - 1] == '\r')) --length;
    if (length < VALIDATOR_BYTES) {
      memcpy(state->sink->validator, line + at, length);
      state->sink->validator[length] = '\0';
    }
  }
  if (bytes > sizeof name - 1 && strncasecmp(line, name, sizeof name - 1) == 0) {
    size_t at = sizeof name - 1;
    while (at < bytes && (line[at] == ' ' || line[at] == '\t')) ++at;
    size_t length = bytes - at;
    while (length > 0 && (line[at + length - 1] == '\n' || line[at + length - 1] == '\r')) --length;
    state->range_seen = content_range_is(line + at, length, state->begin, state->end, state->total);
  }
  return bytes;
}

size_t range_body(char* data, size_t size, size_t count, void* user) {
  range_state* state = static_cast<range_state*>(user);
  size_t bytes = size * count;
  if (!state->judged) {
    long status = 0;
    if (g_curl.easy_getinfo(state->curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
    if (status >= 300 && status < 400) return bytes;
    state->refused = status != 206 || !state->range_seen;
    if (state->refused) return 0;
    state->judged = true;
  }
  state->refused = bytes > state->end - state->begin - state->received ||
                   !state->sink->take(state->sink->context, reinterpret_cast<unsigned char*>(data), bytes);
  if (state->refused) return 0;
  state->received += bytes;
  state->pace.moved += bytes;
  return bytes;
}

// One request, redirects not followed; the status in *status. A kept handle is set afresh and
// keeps its open connection for the next request.
CURLcode request_range(CURLU* url, const char* user_agent, range_state* state, CURL* curl, bool kept, long* status) {
  if (kept) g_curl.easy_reset(curl);
  state->curl = curl;
  char range[48];
  snprintf(range, sizeof range, "%llu-%llu", static_cast<unsigned long long>(state->begin),
           static_cast<unsigned long long>(state->end - 1));
  struct curl_slist* headers = g_curl.slist_append(nullptr, "Accept:");
  char if_range[VALIDATOR_BYTES + 16];
  if (state->sink->if_range != nullptr &&
      snprintf(if_range, sizeof if_range, "If-Range: %s", state->sink->if_range) < static_cast<int>(sizeof if_range)) {
    headers = g_curl.slist_append(headers, if_range);
  }
  if (state->sink->validator != nullptr) state->sink->validator[0] = '\0';
  set_common_options(curl, url, user_agent, headers, &state->pace);
  g_curl.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  g_curl.easy_setopt(curl, CURLOPT_RANGE, range);
  g_curl.easy_setopt(curl, CURLOPT_HEADERFUNCTION, range_header);
  g_curl.easy_setopt(curl, CURLOPT_HEADERDATA, state);
  g_curl.easy_setopt(curl, CURLOPT_WRITEFUNCTION, range_body);
  g_curl.easy_setopt(curl, CURLOPT_WRITEDATA, state);
  CURLcode code = g_curl.easy_perform(curl);
  if (g_curl.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, status) != CURLE_OK) *status = 0;
  g_curl.slist_free_all(headers);
  return code;
}

// Where a redirect answer leads: the next URL's parts, or null (journalled when it leaves the
// release origin or comes once too often).
CURLU* follow_within_origin(CURL* curl, unsigned redirects) {
  char* target = nullptr;  // the handle's
  if (g_curl.easy_getinfo(curl, CURLINFO_REDIRECT_URL, &target) != CURLE_OK || target == nullptr) return nullptr;
  if (!on_release_host_utf8(target)) {
    write_log(k_redirect_off_origin);
    return nullptr;
  }
  if (redirects == REDIRECTS_MAX) {
    write_log(L"Redirection refusee: trop de redirections.");
    return nullptr;
  }
  return split_https_url(target);
}
}  // namespace

uint64_t transfer_clock_ms() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

struct range_connection {
  CURL* curl;
};

range_connection* open_range_connection() {
  pthread_once(&g_curl_once, start_curl);
  if (!g_curl_ready) return nullptr;
  range_connection* connection = static_cast<range_connection*>(malloc(sizeof(range_connection)));
  if (connection == nullptr) return nullptr;
  connection->curl = g_curl.easy_init();
  if (connection->curl == nullptr) {
    free(connection);
    return nullptr;
  }
  return connection;
}

void close_range_connection(range_connection* connection) {
  if (connection == nullptr) return;
  g_curl.easy_cleanup(connection->curl);
  free(connection);
}

range_outcome fetch_range_once(const wchar_t* url, uint64_t begin, uint64_t end, uint64_t total, const range_sink* sink,
                               range_connection* connection, uint64_t* received) {
  *received = 0;
  if (sink->answered_whole != nullptr) *sink->answered_whole = false;
  if (begin >= end || end > total) return RANGE_REFUSED;
  pthread_once(&g_curl_once, start_curl);
  utf8_path url_text(url);
  utf8_path user_agent(k_user_agent);
  if (!g_curl_ready || !url_text.ok() || !user_agent.ok()) return RANGE_REFUSED;
  CURLU* parts = split_https_url(url_text.text);
  bool kept = connection != nullptr;
  CURL* curl = kept ? connection->curl : g_curl.easy_init();
  range_state state = {nullptr, begin, end, total, 0, false, false, false, sink, {}};
  start_rate_watch(&state.pace.watch);
  range_outcome outcome = RANGE_REFUSED;
  for (unsigned redirects = 0; parts != nullptr && curl != nullptr; ++redirects) {
    long status = 0;
    CURLcode code = request_range(parts, user_agent.text, &state, curl, kept, &status);
    kept = true;  // the next request of this range reuses the handle
    if (code == CURLE_OK && status >= 300 && status < 400 && !state.judged) {
      CURLU* next = follow_within_origin(curl, redirects);
      g_curl.url_cleanup(parts);
      parts = next;
      continue;
    }
    bool whole = state.received == end - begin;
    if (sink->answered_whole != nullptr) *sink->answered_whole = code != CURLE_OPERATION_TIMEDOUT && status == 200;
    if (state.pace.too_slow) {
      journal_too_slow(url);
    } else if (code == CURLE_OK && status == 206 && state.judged && whole) {
      outcome = RANGE_DONE;
    } else if (!state.refused && !whole && (code != CURLE_OK || state.judged)) {
      outcome = RANGE_DROPPED;  // the connection failed, or closed before the end
    }
    break;
  }
  *received = state.received;
  g_curl.url_cleanup(parts);
  if (connection == nullptr && curl != nullptr) g_curl.easy_cleanup(curl);
  return outcome;
}

int download_small_once(const wchar_t* url, const wchar_t* destination, uint32_t limit) {
  pthread_once(&g_curl_once, start_curl);
  utf8_path url_text(url);
  utf8_path path(destination);
  utf8_path user_agent(k_user_agent);
  int result = 0;
  if (g_curl_ready && url_text.ok() && path.ok() && user_agent.ok()) {
    CURLU* parts = split_https_url(url_text.text);
    if (parts != nullptr) {
      result = fetch(parts, url, path.text, user_agent.text, limit);
      g_curl.url_cleanup(parts);
    }
  }
  // Every failure removes the destination, also a file an earlier run left there.
  if (!result && path.ok()) unlink(path.text);
  return result;
}
