#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts_fixture.h"
#include "core/text.h"
#include "accounts_test_platform.h"

namespace {
const char k_started[] = "Jeu lance. Le launcher reste disponible.";

// The client folder holds the stand-in game as "Tarvo.exe"; it records into a folder outside
// the launcher root.
class GameLaunch : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_TRUE(make_dirs(client));
    saved_records = get_variable(L"VORNA380_TARVO_RECORDS");
    set_variable(L"VORNA380_TARVO_RECORDS", records.path);
    g_pending_account = 0;
    start_account_bridge();
  }
  void TearDown() override {
    stop_account_bridge();
    g_pending_account = 0;
    set_variable(L"VORNA380_TARVO_RECORDS", saved_records);
    AccountsTest::TearDown();
  }
  void queue_account() {
    ASSERT_TRUE(put_account(L"joueur", L"pw"));
    copy_text(g_selected_account, ACCOUNT_NAME_UNITS, L"joueur");
    ASSERT_EQ(queue_selected_account(), 1);
    ASSERT_FALSE(bridge_queue_is_empty());
  }
  void install_standin() {
    ASSERT_TRUE(write_bytes(join(client, L"Tarvo.exe"), read_bytes(TARVO_STANDIN_PATH)));
    ASSERT_TRUE(make_executable(join(client, L"Tarvo.exe")));
  }

  // The n-th record of the stand-in, waiting for it: "<working folder>\n<reply>".
  std::string record(int n) {
    std::wstring path = records / (L"record-" + std::to_wstring(n) + L".txt");
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::string bytes;
    while ((bytes = read_bytes(path)).empty() && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The stand-in writes its record in one call; give it time to finish.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return read_bytes(path);
  }

  const std::wstring client = dir / L"Client";
  temp_dir records;
  std::wstring saved_records;
};

std::string body_of(const std::string& record) {
  size_t at = record.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : record.substr(at + 4);
}
}  // namespace

TEST_F(GameLaunch, EachLaunchStartsTheGameInTheClientFolderAndTheBridgeServesItOnce) {
  install_standin();
  ASSERT_TRUE(put_account(L"joueur@vorna.test", L"p@ss word"));
  copy_text(g_selected_account, ACCOUNT_NAME_UNITS, L"joueur@vorna.test");
  ASSERT_EQ(queue_selected_account(), 1);
  ASSERT_EQ(launch_game(), 1);
  std::string first = record(1);
  ASSERT_FALSE(first.empty()) << "the game did not record";
  EXPECT_EQ(from_utf8(first.substr(0, first.find('\n'))), client);
  EXPECT_EQ(body_of(first), "joueur%40vorna.test&p%40ss%20word");

  ASSERT_EQ(launch_game(), 1) << "a second game, without queueing again";
  EXPECT_EQ(body_of(record(2)), "NONE");
  EXPECT_EQ(capture.messages(), (std::vector<std::string>{k_started, k_started}));

  // The launcher wrote the password nowhere.
  for (const std::wstring& file : files_under(dir.path)) {
    if (file == join(client, L"Tarvo.exe")) continue;
    std::string bytes = read_bytes(file);
    EXPECT_EQ(bytes.find("p@ss word"), std::string::npos) << to_utf8(file);
    EXPECT_EQ(bytes.find(utf16le(L"p@ss word")), std::string::npos) << to_utf8(file);
  }
}

TEST_F(GameLaunch, AMissingGameGivesZeroAndNoJournalLineAndWipesTheQueue) {
  queue_account();
  EXPECT_EQ(launch_game(), 0);
  EXPECT_FALSE(file_exists(capture.path));
  EXPECT_TRUE(bridge_queue_is_empty());
}

TEST_F(GameLaunch, AGameThatCannotStartIsJournalledWithTheSystemsErrorAndWipesTheQueue) {
  ASSERT_TRUE(write_bytes(join(client, L"Tarvo.exe"), "pas un programme"));
  queue_account();
  EXPECT_EQ(launch_game(), 0);
  EXPECT_TRUE(bridge_queue_is_empty());
  std::vector<std::string> lines = capture.messages();
  ASSERT_EQ(lines.size(), 1u);
  std::string prefix = "Echec ouverture Tarvo.exe (" + to_utf8(system_error_label()) + " ";
  EXPECT_EQ(lines[0].substr(0, prefix.size()), prefix) << lines[0];
  EXPECT_EQ(lines[0].substr(lines[0].size() - 2), ").");
  EXPECT_GT(std::stoul(lines[0].substr(prefix.size())), 0u) << lines[0];
}

#ifndef _WIN32
// The Linux port runs the Windows game through the wine found on the PATH.
namespace {
// A "wine" of the test's own records its working folder and its arguments.
class WindowsGame : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_TRUE(make_dirs(dir / L"Client"));
    ASSERT_TRUE(write_bytes(dir / L"Client/Tarvo.exe", std::string("MZ\x90\0", 4) + "PE"));
    saved_path = get_variable(L"PATH");
  }
  void TearDown() override {
    set_variable(L"PATH", saved_path);
    AccountsTest::TearDown();
  }

  temp_dir bin;
  std::wstring saved_path;
};
}  // namespace

TEST_F(WindowsGame, RunsThroughWineFromThePathInTheClientFolder) {
  std::wstring record = bin / L"wine-record.txt";
  ASSERT_TRUE(write_bytes(bin / L"wine", "#!/bin/sh\nprintf '%s\\n%s|%s\\n' \"$PWD\" \"$#\" \"$1\" > '" +
                                             to_utf8(record) + ".tmp'\nmv '" + to_utf8(record) + ".tmp' '" +
                                             to_utf8(record) + "'\n"));
  ASSERT_TRUE(make_executable(bin / L"wine"));
  set_variable(L"PATH", L"/nonexistent::" + bin.path + L":" + saved_path);
  ASSERT_EQ(launch_game(), 1);
  std::string recorded;
  for (int i = 0; i < 3000 && (recorded = read_bytes(record)).empty(); ++i) usleep(10000);
  EXPECT_EQ(recorded, to_utf8(dir / L"Client") + "\n1|" + to_utf8(dir / L"Client/Tarvo.exe") + "\n");
}

TEST_F(WindowsGame, WithoutWineTheGameDoesNotStart) {
  set_variable(L"PATH", bin.path);
  EXPECT_EQ(launch_game(), 0);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"Echec ouverture Tarvo.exe (erreur systeme 2)."});
}
#endif  // !_WIN32
