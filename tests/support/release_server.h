// The release server that tests/harness/release-server.sh runs (nginx on the profile's origin), as
// the tests see it. Every test that talks to it holds the ctest resource lock "release_server"
// (add_launcher_test(... PROPERTIES RESOURCE_LOCK release_server)), so it may change what the
// server serves.
#pragma once

#include <gtest/gtest.h>

#include <string>

// The server's folder (VORNA380_RELEASE_SERVER, set by the start script); empty when no server
// runs for these tests.
std::wstring release_server_dir();

// Skips the test when no release server runs; fails it under CI, where one always runs.
#define REQUIRE_RELEASE_SERVER()                                                                       \
  do {                                                                                                 \
    if (release_server_dir().empty()) {                                                                \
      if (release_server_required()) FAIL() << "no release server: VORNA380_RELEASE_SERVER unset";     \
      GTEST_SKIP() << "no release server: start it with tests/harness/release-server.sh (see README)"; \
    }                                                                                                  \
  } while (0)
bool release_server_required();

// A test fixture whose tests need the server.
class release_server_test : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_RELEASE_SERVER(); }
};

// Ports beside the origin's: a certificate from an authority nobody trusts, plain HTTP, and
// another origin with the trusted certificate.
constexpr int UNTRUSTED_PORT_OFFSET = 1;
constexpr int PLAIN_HTTP_PORT_OFFSET = 2;
constexpr int OTHER_ORIGIN_PORT_OFFSET = 4;
// The two caching edges in front of the origin, and a port where nothing listens.
constexpr int EDGE_A_PORT_OFFSET = 5;
constexpr int EDGE_B_PORT_OFFSET = 6;
constexpr int NOTHING_PORT_OFFSET = 7;

// The release origin followed by path ("dl/..."): what the launcher fetches.
std::wstring origin_url(const std::wstring& path);
// The origin's host at the origin's port + offset, with https or http.
std::wstring server_url(int port_offset, bool https, const std::wstring& path);
int origin_port();

// Serves the published tree fixture_path(L"releases/" + name) instead of whatever was served
// (files are hard links to the fixture's, or copies where links cannot be made).
bool serve_release(const std::wstring& name);
// Serves bytes at path ("dl/...") in addition to what is served. Served files are hard links
// to the fixtures: change them only through this.
bool serve_file(const std::wstring& path, const std::string& bytes);
// Empties both edges' caches, as a release engineer purges a CDN after a publication.
bool purge_edge_caches();
// A fixed file of the server's misbehaving paths (fault/NAME).
std::string fault_file(const std::wstring& name);

// The server's access log: "PORT \"GET /path HTTP/1.1\" STATUS BYTES \"USER AGENT\"" per line;
// or an edge's (edge "edge-a" or "edge-b"): "PORT \"GET /path HTTP/1.1\" STATUS BYTES TIME CACHE".
struct access_log {
  explicit access_log(const std::wstring& edge = L"");
  // What was logged since this object was made; waits up to timeout_ms for needle to appear.
  std::string since(const std::string& needle = "", unsigned timeout_ms = 2000) const;
  std::wstring file;
  size_t start;
};

// Platform halves: a file linked (or copied) to a new path; a whole tree the same way.
bool link_or_copy_tree(const std::wstring& from, const std::wstring& to);
