// The worker of a copy of the launcher built with crash points (crash_runner) killed at each of
// its named points and started again, against the real release server: the next start ends
// ready with a client that verifies, the package fetched once in all, the old client kept in
// its rollback folder, both marks whole, and nothing left behind that no step reuses.
#include <algorithm>
#include <chrono>
#include <thread>
#include <random>
#include <regex>

#include "install_fixture.h"
#include "install_test_platform.h"
#include "support/release_server.h"

namespace {
const char k_download[] = "Telechargement automatique du client complet (premier lancement)...";
const char k_package_found[] = "Package deja telecharge et valide. Aucun nouveau telechargement necessaire...";
const char k_staged_found[] = "Client deja telecharge et valide. Reprise de l'activation sans telechargement...";
const char k_done[] = "Installation terminee. Pret a jouer.";
const char k_valid[] = "Client officiel valide. Pret a jouer.";
const char k_imported[] = "Launcher importe. Client officiel valide. Pret a jouer.";
const char k_package_path[] = "/dl/Vorna380-client-dev-test-1.zip";
const char k_version[] = "dev-test-1";

// What the root holds before the first, killed, start.
enum start_state {
  FIRST_INSTALL,  // nothing; release sequence 5 served
  UPDATE,         // an older client that no light update repairs, its marker, mark 4; sequence 5 served
  PINNED_UPDATE,  // the client one pinned file behind, mark 5; sequence 6 served
  STAGED,         // a valid "Client.new" left by a start before; sequence 5 served
  PACKAGED,       // a valid package left by a start before; sequence 5 served
};

struct cell {
  const char* point;
  start_state start;
  const char* resumed;  // the line of the next start that shows how it took up the work
};

const cell k_cells[] = {
    {"after-status-manifest", FIRST_INSTALL, k_download},
    {"after-status-installed-check", FIRST_INSTALL, k_download},
    {"after-status-staged-check", FIRST_INSTALL, k_download},
    {"after-status-package-check", FIRST_INSTALL, k_download},
    {"after-status-download", FIRST_INSTALL, k_download},
    {"after-status-package-digest", FIRST_INSTALL, k_package_found},
    {"after-status-extraction", FIRST_INSTALL, k_package_found},
    {"after-status-extracted-check", FIRST_INSTALL, k_staged_found},
    {"after-status-activation", FIRST_INSTALL, k_staged_found},
    {"after-status-closing-processes", FIRST_INSTALL, k_staged_found},
    {"after-activation-move", FIRST_INSTALL, k_valid},
    {"half-written:installed-release.txt", FIRST_INSTALL, k_valid},
    {"after-release-marker", FIRST_INSTALL, k_valid},
    {"after-package-deleted", FIRST_INSTALL, k_valid},
    {"half-written:release-sequence.txt", FIRST_INSTALL, k_valid},
    {"after-status-ready", FIRST_INSTALL, k_valid},
    {"after-status-staged-found", STAGED, k_staged_found},
    {"after-status-package-found", PACKAGED, k_package_found},
    {"after-status-light-launcher", UPDATE, k_download},
    {"pinned-file-downloaded", UPDATE, k_download},
    {"after-status-light-skills", UPDATE, k_download},
    {"after-status-package-digest", UPDATE, k_package_found},
    {"after-status-extracted-check", UPDATE, k_staged_found},
    {"after-status-closing-processes", UPDATE, k_staged_found},
    {"between-activation-moves", UPDATE, k_staged_found},
    {"after-activation-move", UPDATE, k_valid},
    {"half-written:installed-release.txt", UPDATE, k_valid},
    {"half-written:release-sequence.txt", UPDATE, k_valid},
    {"after-status-light-launcher", PINNED_UPDATE, k_imported},
    {"pinned-file-downloaded", PINNED_UPDATE, k_imported},
    {"after-status-light-skills", PINNED_UPDATE, k_imported},
    {"after-status-light-bestiary", PINNED_UPDATE, k_imported},
    {"after-status-light-check", PINNED_UPDATE, k_valid},
    {"half-written:release-sequence.txt", PINNED_UPDATE, k_valid},
};

class CrashTest : public InstallTest {
 protected:
  std::wstring published = fixture_path(L"releases/client/Client");
  std::wstring marker = root / L"installed-release.txt";
  std::wstring mark = root / L"release-sequence.txt";

  void SetUp() override { REQUIRE_RELEASE_SERVER(); }
  void TearDown() override { set_variable(L"VORNA380_CRASH_AT", L""); }
  void run_cells(start_state state);

  // One start of the test copy, killed at point unless it is empty: how it ended.
  int start(const std::string& point) {
    set_variable(L"VORNA380_CRASH_AT", from_utf8(point));
    intptr_t runner = start_program({CRASH_RUNNER_PATH, root.path});
    set_variable(L"VORNA380_CRASH_AT", L"");
    int ending = runner == 0 ? k_still_running : program_ending(&runner, 300000);
    if (runner != 0) end_program_now(&runner);
    return ending;
  }
  void prepare(start_state state) {
    for (const std::wstring& name : folder_names(root.path)) {
      if (name != L"launcher.log") remove_tree(root / name);
    }
    if (state == UPDATE) {
      make_release(client, "old");
      ASSERT_TRUE(write_bytes(marker, "old-release"));
      ASSERT_TRUE(write_bytes(mark, "4"));
    } else if (state == PINNED_UPDATE) {
      // The installed client has the updater and the list of the release before.
      ASSERT_TRUE(link_or_copy_tree(published, client));
      std::wstring list = join(client, L"client-integrity.sha256");
      std::string before = read_bytes(list);
      std::string current = sha256_hex(read_bytes(join(client, L"Moorbridge.exe")));
      size_t at = before.find(current);
      ASSERT_NE(at, std::string::npos);
      replace(join(client, L"Moorbridge.exe"), "updater of the release before");
      replace(list, before.replace(at, current.size(), sha256_hex("updater of the release before")));
      ASSERT_TRUE(write_bytes(marker, k_version));
      ASSERT_TRUE(write_bytes(mark, "5"));
    } else if (state == STAGED) {
      ASSERT_TRUE(link_or_copy_tree(published, staging));
    } else if (state == PACKAGED) {
      ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/good/dl/Vorna380-client-dev-test-1.zip"),
                                    root / L"Vorna380.package.zip"));
    }
    ASSERT_TRUE(serve_release(state == PINNED_UPDATE ? L"sequence-6" : L"sequence-5"));
  }
  // Installed files may be hard links to the fixtures: replaced, never written into.
  static void replace(const std::wstring& path, const std::string& bytes) {
    remove_tree(path);
    ASSERT_TRUE(write_bytes(path, bytes));
  }
  std::string content(const std::wstring& path) const { return file_exists(path) ? read_bytes(path) : "absent"; }
  // The client folder passes the built launcher's own check against the release's list.
  bool client_verifies() const {
    std::string digest = sha256_hex(read_bytes(join(published, L"client-integrity.sha256")));
    return run_program({launcher_path(), L"--verify-integrity", client, from_utf8(digest)}, 120000) == 0;
  }
  // Whole downloads of the package (200); the range requests of the update by file do not count.
  static size_t package_downloads(const access_log& log) {
    std::string text = log.since();
    std::string whole = std::string(k_package_path) + " HTTP/1.1\" 200 ";
    size_t count = 0;
    for (size_t at = text.find(whole); at != std::string::npos; at = text.find(whole, at + 1)) ++count;
    return count;
  }
  std::vector<std::string> messages_from(size_t first) const {
    std::vector<std::string> all = journal.messages();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(first, all.size())), all.end());
  }
  static bool holds(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // What the root holds once a start ended ready: nothing but these.
  std::vector<std::wstring> leftovers(bool with_rollback) const {
    std::vector<std::wstring> left;
    for (const std::wstring& name : folder_names(root.path)) {
      static const std::wregex kept(
          L"Client|launcher\\.log|release\\.manifest(\\.sig)?\\.tmp|installed-release\\.txt|release-sequence\\.txt");
      static const std::wregex rollback(L"Client\\.rollback\\.[0-9a-f]{16}\\.[0-9]+");
      if (!std::regex_match(name, kept) && !(with_rollback && std::regex_match(name, rollback))) left.push_back(name);
    }
    return left;
  }
};
}  // namespace

// Each cell of the table from its start state: killed at the point, started again.
void CrashTest::run_cells(start_state state) {
  for (const cell& c : k_cells) {
    if (c.start != state) continue;
    static const char* const starts[] = {" (first install)", " (update)", " (pinned update)", " (staged)",
                                         " (package left)"};
    SCOPED_TRACE(std::string(c.point) + starts[c.start]);
    prepare(c.start);
    std::string marker_before = content(marker);
    std::string mark_before = content(mark);
    std::string mark_after = c.start == PINNED_UPDATE ? "6" : "5";
    access_log log;
    ASSERT_EQ(start(c.point), k_crash_ending) << "the point was not reached";
    std::string marker_now = content(marker);
    std::string mark_now = content(mark);
    EXPECT_TRUE(marker_now == marker_before || marker_now == k_version) << marker_now;
    EXPECT_TRUE(mark_now == mark_before || mark_now == mark_after) << mark_now;

    size_t from = journal.messages().size();
    ASSERT_EQ(start(""), 0) << ::testing::PrintToString(messages_from(from));
    std::vector<std::string> said = messages_from(from);
    EXPECT_TRUE(holds(said, c.resumed)) << ::testing::PrintToString(said);
    const char* ending = c.resumed == k_valid || c.resumed == k_imported ? c.resumed : k_done;
    EXPECT_EQ(said.empty() ? "" : said.back(), ending);
    EXPECT_EQ(package_downloads(log), c.start == FIRST_INSTALL || c.start == UPDATE ? 1u : 0u);
    EXPECT_EQ(content(marker), k_version);
    EXPECT_EQ(content(mark), mark_after);
    std::vector<std::wstring> kept = rollbacks();
    if (c.start == UPDATE) {
      ASSERT_EQ(kept.size(), 1u);
      EXPECT_EQ(release_in(kept[0]), "old");
    } else {
      EXPECT_TRUE(kept.empty());
    }
    EXPECT_EQ(leftovers(c.start == UPDATE), std::vector<std::wstring>());
    EXPECT_TRUE(client_verifies());
  }
}

TEST_F(CrashTest, KilledDuringAFirstInstallTheNextStartEndsReady) { run_cells(FIRST_INSTALL); }
TEST_F(CrashTest, KilledDuringAnUpdateTheNextStartEndsReadyKeepingTheOldClient) { run_cells(UPDATE); }
TEST_F(CrashTest, KilledDuringAPinnedUpdateTheNextStartEndsReady) { run_cells(PINNED_UPDATE); }
TEST_F(CrashTest, KilledWithAStagedClientOrPackageLeftTheNextStartEndsReady) {
  run_cells(STAGED);
  run_cells(PACKAGED);
}

// Killed while it updates itself (the release names as its launcher a file that is no
// program): the installed launcher is untouched at every point, and the next start finds the
// published launcher unusable, refuses it and ends ready with its client.
TEST_F(CrashTest, KilledWhileTheLauncherUpdatesItselfTheNextStartEndsReadyWithTheSameLauncher) {
  std::wstring installed = root / k_installed_launcher_name;
  std::string launcher = read_bytes(launcher_path());
  for (const char* point : {"after-status-launcher-download", "launcher-downloaded", "launcher-verified",
                            "after-status-launcher-handover"}) {
    SCOPED_TRACE(point);
    prepare(PINNED_UPDATE);
    ASSERT_TRUE(write_bytes(installed, launcher));
    ASSERT_TRUE(serve_release(L"launcher-unstartable"));
    ASSERT_EQ(start(point), k_crash_ending) << "the point was not reached";
    EXPECT_EQ(read_bytes(installed), launcher);
    size_t from = journal.messages().size();
    ASSERT_EQ(start(""), 0) << ::testing::PrintToString(messages_from(from));
    std::vector<std::string> said = messages_from(from);
    EXPECT_EQ(said.empty() ? "" : said.back(), k_imported);
    EXPECT_EQ(read_bytes(installed), launcher);
    EXPECT_NE(content(root / L"launcher-update.txt").find(" 2\n"), std::string::npos) << "refused for later starts";
    EXPECT_FALSE(file_exists(root / k_launcher_update_name));
  }
}

// Kills at points drawn at random, one start after the other on what the last left, each
// fetching the package at most once; a start that got through ends the install, and the next
// one begins a new first install.
TEST_F(CrashTest, TwentyRandomKillsDuringFirstInstallsEndReady) {
  std::vector<const char*> points;
  for (const cell& c : k_cells) {
    if (c.start == FIRST_INSTALL) points.push_back(c.point);
  }
  unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 draw(seed);
  prepare(FIRST_INSTALL);
  int kills = 0;
  for (int attempt = 0; kills < 20 && attempt < 60; ++attempt) {
    const char* point = points[draw() % points.size()];
    SCOPED_TRACE(point);
    access_log log;
    int ending = start(point);
    EXPECT_LE(package_downloads(log), 1u);
    if (ending == k_crash_ending) {
      ++kills;
      continue;
    }
    ASSERT_EQ(ending, 0);
    EXPECT_TRUE(client_verifies());
    prepare(FIRST_INSTALL);
  }
  EXPECT_EQ(kills, 20);
  ASSERT_EQ(start(""), 0);
  EXPECT_EQ(content(marker), k_version);
  EXPECT_EQ(leftovers(false), std::vector<std::wstring>());
  EXPECT_TRUE(client_verifies());
}

// The server closes the connection in the middle of the package, on every try of the run: a
// clean failure with nothing activated and the bytes kept; once the server serves the package
// again, the next start fetches only the rest (a 206 under the first answer's validator) and
// installs.
TEST_F(CrashTest, ServerGoneMidPackageFailsCleanlyAndTheNextStartResumes) {
  ASSERT_TRUE(serve_release(L"package-cut"));
  std::wstring cut = join(join(release_server_dir(), L"fault"), L"Vorna380-client-dev-test-1.zip");
  ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/good/dl/Vorna380-client-dev-test-1.zip"), cut));
  size_t from = journal.messages().size();
  EXPECT_EQ(start(""), 1);
  remove_tree(cut);
  std::vector<std::string> first = messages_from(from);
  EXPECT_TRUE(holds(first, "Le telechargement du client a echoue."));
  EXPECT_TRUE(holds(first, "Telechargement du package interrompu: nouvel essai 4/4 dans un instant."));
  EXPECT_FALSE(file_exists(client));
  EXPECT_FALSE(file_exists(staging));
  ASSERT_TRUE(file_exists(root / L"Vorna380.package.zip.resume"));
  ASSERT_TRUE(serve_release(L"good"));
  access_log log;
  from = journal.messages().size();
  ASSERT_EQ(start(""), 0) << ::testing::PrintToString(messages_from(from));
  EXPECT_EQ(package_downloads(log), 0u);
  std::string text = log.since();
  EXPECT_NE(text.find(std::string(k_package_path) + " HTTP/1.1\" 206 "), std::string::npos) << text;
  bool resumed = false;
  for (const std::string& line : messages_from(from)) resumed = resumed || line.rfind("Reprise du telechargement", 0) == 0;
  EXPECT_TRUE(resumed) << ::testing::PrintToString(messages_from(from));
  EXPECT_TRUE(client_verifies());
  EXPECT_FALSE(file_exists(root / L"Vorna380.package.zip.resume"));
}

// The package on the server changed since the first bytes came (its validator is another): the
// rest is answered whole, which the resume refuses, and the package is fetched from its first
// byte, once.
TEST_F(CrashTest, APackageChangedOnTheServerIsFetchedWholeInsteadOfResumed) {
  ASSERT_TRUE(serve_release(L"package-cut"));
  std::wstring cut = join(join(release_server_dir(), L"fault"), L"Vorna380-client-dev-test-1.zip");
  ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/good/dl/Vorna380-client-dev-test-1.zip"), cut));
  EXPECT_EQ(start(""), 1);
  remove_tree(cut);
  std::wstring record = root / L"Vorna380.package.zip.resume";
  std::string kept = read_bytes(record);
  ASSERT_GT(kept.size(), 65u);
  remove_tree(record);
  ASSERT_TRUE(write_bytes(record, kept.substr(0, 65) + "\"an-older-version\"\n"));
  ASSERT_TRUE(serve_release(L"good"));
  access_log log;
  size_t from = journal.messages().size();
  ASSERT_EQ(start(""), 0) << ::testing::PrintToString(messages_from(from));
  EXPECT_TRUE(holds(messages_from(from), "Le package du serveur ne correspond plus au debut telecharge: telechargement complet."));
  // The whole answer to the guarded range, abandoned at its status, then the download.
  EXPECT_EQ(package_downloads(log), 2u);
  EXPECT_TRUE(client_verifies());
}

// The launcher killed in the middle of a running download: the next start keeps the bytes and
// fetches only the rest.
TEST_F(CrashTest, KilledInsideARunningDownloadTheNextStartFetchesOnlyTheRest) {
  ASSERT_TRUE(serve_release(L"package-slow"));
  std::wstring package = root / L"Vorna380.package.zip";
  intptr_t runner = start_program({CRASH_RUNNER_PATH, root.path});
  ASSERT_NE(runner, 0);
  uint64_t size = 0;
  for (int i = 0; i < 600 && size < (8u << 20); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    size = file_exists(package) ? read_bytes(package).size() : 0;
  }
  end_program_now(&runner);
  ASSERT_GE(size, 8u << 20) << "the download never got going";
  ASSERT_TRUE(file_exists(root / L"Vorna380.package.zip.resume"));
  ASSERT_TRUE(serve_release(L"good"));
  access_log log;
  size_t from = journal.messages().size();
  ASSERT_EQ(start(""), 0) << ::testing::PrintToString(messages_from(from));
  bool resumed = false;
  for (const std::string& line : messages_from(from)) resumed = resumed || line.rfind("Reprise du telechargement", 0) == 0;
  EXPECT_TRUE(resumed) << ::testing::PrintToString(messages_from(from));
  // The killed request's own line (under /slow/) may come late: only the release path counts.
  std::string text = log.since();
  EXPECT_EQ(text.find("\"GET " + std::string(k_package_path) + " HTTP/1.1\" 200 "), std::string::npos) << text;
  EXPECT_TRUE(client_verifies());
}
