// Activation against real folders, real busy folders and real programs started from the client.
#include <algorithm>
#include <chrono>
#include <thread>

#include "core/journal.h"
#include "install/activation.h"
#include "install/leftovers.h"
#include "install/platform.h"
#include "install_fixture.h"
#include "install_test_platform.h"

namespace {
const char k_installing[] = "Installation de la release validee...";
const char k_closing[] = "Fermeture de l'ancienne version Vorna380 avant activation...";
const char k_kept_for_retry[] = ". Le client valide est conserve pour une nouvelle tentative.";

std::string error_label() { return to_utf8(k_system_error_label); }

class Activation : public InstallTest {
 protected:
  wchar_t failure[FAILURE_TEXT_UNITS];
  int activate() { return activate_staged_client(staging.c_str(), failure); }
  std::string failure_text() const { return to_utf8(failure); }
  // The code inside "(erreur ... N)" of the failure text's first parenthesis.
  uint32_t failure_code() const {
    std::string text = failure_text();
    size_t close = text.find(')');
    size_t space = text.rfind(' ', close);
    return static_cast<uint32_t>(std::stoul(text.substr(space + 1, close - space - 1)));
  }
  // After a failed activation that kept both folders: nothing moved, no rollback folder, and
  // the journal's third line names the failed move.
  void expect_nothing_moved(const std::string& failed_move, uint32_t code) {
    EXPECT_EQ(release_in(client), "old");
    EXPECT_EQ(release_in(staging), "new");
    EXPECT_TRUE(rollbacks().empty());
    std::vector<std::string> messages = journal.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].rfind(error_line_start(failed_move, code), 0), 0u) << messages[2];
  }
  double seconds_of(const std::chrono::steady_clock::time_point& start) const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};
}  // namespace

TEST_F(Activation, EndsClientProgramsAndKeepsTheOldClientAsRollback) {
  make_release(client, "old");
  make_release(staging, "new");
  // The program has the client folder as its current folder too, which alone blocks the rename
  // under Wine: the move can only succeed once it has been ended.
  std::wstring helper = join(client, L"client_helper.exe");
  ASSERT_TRUE(copy_helper(helper));
  program_guard running{start_waiting_helper(helper, root / L"ready")};
  ASSERT_NE(running.program, 0);
  uint32_t id = program_id(running.program);

  time_t before = time(nullptr);
  ASSERT_EQ(activate(), 1) << failure_text();
  time_t after = time(nullptr);
  EXPECT_EQ(program_ending(&running.program, 10000), k_activation_ending);
  EXPECT_EQ(release_in(client), "new");
  EXPECT_EQ(release_in(staging), "absent");
  std::vector<std::wstring> kept = rollbacks();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(release_in(kept[0]), "old");
  EXPECT_EQ(journal.messages(),
            (std::vector<std::string>{
                k_installing, k_closing,
                "Fermeture du processus Vorna380 " + std::to_string(id) + " avant activation: " + to_utf8(helper),
                "Ancien client conserve comme sauvegarde locale: " + to_utf8(kept[0])}));

  // The rollback name carries the time in 100-ns units since 1601 and the process ID.
  std::wstring name = kept[0].substr(root.path.size() + 1);
  uint64_t stamp = std::stoull(to_utf8(name.substr(16, 16)), nullptr, 16);
  int64_t unix_seconds = static_cast<int64_t>(stamp / 10000000ULL) - 11644473600LL;
  EXPECT_GE(unix_seconds, static_cast<int64_t>(before) - 1) << to_utf8(name);
  EXPECT_LE(unix_seconds, static_cast<int64_t>(after) + 1) << to_utf8(name);
  EXPECT_EQ(name.substr(33), std::to_wstring(own_process_id()));

  // A second activation keeps a second rollback folder, named later.
  make_release(staging, "newer");
  ASSERT_EQ(activate(), 1) << failure_text();
  kept = rollbacks();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(release_in(kept[0]), "old");
  EXPECT_EQ(release_in(kept[1]), "new");
  EXPECT_EQ(release_in(client), "newer");
}

TEST_F(Activation, WithoutAClientTheStagingFolderMovesStraightIn) {
  make_release(staging, "new");
  ASSERT_EQ(activate(), 1) << failure_text();
  EXPECT_EQ(release_in(client), "new");
  EXPECT_EQ(release_in(staging), "absent");
  EXPECT_TRUE(rollbacks().empty());
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{k_installing, k_closing}));
}

TEST_F(Activation, MissingStagingFolderChangesNothing) {
  make_release(client, "old");
  for (bool as_file : {false, true}) {
    if (as_file) {
      ASSERT_TRUE(write_bytes(staging, "not a folder"));
    }
    ASSERT_EQ(activate(), 0);
    EXPECT_EQ(failure_text(), "Le client valide n'est plus disponible. Relancez le launcher pour le verifier.");
    EXPECT_EQ(release_in(client), "old");
    EXPECT_TRUE(rollbacks().empty());
  }
  std::string missing = "Le dossier Client.new valide est introuvable au moment de l'activation.";
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{k_installing, missing, k_installing, missing}));
}

TEST_F(Activation, FileAtTheClientPathIsRefused) {
  ASSERT_TRUE(write_bytes(client, "a file"));
  make_release(staging, "new");
  ASSERT_EQ(activate(), 0);
  EXPECT_EQ(failure_text(), "Le chemin du client actif est invalide. Aucun fichier n'a ete remplace.");
  EXPECT_EQ(read_bytes(client), "a file");
  EXPECT_EQ(release_in(staging), "new");
  EXPECT_TRUE(rollbacks().empty());
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{k_installing, k_closing,
                                                          "Le chemin Client actif existe mais n'est pas un dossier."}));
}

TEST_F(Activation, ClientThatStaysBusyBlocksActivationAfterAboutSixSeconds) {
  make_release(client, "old");
  make_release(staging, "new");
  busy_folder busy(client);
  ASSERT_TRUE(busy.held);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(activate(), 0);
  EXPECT_GE(seconds_of(start), 23 * 0.25);
  uint32_t code = failure_code();
  EXPECT_TRUE(move_error_is_retryable(code)) << code;
  EXPECT_EQ(failure_text(), "Activation bloquee par l'ancien client (" + error_label() + " " + std::to_string(code) +
                                ")" + k_kept_for_retry);
  busy.release();
  expect_nothing_moved("Mise en securite de l'ancien client impossible", code);
}

TEST_F(Activation, ClientBusyForAMomentIsMovedOnARetry) {
  make_release(client, "old");
  make_release(staging, "new");
  busy_folder busy(client);
  ASSERT_TRUE(busy.held);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    busy.release();
  });
  int result = activate();
  releaser.join();
  ASSERT_EQ(result, 1) << failure_text();
  EXPECT_EQ(release_in(client), "new");
  ASSERT_EQ(rollbacks().size(), 1u);
  EXPECT_EQ(release_in(rollbacks()[0]), "old");
}

TEST_F(Activation, FailedActivationMoveRestoresTheOldClient) {
  make_release(client, "old");
  make_release(staging, "new");
  busy_folder busy(staging);
  ASSERT_TRUE(busy.held);
  ASSERT_EQ(activate(), 0);
  uint32_t code = failure_code();
  EXPECT_EQ(failure_text(), "Activation interrompue (" + error_label() + " " + std::to_string(code) +
                                "). L'ancien client a ete restaure et le client valide est conserve.");
  busy.release();
  expect_nothing_moved("Activation du nouveau client impossible", code);
}

TEST_F(Activation, FailedRestoreNamesTheRescueFolderInTheJournal) {
  make_release(client, "old");
  make_release(staging, "new");
  busy_folder busy_staging(staging);
  ASSERT_TRUE(busy_staging.held);
  int result = -1;
  std::thread worker([&] { result = activate(); });
  // While the activation move is retried, the old client's rollback folder is made busy too.
  std::vector<std::wstring> kept;
  for (int i = 0; i < 400 && kept.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kept = rollbacks();
  }
  std::unique_ptr<busy_folder> busy_rollback;
  if (!kept.empty()) busy_rollback = std::make_unique<busy_folder>(kept[0]);
  worker.join();
  ASSERT_EQ(kept.size(), 1u);
  ASSERT_TRUE(busy_rollback->held);
  busy_rollback->release();
  busy_staging.release();

  ASSERT_EQ(result, 0);
  std::string text = failure_text();
  EXPECT_EQ(text.rfind("Activation interrompue (erreur ", 0), 0u) << text;
  EXPECT_NE(text.find(") et restauration bloquee (erreur "), std::string::npos) << text;
  EXPECT_NE(text.find("). Le dossier de secours est conserve dans le journal."), std::string::npos) << text;
  // Neither client is lost: the old one waits in the rescue folder the journal names.
  EXPECT_EQ(release_in(client), "absent");
  EXPECT_EQ(release_in(staging), "new");
  EXPECT_EQ(rollbacks(), kept);
  EXPECT_EQ(release_in(kept[0]), "old");
  std::vector<std::string> messages = journal.messages();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[2].rfind("Activation du nouveau client impossible (", 0), 0u) << messages[2];
  EXPECT_EQ(messages[3].rfind("Restauration de l'ancien client impossible (", 0), 0u) << messages[3];
  EXPECT_EQ(messages[4], "Dossier de secours de l'ancien client: " + to_utf8(kept[0]));
}

TEST_F(Activation, MoveNeverReplacesAnExistingFolderAndStopsAtOnceOnOtherErrors) {
  make_release(staging, "new");
  ASSERT_TRUE(make_dirs(client));  // empty: a plain rename would replace it
  uint32_t error = 12345;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(move_directory_with_retry(staging.c_str(), client.c_str(), L"Deplacement impossible", &error), 0);
  EXPECT_LT(seconds_of(start), 3.0);  // one attempt, not 24
  EXPECT_FALSE(move_error_is_retryable(error)) << error;
  EXPECT_EQ(release_in(staging), "new");
  EXPECT_TRUE(folder_names(client).empty());
  std::vector<std::string> messages = journal.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(error_line_start("Deplacement impossible", error), 0), 0u) << messages[0];

  ASSERT_EQ(move_directory_with_retry(staging.c_str(), (root / L"Moved").c_str(), L"Deplacement impossible", &error),
            1);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(release_in(root / L"Moved"), "new");
}

TEST(RollbackName, SixteenHexDigitsOfTheTimeAndTheProcessId) {
  wchar_t name[ROLLBACK_NAME_UNITS];
  rollback_name(0x01DA2B3C0D5E6F70ULL, 4242, name);
  EXPECT_EQ(std::wstring(name), L"Client.rollback.01da2b3c0d5e6f70.4242");
  rollback_name(0, 0xFFFFFFFFu, name);
  EXPECT_EQ(std::wstring(name), L"Client.rollback.0000000000000000.4294967295");
}

class ReleaseMarker : public InstallTest {
 protected:
  std::wstring marker = root / L"installed-release.txt";
};

TEST_F(ReleaseMarker, HoldsTheVersionInUtf8AndNothingElse) {
  ASSERT_TRUE(write_bytes(marker, "an older and much longer version text"));
  write_release_marker(L"2024.06-\u00e9t\u00e9");
  EXPECT_EQ(read_bytes(marker), "2024.06-\xc3\xa9t\xc3\xa9");
  EXPECT_TRUE(journal.messages().empty());
}

TEST_F(ReleaseMarker, FailuresOnlyLeaveJournalLines) {
  const std::string warning = "Avertissement: le client est active mais le marqueur de version n'a pas pu etre ecrit.";
  write_release_marker(L"");
  std::vector<std::string> messages = journal.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].rfind("Conversion de la version installee impossible (", 0), 0u) << messages[0];
  EXPECT_EQ(messages[1], warning);
  EXPECT_FALSE(file_exists(marker));

  ASSERT_TRUE(make_dirs(marker));  // a folder where the file should go
  write_release_marker(L"1.0");
  messages = journal.messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[2].rfind("Creation du marqueur de version impossible (", 0), 0u) << messages[2];
  EXPECT_EQ(messages[3], warning);
}

// Rollback folders beyond the newest three go, read-only files and all; a link planted inside
// one goes without its target. The start's clean-up takes the update by the file's temporary
// files and the folders set aside, and nothing else.
TEST_F(Activation, LeftoversAndOldRollbackFoldersAreRemovedAndNothingElse) {
  std::wstring outside = root / L"outside";
  ASSERT_TRUE(make_dirs(outside));
  ASSERT_TRUE(write_bytes(join(outside, L"keep.txt"), "not the launcher's"));
  for (int i = 1; i <= 5; ++i) {
    std::wstring folder = root / (L"Client.rollback.000000000000000" + std::to_wstring(i) + L".1");
    make_release(folder, "old " + std::to_string(i));
    ASSERT_TRUE(set_read_only(join(folder, L"release.txt")));
  }
  bool linked = make_link(outside, join(rollbacks()[0], L"planted"));
  prune_rollback_folders();
  std::vector<std::wstring> kept = rollbacks();
  ASSERT_EQ(kept.size(), ROLLBACK_FOLDERS_KEPT);
  EXPECT_EQ(release_in(kept[0]), "old 3");
  EXPECT_EQ(release_in(kept[2]), "old 5");
  if (linked) {
    EXPECT_EQ(read_bytes(join(outside, L"keep.txt")), "not the launcher's");
  }

  make_release(staging, "stale");
  ASSERT_TRUE(set_aside_staging(staging.c_str()));
  EXPECT_FALSE(file_exists(staging));
  ASSERT_TRUE(make_dirs(root / L"Client.discard.1.2/data"));
  ASSERT_TRUE(write_bytes(root / L"Client.discard.1.2/data/x.bin", "x"));
  ASSERT_TRUE(write_bytes(root / L"Vorna380.files.zip", "cut short"));
  ASSERT_TRUE(write_bytes(root / L"Vorna380.files.list", "cut short"));
  make_release(client, "active");
  remove_run_leftovers();
  std::vector<std::wstring> left = folder_names(root.path);
  std::sort(left.begin(), left.end());
  std::vector<std::wstring> expected = {L"Client", L"launcher.log", L"outside"};
  for (const std::wstring& folder : kept) expected.push_back(folder.substr(folder.rfind(L"Client.rollback")));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
}
