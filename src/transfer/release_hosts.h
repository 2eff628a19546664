// The hosts a release download may use. The release origin comes first, then the fallback
// hosts the release profile names, each serving the same tree. A download names its file by its
// URL on the origin and is sent to the host in use; a failure (no connection, a time-out, an
// error status, bytes that fail their digest) counts against that host and moves the downloads
// on to the next one. With fallback hosts, a host that failed HOST_ERRORS_MAX times is not asked
// again in the run. Nothing about trust changes with the host: every file is checked exactly as
// when the origin serves it.
#pragma once

#include <cstddef>

constexpr unsigned RELEASE_HOSTS_MAX = 8;
constexpr unsigned HOST_ERRORS_MAX = 3;

// "https://host[:port]/" per host, the origin first, ended by a null; tests may set it.
extern const wchar_t* g_release_hosts[RELEASE_HOSTS_MAX + 1];

unsigned release_host_count();
// Back to the first host, no error counted: the start of a run.
void reset_release_hosts();
// The host the next download goes to (an index into g_release_hosts).
unsigned current_release_host();
// Counts a failure against the current host and moves on to the next one with errors left
// (the same one when no other has), journalled when there are fallback hosts.
void release_host_failed();

// url, which begins with the release origin, on host: 1 with it in out.
int url_on_host(const wchar_t* url, unsigned host, wchar_t* out, size_t units);
// Whether url lies on one of the release hosts (where a redirect may lead).
int on_release_host(const wchar_t* url);
int on_release_host_utf8(const char* url);

// One pass over the hosts for the file at url (on the origin): attempt with the file's URL on
// the current host, then on the next after each failure, until one succeeds (1) or each host
// with errors left failed once (0). With fallback hosts, the journal names the host that served the file.
int on_release_hosts(const wchar_t* url, int (*attempt)(const wchar_t* host_url, void* context), void* context);
// Journals, where there are fallback hosts, that the current host served url (once for
// consecutive calls with the same host and URL).
void journal_served(const wchar_t* url);
