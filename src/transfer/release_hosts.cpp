#include "transfer/release_hosts.h"

#include <cwchar>

#include "core/journal.h"
#include "core/text.h"
#include "release_profile.h"

const wchar_t* g_release_hosts[RELEASE_HOSTS_MAX + 1] = {VORNA380_RELEASE_ORIGIN VORNA380_FALLBACK_HOSTS, nullptr};

namespace {
constexpr size_t URL_UNITS = 2048;
constexpr size_t LINE_UNITS = 2300;

unsigned g_host_errors[RELEASE_HOSTS_MAX];
unsigned g_current_host;
// What journal_served named last, so that the ranges of one file are named once.
unsigned g_served_host = RELEASE_HOSTS_MAX;
wchar_t g_served_url[URL_UNITS];

// "host[:port]" of a host's "https://host[:port]/".
void append_host_name(text_builder* text, unsigned host) {
  const wchar_t* name = g_release_hosts[host] + wcslen(L"https://");
  size_t length = wcslen(name);
  for (size_t i = 0; i + 1 < length; ++i) builder_append_char(text, name[i]);
}

// With the origin alone, the origin is always asked: the callers' own tries bound its errors.
bool host_usable(unsigned host) { return release_host_count() < 2 || g_host_errors[host] < HOST_ERRORS_MAX; }

template <typename unit>
int begins_with_host(const unit* url) {
  for (unsigned host = 0; host < release_host_count(); ++host) {
    const wchar_t* prefix = g_release_hosts[host];
    size_t i = 0;
    while (prefix[i] != L'\0' && static_cast<wchar_t>(url[i]) == prefix[i]) ++i;
    if (prefix[i] == L'\0') return 1;
  }
  return 0;
}
}  // namespace

unsigned release_host_count() {
  unsigned count = 0;
  while (count < RELEASE_HOSTS_MAX && g_release_hosts[count] != nullptr) ++count;
  return count;
}

void reset_release_hosts() {
  for (unsigned& errors : g_host_errors) errors = 0;
  g_current_host = 0;
  g_served_host = RELEASE_HOSTS_MAX;
}

unsigned current_release_host() { return g_current_host < release_host_count() ? g_current_host : 0; }

void release_host_failed() {
  unsigned count = release_host_count();
  unsigned failed = current_release_host();
  if (g_host_errors[failed] < HOST_ERRORS_MAX) ++g_host_errors[failed];
  if (count < 2) return;
  unsigned next = failed;
  for (unsigned step = 1; step <= count; ++step) {
    if (host_usable((failed + step) % count)) {
      next = (failed + step) % count;
      break;
    }
  }
  g_current_host = next;
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  builder_append(&text, L"Echec sur l'hote ");
  append_host_name(&text, failed);
  if (host_usable(next)) {
    builder_append(&text, L": les telechargements passent a ");
    append_host_name(&text, next);
    builder_append(&text, L".");
  } else {
    builder_append(&text, L": plus aucun hote de la release n'est essaye pendant ce lancement.");
  }
  write_log(line);
}

int url_on_host(const wchar_t* url, unsigned host, wchar_t* out, size_t units) {
  size_t origin = wcslen(VORNA380_RELEASE_ORIGIN);
  if (host >= release_host_count() || wcsncmp(url, VORNA380_RELEASE_ORIGIN, origin) != 0) return 0;
  size_t prefix = wcslen(g_release_hosts[host]);
  size_t rest = wcslen(url + origin);
  if (prefix + rest >= units) return 0;
  wmemcpy(out, g_release_hosts[host], prefix);
  wmemcpy(out + prefix, url + origin, rest + 1);
  return 1;
}

int on_release_host(const wchar_t* url) { return begins_with_host(url); }
int on_release_host_utf8(const char* url) { return begins_with_host(reinterpret_cast<const unsigned char*>(url)); }

void journal_served(const wchar_t* url) {
  unsigned host = current_release_host();
  if (release_host_count() < 2 || (host == g_served_host && wcscmp(url, g_served_url) == 0)) return;
  g_served_host = host;
  copy_text(g_served_url, URL_UNITS, url);
  const wchar_t* path = url;
  if (wcsncmp(url, VORNA380_RELEASE_ORIGIN, wcslen(VORNA380_RELEASE_ORIGIN)) == 0) {
    path += wcslen(VORNA380_RELEASE_ORIGIN);
  }
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  builder_append(&text, L"Servi par ");
  append_host_name(&text, host);
  builder_append(&text, L": ");
  builder_append(&text, path);
  builder_append(&text, L".");
  write_log(line);
}

int on_release_hosts(const wchar_t* url, int (*attempt)(const wchar_t* host_url, void* context), void* context) {
  // A URL elsewhere (a test's, say) is asked as it is.
  if (wcsncmp(url, VORNA380_RELEASE_ORIGIN, wcslen(VORNA380_RELEASE_ORIGIN)) != 0) return attempt(url, context);
  wchar_t host_url[URL_UNITS];
  unsigned tried = 0;  // one bit per host asked in this pass
  while (host_usable(current_release_host()) && (tried & (1u << current_release_host())) == 0) {
    tried |= 1u << current_release_host();
    if (url_on_host(url, current_release_host(), host_url, URL_UNITS) && attempt(host_url, context)) {
      journal_served(url);
      return 1;
    }
    release_host_failed();
  }
  return 0;
}
