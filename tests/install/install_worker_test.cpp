// The install worker run in the test process, with no window, against the real release server
// serving releases published by the project's own tool.
#include <algorithm>
#include <map>
#include <regex>

#include "core/text.h"
#include "install/install_worker.h"
#include "install_fixture.h"
#include "install_test_platform.h"
#include "support/release_server.h"

namespace {
const char k_manifest[] = "Verification de la release officielle...";
const char k_installed[] = "Controle complet des fichiers installes...";
const char k_staged[] = "Recherche d'un client deja telecharge et valide...";
const char k_staged_found[] = "Client deja telecharge et valide. Reprise de l'activation sans telechargement...";
const char k_package[] = "Recherche d'un package deja telecharge et valide...";
const char k_package_found[] = "Package deja telecharge et valide. Aucun nouveau telechargement necessaire...";
const char k_download[] = "Telechargement automatique du client complet (premier lancement)...";
const char k_package_check[] = "Verification SHA-256 du package telecharge...";
const char k_extract[] = "Extraction securisee du client...";
const char k_extracted[] = "Verification de tous les fichiers extraits...";
const char k_light[] = "Mise a jour legere du launcher graphique...";
const char k_skills[] = "Import des ateliers gemmotaille...";
const char k_bestiary[] = "Import du routage Bestiaire...";
const char k_light_check[] = "Launcher graphique importe sans telechargement complet. Verification...";
const char k_activating[] = "Installation de la release validee...";
const char k_done[] = "Installation terminee. Pret a jouer.";
const char k_valid[] = "Client officiel valide. Pret a jouer.";
const char k_imported[] = "Launcher importe. Client officiel valide. Pret a jouer.";
const char k_no_manifest[] = "Impossible de telecharger le manifeste de securite.";
const char k_bad_signature[] = "La signature de la release est invalide. Installation bloquee.";
const char k_older[] = "Cette release est plus ancienne que celle deja installee. Installation bloquee.";
const char k_expired[] = "Cette release a expire. Verifiez la date et l'heure de l'ordinateur. Installation bloquee.";
const char k_no_space[] = "Espace disque insuffisant. Il faut environ 6 Go libres pour installer ou reparer Vorna380.";
const char k_download_failed[] = "Le telechargement du client a echoue.";
const char k_package_bad[] = "Package altere, incomplet ou de taille incorrecte. Installation bloquee.";
const char k_extract_failed[] = "L'extraction du client a echoue.";
const char k_mismatch[] = "Un fichier extrait ne correspond pas a la release officielle.";

const char k_manifest_path[] = "/dl/Vorna380.release.manifest";
const char k_signature_path[] = "/dl/Vorna380.release.manifest.sig";
const char k_package_path[] = "/dl/Vorna380-client-dev-test-1.zip";

typedef std::vector<std::string> lines;

// What the worker says, in order: the first steps of every run and of the full path.
lines with(lines first, const lines& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}
const lines k_to_installed = {k_manifest, k_installed};
const lines k_to_package = {k_manifest, k_installed, k_staged, k_package};
const lines k_download_to_end = {k_download, k_package_check, k_extract, k_extracted, k_activating, k_done};
const lines k_light_rows = {k_light, k_skills, k_bestiary};

class InstallWorker : public InstallTest {
 protected:
  std::wstring package = root / L"Vorna380.package.zip";
  std::wstring mark = root / L"release-sequence.txt";

  void SetUp() override { REQUIRE_RELEASE_SERVER(); }

  // One run, true when it ended ready; the journal lines the worker wrote itself (status
  // texts and endings), in order.
  int run(lines* said, size_t* from = nullptr) {
    size_t start = journal.messages().size();
    int result = run_install_worker();
    std::vector<std::string> all = journal.messages();
    said->clear();
    for (size_t i = start; i < all.size(); ++i) {
      if (is_worker_text(all[i])) said->push_back(all[i]);
    }
    if (from != nullptr) *from = start;
    return result;
  }
  // The whole journal, for the message of a failed check.
  std::string journal_text() const {
    std::string text;
    for (const std::string& line : journal.messages()) text += "\n  " + line;
    return text;
  }
  static bool is_worker_text(const std::string& line) {
    static const std::regex own(
        "(Verification|Controle|Recherche|Client|Package|Telechargement|Extraction|Mise a jour|Import|Launcher|"
        "Installation|Impossible|La signature|Cette release|Espace|Le telechargement|L'extraction|Un fichier).*");
    // The extraction's own lines ("Extraction: ...") say why, not what the player is shown.
    return std::regex_match(line, own) && line.find("Client.") == std::string::npos &&
           line.rfind("Verification de securite :", 0) != 0 && line.rfind("Extraction: ", 0) != 0;
  }
  // The paths asked of the server since the log was opened.
  static lines requested(const access_log& log, const std::string& last) {
    static const std::regex get("\"GET (/[^ ]*) HTTP");
    std::string text = log.since(last);
    lines paths;
    for (std::sregex_iterator it(text.begin(), text.end(), get), end; it != end; ++it) paths.push_back((*it)[1]);
    return paths;
  }
  // Every entry under the root but the journal and the manifest copies, each file with its
  // size and its first and last bytes: what "nothing changed on disk" compares.
  std::map<std::wstring, std::string> disk_state() const {
    std::map<std::wstring, std::string> state;
    add_state(root.path, L"", &state);
    return state;
  }
  static void add_state(const std::wstring& folder, const std::wstring& prefix,
                        std::map<std::wstring, std::string>* state) {
    for (const std::wstring& name : folder_names(folder)) {
      std::wstring relative = prefix + name;
      if (relative == L"launcher.log" || relative.rfind(L"release.manifest", 0) == 0) continue;
      std::wstring path = join(folder, name);
      std::vector<std::wstring> inside = folder_names(path);
      if (!inside.empty()) {
        (*state)[relative] = "folder";
        add_state(path, relative + L"/", state);
        continue;
      }
      std::string bytes = read_bytes(path);
      (*state)[relative] = std::to_string(bytes.size()) + ":" + bytes.substr(0, 32) +
                           (bytes.size() > 64 ? bytes.substr(bytes.size() - 32) : std::string());
    }
  }
  // The installed client matches the published one in its list and in a few files.
  void expect_published_client(const std::wstring& folder) const {
    std::wstring published = fixture_path(L"releases/client/Client");
    for (const wchar_t* name : {L"client-integrity.sha256", L"Tarvo.exe", L"Moorbridge.exe"}) {
      EXPECT_EQ(read_bytes(join(folder, name)), read_bytes(join(published, name))) << to_utf8(name);
    }
  }
  // Replaces a file without writing into it: installed files may be hard links to fixtures.
  static void rewrite(const std::wstring& path, const std::string& bytes) {
    remove_tree(path);
    ASSERT_TRUE(write_bytes(path, bytes));
  }
};

std::string package_fixture() { return read_bytes(fixture_path(L"releases/good/dl/Vorna380-client-dev-test-1.zip")); }
}  // namespace

TEST(DiskSpaceRule, TwicePackageAndReserveInUnsigned64Bits) {
  EXPECT_EQ(enough_disk_space(6442450944u, 2684354560u), 1);
  EXPECT_EQ(enough_disk_space(6442450943u, 2684354560u), 0);
  EXPECT_EQ(enough_disk_space(UINT64_MAX, 0), 1);
  // Twice such sizes wraps around 2^64 to a small figure: never taken as enough.
  EXPECT_EQ(enough_disk_space(UINT64_MAX, UINT64_MAX / 2), 0);
  EXPECT_EQ(enough_disk_space(UINT64_MAX, UINT64_MAX - DISK_RESERVE_BYTES + 1), 0);
}

// First run, second run, older and unnumbered releases refused, then a release that changes
// only the individually published files, with the high-water mark of the release sequence.
TEST_F(InstallWorker, ReleasesInTurnFromFirstRunToPinnedOnlyUpdate) {
  lines said;
  ASSERT_TRUE(serve_release(L"sequence-5"));
  {
    access_log log;
    ASSERT_TRUE(run(&said)) << journal_text();
    EXPECT_EQ(said, with(k_to_package, k_download_to_end));
    // The package's first byte for its validator, then the package.
    EXPECT_EQ(requested(log, k_package_path),
              (lines{k_manifest_path, k_signature_path, k_package_path, k_package_path}));
  }
  expect_published_client(client);
  EXPECT_EQ(read_bytes(root / L"installed-release.txt"), "dev-test-1");
  EXPECT_EQ(read_bytes(mark), "5");
  EXPECT_FALSE(file_exists(package));
  EXPECT_FALSE(file_exists(staging));
  EXPECT_TRUE(rollbacks().empty());

  {
    access_log log;
    ASSERT_TRUE(run(&said)) << journal_text();
    EXPECT_EQ(said, with(k_to_installed, {k_valid}));
    EXPECT_EQ(requested(log, k_signature_path), (lines{k_manifest_path, k_signature_path}));
  }

  std::map<std::wstring, std::string> installed = disk_state();
  for (const wchar_t* older : {L"sequence-4", L"good"}) {
    ASSERT_TRUE(serve_release(older));
    size_t from = 0;
    ASSERT_FALSE(run(&said, &from)) << journal_text() << to_utf8(older);
    EXPECT_EQ(said, (lines{k_manifest, k_older}));
    std::vector<std::string> all = journal.messages();
    EXPECT_NE(std::find(all.begin() + from, all.end(),
                        std::string("Release servie de sequence ") + (older[0] == L'g' ? "absente" : "4") +
                            ", sequence deja installee 5."),
              all.end());
    EXPECT_TRUE(disk_state() == installed) << to_utf8(older);
  }

  ASSERT_TRUE(serve_release(L"sequence-5"));
  ASSERT_TRUE(run(&said)) << journal_text();
  EXPECT_EQ(said, with(k_to_installed, {k_valid}));
  EXPECT_EQ(read_bytes(mark), "5");

  // The next release differs only in one individually published file: the installed client
  // has the file and the list of the release before.
  std::wstring list = join(client, L"client-integrity.sha256");
  std::string before = read_bytes(list);
  std::string current = sha256_hex(read_bytes(join(client, L"Moorbridge.exe")));
  size_t at = before.find(current);
  ASSERT_NE(at, std::string::npos);
  rewrite(join(client, L"Moorbridge.exe"), "updater of the release before");
  rewrite(list, before.replace(at, current.size(), sha256_hex("updater of the release before")));
  ASSERT_TRUE(serve_release(L"sequence-6"));
  access_log log;
  ASSERT_TRUE(run(&said)) << journal_text();
  EXPECT_EQ(said, with(with(k_to_installed, k_light_rows), {k_light_check, k_imported}));
  lines paths = requested(log, "/dl/client-integrity.sha256");
  EXPECT_EQ(paths.size(), 11u);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), k_package_path), 0);
  expect_published_client(client);
  EXPECT_EQ(read_bytes(mark), "6");
  EXPECT_TRUE(rollbacks().empty());
}

// Trailing white space belongs to the mark's number. A mark that is there but unreadable
// still refuses an unnumbered release; a numbered one is taken and becomes the mark.
TEST_F(InstallWorker, SequenceMarkTakesTrailingSpaceAndAnUnreadableOneRefusesUnnumberedReleases) {
  lines said;
  ASSERT_TRUE(serve_release(L"sequence-4"));
  for (const char* text : {"5\n", "5\r\n", "5 \t\r\n"}) {
    rewrite(mark, text);
    EXPECT_FALSE(run(&said)) << journal_text();
    EXPECT_EQ(said, (lines{k_manifest, k_older})) << text;
    EXPECT_EQ(read_bytes(mark), text);
  }
  for (std::string text : {"", "5x", " 5", "0", "a folder"}) {
    remove_tree(mark);
    ASSERT_TRUE(text == "a folder" ? make_dirs(mark) : write_bytes(mark, text));
    ASSERT_TRUE(serve_release(L"good"));
    size_t from = 0;
    EXPECT_FALSE(run(&said, &from)) << journal_text();
    EXPECT_EQ(said, (lines{k_manifest, k_older})) << text;
    std::vector<std::string> all = journal.messages();
    for (const char* line : {"Marqueur de sequence illisible: seule une release numerotee est acceptee.",
                             "Release servie de sequence absente, marqueur de sequence illisible."}) {
      EXPECT_NE(std::find(all.begin() + from, all.end(), line), all.end()) << text << ": " << line;
    }
    ASSERT_TRUE(serve_release(L"sequence-4"));
    EXPECT_TRUE(run(&said)) << journal_text();
    EXPECT_EQ(read_bytes(mark), "4") << text;
  }
}

// The light update fails at the seventh row (its file is not published), the full path
// follows; the game still running from the old client is ended and the old client kept.
TEST_F(InstallWorker, FailedLightUpdateFallsBackToTheFullPath) {
  for (const wchar_t* folder : {L"data/common", L"ui/Orlune_Common", L"ui/Orlune_Taxi"}) {
    ASSERT_TRUE(make_dirs(join(client, folder)));
  }
  std::wstring helper = join(client, L"client_helper.exe");
  ASSERT_TRUE(copy_helper(helper));
  program_guard game{start_waiting_helper(helper, root / L"ready")};
  ASSERT_NE(game.program, 0);
  // A transfer that stalled in an earlier run left part of the package.
  ASSERT_TRUE(write_bytes(package, package_fixture().substr(0, 1048576)));
  ASSERT_TRUE(serve_release(L"missing-delta"));
  access_log log;
  lines said;
  ASSERT_TRUE(run(&said)) << journal_text();
  EXPECT_EQ(said, with(with(k_to_installed, k_light_rows), with({k_staged, k_package}, k_download_to_end)));
  // The update by the file reads the list and the package's directory, then finds that nearly
  // every file is missing: the full download follows (its validator asked first). The stalled
  // part has no resume record, so it goes.
  lines paths = requested(log, k_package_path);
  ASSERT_EQ(paths.size(), 14u);
  EXPECT_EQ(paths[8], "/dl/client-delta/Taxi.swf");
  EXPECT_EQ(paths[9], "/dl/client-integrity.sha256");
  EXPECT_EQ(lines(paths.begin() + 10, paths.end()),
            (lines{k_package_path, k_package_path, k_package_path, k_package_path}));

  EXPECT_EQ(program_ending(&game.program, 10000), k_activation_ending);
  std::vector<std::string> all = journal.messages();
  EXPECT_EQ(
      std::count_if(all.begin(), all.end(),
                    [](const std::string& line) { return line.rfind("Fermeture du processus Vorna380 ", 0) == 0; }),
      1);
  expect_published_client(client);
  EXPECT_FALSE(file_exists(package));
  std::vector<std::wstring> kept = rollbacks();
  ASSERT_EQ(kept.size(), 1u);
  // The rows before the failing one were replaced in the old client; the one after was not.
  EXPECT_EQ(read_bytes(join(kept[0], L"Moorbridge.exe")), dev_content("pin_updater"));
  EXPECT_EQ(read_bytes(join(kept[0], L"ui/Orlune_Common/Common.swf")), dev_content("C10"));
  EXPECT_FALSE(file_exists(join(kept[0], L"ui/Orlune_ContextMenu")));
  EXPECT_TRUE(file_exists(join(kept[0], L"client_helper.exe")));
}

TEST_F(InstallWorker, StagedClientOrPackageLeftBehindIsUsedWithoutDownload) {
  ASSERT_TRUE(serve_release(L"good"));
  ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/client/Client"), staging));
  lines said;
  {
    access_log log;
    ASSERT_TRUE(run(&said)) << journal_text();
    EXPECT_EQ(said, with(k_to_installed, {k_staged, k_staged_found, k_activating, k_done}));
    EXPECT_EQ(requested(log, k_signature_path), (lines{k_manifest_path, k_signature_path}));
  }
  expect_published_client(client);
  EXPECT_FALSE(file_exists(staging));

  // Then a package left by a run whose extraction failed, beside the partial staging folder.
  remove_tree(client);
  ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/good/dl/Vorna380-client-dev-test-1.zip"), package));
  ASSERT_TRUE(make_dirs(join(staging, L"data")));
  ASSERT_TRUE(write_bytes(join(staging, L"data/partial.bin"), "cut short"));
  access_log log;
  ASSERT_TRUE(run(&said)) << journal_text();
  EXPECT_EQ(said, with(k_to_package, {k_package_found, k_extract, k_extracted, k_activating, k_done}));
  EXPECT_EQ(requested(log, k_signature_path), (lines{k_manifest_path, k_signature_path}));
  expect_published_client(client);
  EXPECT_FALSE(file_exists(join(client, L"data/partial.bin")));
  EXPECT_FALSE(file_exists(package));
  EXPECT_FALSE(file_exists(staging));
}

// Nothing the server gives can be trusted before the signed manifest is: no change on disk.
TEST_F(InstallWorker, UnusableManifestEndsTheRunWithNothingChanged) {
  ASSERT_TRUE(make_dirs(join(client, L"data")));
  ASSERT_TRUE(write_bytes(join(client, L"Tarvo.exe"), "installed game"));
  ASSERT_TRUE(write_bytes(package, "part of a package"));
  ASSERT_TRUE(make_dirs(join(staging, L"data")));
  ASSERT_TRUE(write_bytes(join(staging, L"data/partial.bin"), "cut short"));
  std::map<std::wstring, std::string> before = disk_state();
  std::wstring trust = fixture_path(L"trust");
  std::string manifest = read_bytes(join(trust, L"release.manifest"));
  std::string over = std::string(1048577, '#');
  struct fault {
    const char* name;
    std::wstring tree;
    std::wstring path;  // served in addition ("dl/..."), or removed when bytes is "remove"
    std::string bytes;
    const char* ending;
  } faults[] = {
      {"manifest missing", L"good", L"dl/Vorna380.release.manifest", "remove", k_no_manifest},
      {"signature missing", L"good", L"dl/Vorna380.release.manifest.sig", "remove", k_no_manifest},
      {"server error", L"good", L"server-error", "500", k_no_manifest},
      {"manifest too large", L"good", L"dl/Vorna380.release.manifest", over, k_no_manifest},
      {"wrong signature", L"bad-signature", L"", "", k_bad_signature},
      {"other key", L"good", L"dl/Vorna380.release.manifest.sig",
       read_bytes(join(trust, L"release.manifest.other-key.sig")), k_bad_signature},
      {"signature too large", L"good", L"dl/Vorna380.release.manifest.sig", std::string(4097, 's'), k_bad_signature},
  };
  for (const fault& f : faults) {
    ASSERT_TRUE(serve_release(f.tree));
    if (f.bytes == "remove") {
      remove_tree(join(join(release_server_dir(), L"www"), f.path));
    } else if (!f.path.empty()) {
      ASSERT_TRUE(serve_file(f.path, f.bytes));
      if (std::string(f.name) == "other key") {
        ASSERT_TRUE(serve_file(L"dl/Vorna380.release.manifest", manifest));
      }
    }
    lines said;
    EXPECT_FALSE(run(&said)) << journal_text() << f.name;
    EXPECT_EQ(said, (lines{k_manifest, f.ending})) << f.name;
    EXPECT_TRUE(disk_state() == before) << f.name;
  }
}

// The served release expired long ago: refused with both times journalled, nothing changed on
// disk. The same release signed by the profile's next key is trusted.
TEST_F(InstallWorker, ExpiredReleaseIsRefusedAndOneSignedByTheNextKeyIsTrusted) {
  ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/client/Client"), client));
  std::map<std::wstring, std::string> before = disk_state();
  ASSERT_TRUE(serve_release(L"expired"));
  lines said;
  size_t from = 0;
  ASSERT_FALSE(run(&said, &from)) << journal_text();
  EXPECT_EQ(said, (lines{k_manifest, k_expired}));
  static const std::regex both_times(
      "Release servie valable jusqu'au 2001-02-03T04:05:06Z, horloge de l'ordinateur a "
      "2[0-9]{3}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]Z \\(UTC\\)\\.");
  std::vector<std::string> all = journal.messages();
  EXPECT_EQ(std::count_if(all.begin() + from, all.end(),
                          [](const std::string& line) { return std::regex_match(line, both_times); }),
            1)
      << journal_text();
  EXPECT_TRUE(disk_state() == before);

  // Signed before expiry existed: this build requires an expiry time.
  ASSERT_TRUE(serve_release(L"no-expiry"));
  ASSERT_FALSE(run(&said, &from)) << journal_text();
  EXPECT_EQ(said, (lines{k_manifest, k_expired}));
  all = journal.messages();
  EXPECT_EQ(std::count(all.begin() + from, all.end(),
                       "Release servie sans date d'expiration: ce launcher n'accepte que des releases qui expirent."),
            1)
      << journal_text();
  EXPECT_TRUE(disk_state() == before);

  ASSERT_TRUE(serve_release(L"next-key"));
  ASSERT_TRUE(run(&said)) << journal_text();
  EXPECT_EQ(said, with(k_to_installed, {k_valid}));
}

// Packages that fail after the download, each run on what the one before left.
TEST_F(InstallWorker, BadPackagesEndTheRunKeepingWhatTheNextRunCanUse) {
  ASSERT_TRUE(make_dirs(join(staging, L"data")));
  ASSERT_TRUE(write_bytes(join(staging, L"data/partial.bin"), "cut short"));
  lines said;
  struct fault {
    const wchar_t* tree;
    lines after_download;
    bool package_kept;
  } faults[] = {
      {L"missing-package", {k_download_failed}, false},
      {L"package-size", {k_package_check, k_package_bad}, false},
      {L"package-digest", {k_package_check, k_package_bad}, false},
      {L"package-garbage", {k_package_check, k_extract, k_extract_failed}, true},
      {L"package-altered-file", {k_package_check, k_extract, k_extracted, k_mismatch}, true},
  };
  for (const fault& f : faults) {
    ASSERT_TRUE(serve_release(f.tree));
    ASSERT_FALSE(run(&said)) << journal_text() << to_utf8(f.tree);
    EXPECT_EQ(said, with(k_to_package, with({k_download}, f.after_download))) << to_utf8(f.tree);
    EXPECT_EQ(file_exists(package), f.package_kept) << to_utf8(f.tree);
    // A stale staging folder goes before the download, so that it never counts against the
    // free space.
    EXPECT_FALSE(file_exists(join(staging, L"data/partial.bin"))) << to_utf8(f.tree);
    EXPECT_FALSE(file_exists(client)) << to_utf8(f.tree);
  }
  // The extracted client with its altered file stays staged; the package stays for the next run.
  EXPECT_NE(read_bytes(join(staging, L"Tarvo.exe")), read_bytes(fixture_path(L"releases/client/Client/Tarvo.exe")));
  EXPECT_EQ(read_bytes(package).size(),
            read_bytes(fixture_path(L"releases/package-altered-file/dl/Vorna380-client-dev-test-1.zip")).size());
  EXPECT_TRUE(rollbacks().empty());
}

// A small volume (a tmpfs mounted around the test by ctest) holds the launcher root.
TEST_F(InstallWorker, TooLittleFreeSpaceStopsOnlyTheDownloadPath) {
  std::wstring volume = SMALL_VOLUME_PATH;
  if (!file_exists(join(volume, L"mounted"))) {
    if (release_server_required()) FAIL() << "no small volume mounted at " << to_utf8(volume);
    GTEST_SKIP() << "no small volume: run this test through ctest";
  }
  std::wstring small_root = join(volume, L"root");
  remove_tree(small_root);
  ASSERT_TRUE(make_dirs(small_root));
  std::wstring small_client = join(small_root, L"Client");
  copy_text(g_root, PATH_UNITS, small_root.c_str());
  copy_text(g_client, PATH_UNITS, small_client.c_str());
  ASSERT_TRUE(serve_release(L"good"));
  lines said;
  {
    access_log log;
    EXPECT_FALSE(run(&said)) << journal_text();
    EXPECT_EQ(said, with(k_to_package, {k_no_space}));
    EXPECT_EQ(requested(log, k_signature_path), (lines{k_manifest_path, k_signature_path}));
    EXPECT_EQ(folder_names(small_root).size(), 2u);  // the manifest copies
  }
  // A valid staging folder needs no space: it is activated whatever is free.
  ASSERT_TRUE(link_or_copy_tree(fixture_path(L"releases/client/Client"), join(small_root, L"Client.new")));
  EXPECT_TRUE(run(&said)) << journal_text();
  EXPECT_EQ(said, with(k_to_installed, {k_staged, k_staged_found, k_activating, k_done}));
  expect_published_client(small_client);
  remove_tree(small_root);
}
