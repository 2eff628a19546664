// The release hosts a download goes to: URLs moved from the origin to each host, the turn a
// failure passes to the next host, and the bound on one host's errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "release_profile.h"
#include "support/journal_lines.h"
#include "support/test_support.h"
#include "transfer/release_hosts.h"

namespace {
// Three hosts for the test's duration, and the run's counts started afresh.
struct three_hosts {
  const wchar_t* saved[RELEASE_HOSTS_MAX + 1];
  three_hosts() {
    std::copy(g_release_hosts, g_release_hosts + RELEASE_HOSTS_MAX + 1, saved);
    g_release_hosts[0] = VORNA380_RELEASE_ORIGIN;
    g_release_hosts[1] = L"https://edge-b.test/";
    g_release_hosts[2] = L"https://origin.test:8443/";
    g_release_hosts[3] = nullptr;
    reset_release_hosts();
  }
  ~three_hosts() {
    std::copy(saved, saved + RELEASE_HOSTS_MAX + 1, g_release_hosts);
    reset_release_hosts();
  }
};

// Records each URL asked and fails on the hosts it is told to.
struct asking {
  std::vector<std::wstring> asked;
  std::vector<std::wstring> failing;
};
int ask(const wchar_t* url, void* context) {
  asking* hosts = static_cast<asking*>(context);
  hosts->asked.push_back(url);
  for (const std::wstring& host : hosts->failing) {
    if (std::wstring(url).rfind(host, 0) == 0) return 0;
  }
  return 1;
}

const std::wstring k_file = std::wstring(VORNA380_RELEASE_ORIGIN) + L"dl/file.bin";
std::string origin_name() { return to_utf8(VORNA380_ORIGIN_HOST); }
}  // namespace

TEST(ReleaseHosts, AnOriginUrlMovesToEachHostAndRedirectsStayOnThem) {
  three_hosts hosts;
  wchar_t url[256];
  ASSERT_TRUE(url_on_host(k_file.c_str(), 2, url, 256));
  EXPECT_EQ(std::wstring(url), L"https://origin.test:8443/dl/file.bin");
  EXPECT_FALSE(url_on_host(L"https://elsewhere.test/dl/file.bin", 1, url, 256));
  EXPECT_FALSE(url_on_host(k_file.c_str(), 3, url, 256)) << "no fourth host";
  EXPECT_FALSE(url_on_host(k_file.c_str(), 1, url, 20)) << "too long for the buffer";
  EXPECT_TRUE(on_release_host(L"https://edge-b.test/dl/x"));
  EXPECT_TRUE(on_release_host_utf8("https://origin.test:8443/dl/x"));
  for (const char* outside : {"https://edge-b.test.evil/dl/x", "https://origin.test:84430/", "http://edge-b.test/"}) {
    EXPECT_FALSE(on_release_host_utf8(outside)) << outside;
  }
}

TEST(ReleaseHosts, AFailureSendsTheDownloadsOnToTheNextHostWhichTheJournalNames) {
  temp_dir dir;
  journal_capture journal{dir / L"launcher.log"};
  three_hosts hosts;
  asking first = {{}, {VORNA380_RELEASE_ORIGIN, L"https://edge-b.test/"}};
  ASSERT_TRUE(on_release_hosts(k_file.c_str(), ask, &first));
  EXPECT_EQ(first.asked, (std::vector<std::wstring>{k_file, L"https://edge-b.test/dl/file.bin",
                                                     L"https://origin.test:8443/dl/file.bin"}));
  EXPECT_EQ(journal.messages(),
            (std::vector<std::string>{"Echec sur l'hote " + origin_name() + ": les telechargements passent a edge-b.test.",
                                      "Echec sur l'hote edge-b.test: les telechargements passent a origin.test:8443.",
                                      "Servi par origin.test:8443: dl/file.bin."}));
  // The next download starts where the last one was served; all failing, each is asked once.
  asking next = {{}, {VORNA380_RELEASE_ORIGIN, L"https://edge-b.test/", L"https://origin.test:8443/"}};
  EXPECT_FALSE(on_release_hosts(k_file.c_str(), ask, &next));
  ASSERT_EQ(next.asked.size(), 3u);
  EXPECT_EQ(next.asked[0], L"https://origin.test:8443/dl/file.bin");
  // A URL off the origin is asked as it is, once.
  asking other;
  EXPECT_TRUE(on_release_hosts(L"https://elsewhere.test/x", ask, &other));
  EXPECT_EQ(other.asked, std::vector<std::wstring>{L"https://elsewhere.test/x"});
}

TEST(ReleaseHosts, AHostThatSpentItsErrorsIsNotAskedAgainInTheRun) {
  temp_dir dir;
  journal_capture journal{dir / L"launcher.log"};
  three_hosts hosts;
  // Two rounds of failures, and a third for the origin: it has spent its errors.
  for (unsigned i = 0; i < 2 * 3 + 1; ++i) release_host_failed();
  asking second = {{}, {L"https://edge-b.test/"}};
  ASSERT_TRUE(on_release_hosts(k_file.c_str(), ask, &second));
  EXPECT_EQ(second.asked.size(), 2u) << "edge-b, then origin.test";
  asking third = {{}, {L"https://origin.test:8443/"}};
  EXPECT_FALSE(on_release_hosts(k_file.c_str(), ask, &third));
  EXPECT_EQ(third.asked, std::vector<std::wstring>{L"https://origin.test:8443/dl/file.bin"}) << "the origin is passed over";
  EXPECT_EQ(journal.messages().back(),
            "Echec sur l'hote origin.test:8443: plus aucun hote de la release n'est essaye pendant ce lancement.");
  asking none;
  EXPECT_FALSE(on_release_hosts(k_file.c_str(), ask, &none));
  EXPECT_TRUE(none.asked.empty());
}

TEST(ReleaseHosts, WithTheOriginAloneNothingMovesAndNothingIsJournalled) {
  temp_dir dir;
  journal_capture journal{dir / L"launcher.log"};
  const wchar_t* saved[RELEASE_HOSTS_MAX + 1];
  std::copy(g_release_hosts, g_release_hosts + RELEASE_HOSTS_MAX + 1, saved);
  g_release_hosts[1] = nullptr;
  reset_release_hosts();
  asking failing = {{}, {VORNA380_RELEASE_ORIGIN}};
  EXPECT_FALSE(on_release_hosts(k_file.c_str(), ask, &failing));
  EXPECT_EQ(failing.asked.size(), 1u);
  EXPECT_EQ(current_release_host(), 0u);
  EXPECT_TRUE(journal.messages().empty());
  std::copy(saved, saved + RELEASE_HOSTS_MAX + 1, g_release_hosts);
  reset_release_hosts();
}
