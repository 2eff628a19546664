// Closing the programs started from the client folder, with real programs.
#include <algorithm>
#include <chrono>
#include <thread>

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
