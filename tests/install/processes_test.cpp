// Closing the programs started from the client folder, with real programs.
#include <algorithm>
#include <chrono>
#include <thread>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/text.h"
#include "install/processes.h"
#include "install_fixture.h"
#include "install_test_platform.h"

namespace {
class ClientProcesses : public InstallTest {
 protected:
  // Copies the helper into the folder and starts it there.
  intptr_t start_in(const std::wstring& folder, const std::wstring& ready) {
    std::wstring helper = join(folder, L"client_helper.exe");
    if (!make_dirs(folder) || !copy_helper(helper)) return 0;
    return start_waiting_helper(helper, root / ready);
  }
  static std::string closing_line(intptr_t program, const std::wstring& folder) {
    return "Fermeture du processus Vorna380 " + std::to_string(program_id(program)) +
           " avant activation: " + to_utf8(join(folder, L"client_helper.exe"));
  }
};
}  // namespace

TEST_F(ClientProcesses, OnlyProgramsInsideTheClientFolderAreEnded) {
  std::wstring deep = join(client, L"data/tools");
  std::wstring sibling = root / L"ClientArchive";
  program_guard in_client{start_in(client, L"ready1")};
  program_guard in_deep{start_in(deep, L"ready2")};
  program_guard in_staging{start_in(staging, L"ready3")};
  program_guard in_sibling{start_in(sibling, L"ready4")};
  for (auto* p : {&in_client, &in_deep, &in_staging, &in_sibling}) ASSERT_NE(p->program, 0);
  std::vector<std::string> expected = {closing_line(in_client.program, client), closing_line(in_deep.program, deep)};

  close_client_processes();
  EXPECT_EQ(program_ending(&in_client.program, 10000), k_activation_ending);
  EXPECT_EQ(program_ending(&in_deep.program, 10000), k_activation_ending);
  EXPECT_EQ(program_ending(&in_staging.program, 0), k_still_running);
  EXPECT_EQ(program_ending(&in_sibling.program, 0), k_still_running);
  std::vector<std::string> messages = journal.messages();
  std::sort(messages.begin(), messages.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(messages, expected);
}

TEST_F(ClientProcesses, LetterCaseCountsOnlyWhereTheFileSystemIgnoresIt) {
  program_guard running{start_in(client, L"ready")};
  ASSERT_NE(running.program, 0);
  std::wstring other_case = root / L"CLIENT";
  copy_text(g_client, PATH_UNITS, other_case.c_str());
  close_client_processes();
  bool case_ignored = PATH_SEPARATOR == L'\\';
  EXPECT_EQ(program_ending(&running.program, case_ignored ? 10000 : 0),
            case_ignored ? k_activation_ending : k_still_running);
  EXPECT_EQ(journal.messages().size(), case_ignored ? 1u : 0u);
}

// The matched program ends by itself before it is terminated. Where the system lets a test
// give its ID to a new program (Linux, as root), one started from the client folder too takes
// it: the termination must not reach it.
TEST_F(ClientProcesses, ProcessEndedBetweenMatchAndTerminationIsNeverConfusedWithAnother) {
  program_guard matched{start_in(client, L"ready1")};
  ASSERT_NE(matched.program, 0);
  uint32_t id = program_id(matched.program);
  std::vector<wchar_t> image(PATH_UNITS);
  client_process held;
  ASSERT_EQ(match_client_process(id, image.data(), &held), 1);
  EXPECT_EQ(to_utf8(image.data()), to_utf8(join(client, L"client_helper.exe")));

  int own_ending = end_program_now(&matched.program);
  EXPECT_NE(own_ending, k_still_running);
  program_guard successor{start_program_with_id({join(client, L"client_helper.exe"), L"wait", root / L"ready2"}, id)};
  if (successor.program != 0) {
    ASSERT_EQ(program_id(successor.program), id);
    for (int i = 0; i < 2000 && !file_exists(root / L"ready2"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(file_exists(root / L"ready2"));
  }

  end_client_process(&held);
  if (successor.program != 0) {
    EXPECT_EQ(program_ending(&successor.program, 200), k_still_running);
  }
  EXPECT_TRUE(journal.messages().empty());
}

#ifndef _WIN32
// A game run by Wine shows Wine as its executable: it is the client's when it runs in the
// client folder or names a file there, as a Linux path or in Wine's drive Z: form. A program
// naming another folder is left alone.
TEST_F(ClientProcesses, ProgramsRunByAnEmulatorAreMatchedByFolderOrArgument) {
  const std::wstring sleeper = L"import time; time.sleep(60)";
  std::wstring wine_form = L"Z:" + join(client, L"Tarvo.exe");
  std::replace(wine_form.begin(), wine_form.end(), L'/', L'\\');
  ASSERT_TRUE(make_dirs(client));
  program_guard in_folder{
      start_program({L"/bin/sh", L"-c", L"cd \"$0\" && exec /usr/bin/python3 -c \"$1\"", client, sleeper})};
  program_guard named{start_program({L"/usr/bin/python3", L"-c", sleeper, wine_form})};
  program_guard elsewhere{start_program({L"/usr/bin/python3", L"-c", sleeper, root / L"ClientArchive/x.exe"})};
  for (auto* p : {&in_folder, &named, &elsewhere}) ASSERT_NE(p->program, 0);
  // Until the shell has changed folder.
  std::string cwd = "/proc/" + std::to_string(program_id(in_folder.program)) + "/cwd";
  char seen[4096] = {};
  for (int i = 0; i < 1000 && std::string(seen) != to_utf8(client); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ssize_t length = readlink(cwd.c_str(), seen, sizeof seen - 1);
    seen[length > 0 ? length : 0] = '\0';
  }

  close_client_processes();
  EXPECT_EQ(program_ending(&in_folder.program, 10000), k_activation_ending);
  EXPECT_EQ(program_ending(&named.program, 10000), k_activation_ending);
  EXPECT_EQ(program_ending(&elsewhere.program, 0), k_still_running);
  std::vector<std::string> messages = journal.messages();
  EXPECT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
}
#endif
