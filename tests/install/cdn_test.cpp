// The install worker through the CDN tier of the test stand: two caching edges in front of the
// origin. Releases published for a CDN name their package by its content, so a stale edge can
// never hand out other bytes under a package's name.
#include <algorithm>
#include <regex>

#include "install/install_worker.h"
#include "install_fixture.h"
#include "release_profile.h"
#include "support/release_server.h"
#include "transfer/download.h"
#include "transfer/release_hosts.h"

namespace {
const char k_done[] = "Installation terminee. Pret a jouer.";

std::wstring host_at(int offset) { return L"https://localhost:" + std::to_wstring(origin_port() + offset) + L"/"; }
std::string name_at(int offset) { return "localhost:" + std::to_string(origin_port() + offset); }

class Cdn : public InstallTest {
 protected:
  std::wstring hosts[RELEASE_HOSTS_MAX];
  const wchar_t* saved[RELEASE_HOSTS_MAX + 1];

  void SetUp() override {
    REQUIRE_RELEASE_SERVER();
    std::copy(g_release_hosts, g_release_hosts + RELEASE_HOSTS_MAX + 1, saved);
    ASSERT_TRUE(purge_edge_caches());
  }
  void TearDown() override {
    std::copy(saved, saved + RELEASE_HOSTS_MAX + 1, g_release_hosts);
    remove_tree(join(release_server_dir(), L"www/server-error"));
  }
  // The hosts the worker uses, in order, by their offset from the origin's port.
  void use_hosts(std::initializer_list<int> offsets) {
    size_t i = 0;
    for (int offset : offsets) {
      hosts[i] = host_at(offset);
      g_release_hosts[i] = hosts[i].c_str();
      ++i;
    }
    g_release_hosts[i] = nullptr;
  }
  // The good client in place, as a player who installed the release before has it.
  void install_good_client() {
    remove_tree(client);
    ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/client/Client"), client));
  }
  std::vector<std::string> run(int* result) {
    size_t start = journal.messages().size();
    *result = run_install_worker();
    std::vector<std::string> all = journal.messages();
    return std::vector<std::string>(all.begin() + static_cast<long>(start), all.end());
  }
  static bool has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static std::string text(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += "\n  " + line;
    return all;
  }
  // The client's list is the one the release publishes.
  void expect_client_of(const std::wstring& release) {
    EXPECT_TRUE(read_bytes(join(client, L"client-integrity.sha256")) ==
                read_bytes(fixture_path(L"releases/" + release + L"/dl/client-integrity.sha256")))
        << to_utf8(release);
  }
  // "dl/Vorna380-client-SHA256.zip" of a release published for a CDN.
  static std::string package_of(const std::wstring& release) {
    std::string manifest = read_bytes(fixture_path(L"releases/" + release + L"/dl/Vorna380.release.manifest"));
    std::smatch found;
    std::regex_search(manifest, found, std::regex("package_url=https://[^/]+/([^\n]+)"));
    return found[1];
  }
};

// Lines of an edge's log since it was opened, for the path, with their status and cache status.
std::vector<std::string> answers(const access_log& log, const std::string& path) {
  static const std::regex line("\"GET /([^ ?]*)[^\"]*\" ([0-9]+) [0-9]+ [0-9.]+ ([A-Z-]+)");
  std::string all = log.since(path);
  std::vector<std::string> found;
  for (std::sregex_iterator it(all.begin(), all.end(), line), end; it != end; ++it) {
    if ((*it)[1] == path) found.push_back(std::string((*it)[2]) + " " + std::string((*it)[3]));
  }
  return found;
}

int take_nothing(void*, const unsigned char*, size_t) { return 1; }
}  // namespace

// A first installation through an edge, then the update by the file, whose range requests the
// edge answers from its cache once it holds the package.
TEST_F(Cdn, AFirstInstallAndAnUpdateByTheFileGoThroughAnEdge) {
  use_hosts({EDGE_A_PORT_OFFSET, 0});
  ASSERT_TRUE(serve_release(L"good-named"));
  access_log edge(L"edge-a");
  int result = 0;
  std::vector<std::string> said = run(&result);
  ASSERT_TRUE(result) << text(said);
  EXPECT_TRUE(has(said, k_done)) << text(said);
  const std::string first = package_of(L"good-named");
  EXPECT_TRUE(has(said, "Servi par " + name_at(EDGE_A_PORT_OFFSET) + ": " + first + ".")) << text(said);
  EXPECT_FALSE(answers(edge, first).empty());
  expect_client_of(L"good-named");

  // The next release, published and purged from the edges' caches.
  ASSERT_TRUE(serve_release(L"changed-files-named"));
  ASSERT_TRUE(purge_edge_caches());
  const std::string next = package_of(L"changed-files-named");
  // The edge fetches the new package once (a player before us asked for it)...
  uint64_t size = read_bytes(fixture_path(L"releases/changed-files-named/" + std::wstring(next.begin(), next.end()))).size();
  range_sink warm = {take_nothing, nullptr};
  ASSERT_TRUE(download_range((host_at(EDGE_A_PORT_OFFSET) + std::wstring(next.begin(), next.end())).c_str(), 0, size,
                             size, &warm));
  access_log ranges(L"edge-a");
  said = run(&result);
  ASSERT_TRUE(result) << text(said);
  expect_client_of(L"changed-files-named");
  // ...and answers our ranges from its cache.
  std::vector<std::string> got = answers(ranges, next);
  ASSERT_FALSE(got.empty()) << text(said);
  for (const std::string& answer : got) EXPECT_EQ(answer, "206 HIT");
}

// An edge that is down hands over to the next host; the origin down, an edge answers from its
// cache.
TEST_F(Cdn, FallbacksTakeOverFromADownEdgeAndFromADownOrigin) {
  use_hosts({NOTHING_PORT_OFFSET, EDGE_B_PORT_OFFSET, 0});
  install_good_client();
  ASSERT_TRUE(serve_release(L"changed-files-named"));
  int result = 0;
  std::vector<std::string> said = run(&result);
  ASSERT_TRUE(result) << text(said);
  EXPECT_TRUE(has(said, "Echec sur l'hote " + name_at(NOTHING_PORT_OFFSET) + ": les telechargements passent a " +
                            name_at(EDGE_B_PORT_OFFSET) + "."))
      << text(said);
  EXPECT_TRUE(has(said, "Servi par " + name_at(EDGE_B_PORT_OFFSET) + ": dl/Vorna380.release.manifest.")) << text(said);
  expect_client_of(L"changed-files-named");

  // The origin fails every release path; the edge still holds what the update needs.
  use_hosts({0, EDGE_B_PORT_OFFSET});
  install_good_client();
  ASSERT_TRUE(write_bytes(join(release_server_dir(), L"www/server-error"), "down\n"));
  access_log edge(L"edge-b");
  said = run(&result);
  ASSERT_TRUE(result) << text(said);
  EXPECT_TRUE(has(said, "Echec sur l'hote " + name_at(0) + ": les telechargements passent a " +
                            name_at(EDGE_B_PORT_OFFSET) + "."))
      << text(said);
  expect_client_of(L"changed-files-named");
  EXPECT_FALSE(answers(edge, "dl/Vorna380.release.manifest").empty());
}

// While a release is published, an edge may hold the manifest of one release and fetch the
// signature of the next, or the reverse. The pair is asked again past the caches, and the run
// ends ready on one release, never on a mix and never with the signature error.
TEST_F(Cdn, AStaleManifestOrSignatureIsAskedAgainPastTheCaches) {
  use_hosts({EDGE_A_PORT_OFFSET});
  install_good_client();
  ASSERT_TRUE(serve_release(L"good-named"));
  const std::wstring manifest = host_at(EDGE_A_PORT_OFFSET) + L"dl/Vorna380.release.manifest";
  ASSERT_TRUE(download_small_once(manifest.c_str(), (root / L"warm.tmp").c_str()));  // the edge keeps it
  ASSERT_TRUE(serve_release(L"changed-files-named"));
  int result = 0;
  std::vector<std::string> said = run(&result);
  ASSERT_TRUE(result) << text(said);
  EXPECT_TRUE(has(said, "Manifeste et signature en desaccord: nouvelle demande sans cache.")) << text(said);
  expect_client_of(L"changed-files-named");

  // Back to the first release at the origin: the edge's signature is the stale one now.
  ASSERT_TRUE(serve_release(L"good-named"));
  said = run(&result);
  ASSERT_TRUE(result) << text(said);
  EXPECT_TRUE(has(said, "Manifeste et signature en desaccord: nouvelle demande sans cache.")) << text(said);
  expect_client_of(L"good-named");
}

// The origin cuts every answer for the package after 32 KiB; the next host holds the same
// file: the download stopped on the origin is resumed there, under the origin's validator.
TEST_F(Cdn, APackageStoppedOnOneHostIsResumedFromTheNext) {
  use_hosts({0, OTHER_ORIGIN_PORT_OFFSET});
  ASSERT_TRUE(serve_release(L"package-cut"));
  const std::wstring package = fixture_path(L"releases/good/dl/Vorna380-client-dev-test-1.zip");
  const std::wstring fault = join(release_server_dir(), L"fault");
  ASSERT_TRUE(link_or_copy_tree(package, join(fault, L"Vorna380-client-dev-test-1.zip")));
  ASSERT_TRUE(make_dirs(join(fault, L"cut")));
  ASSERT_TRUE(link_or_copy_tree(package, join(join(fault, L"cut"), L"Vorna380-client-dev-test-1.zip")));
  int result = 0;
  std::vector<std::string> said = run(&result);
  remove_tree(join(fault, L"cut"));
  remove_tree(join(fault, L"Vorna380-client-dev-test-1.zip"));
  ASSERT_TRUE(result) << text(said);
  EXPECT_TRUE(has(said, "Echec sur l'hote " + name_at(0) + ": les telechargements passent a " +
                            name_at(OTHER_ORIGIN_PORT_OFFSET) + "."))
      << text(said);
  bool resumed = false;
  for (const std::string& line : said) resumed = resumed || line.rfind("Reprise du telechargement du package apres ", 0) == 0;
  EXPECT_TRUE(resumed) << text(said);
  EXPECT_TRUE(has(said, "Servi par " + name_at(OTHER_ORIGIN_PORT_OFFSET) + ": fault/cut/Vorna380-client-dev-test-1.zip."))
      << text(said);
  EXPECT_TRUE(has(said, k_done)) << text(said);
}
