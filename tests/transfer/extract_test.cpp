// The extraction job on small crafted archives, and how the child's results are reported.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/journal_lines.h"
#include "support/test_support.h"
#include "transfer/job_support.h"

TEST_F(ExtractJob, ReplacesAnExistingStagingFolderWhole) {
  ASSERT_TRUE(make_dirs(join(staging, L"old/deeper")));
  ASSERT_TRUE(write_bytes(join(staging, L"old/deeper/left.txt"), "from an earlier run"));
  ASSERT_TRUE(write_bytes(join(staging, L"Tarvo.exe"), "older game"));

  ASSERT_EQ(run_extract(zip(L"sound.zip"), staging), 1);
  EXPECT_FALSE(file_exists(join(staging, L"old")));
  std::string game;
  for (int i = 0; i < 1000; ++i) game += "game\n";
  EXPECT_EQ(read_bytes(join(staging, L"Tarvo.exe")), game);
  EXPECT_EQ(read_bytes(join(staging, L"data/common/Items.k5o")), "items\n");
  EXPECT_EQ(read_bytes(join(staging, L"dossier [1] 'x'/fichier (2).txt")), "odd names\n");
  EXPECT_TRUE(file_exists(join(staging, L"empty.bin")));
  EXPECT_EQ(journal.messages(), std::vector<std::string>{});
}

TEST_F(ExtractJob, RefusesEntriesThatWouldLandOutsideTheFolder) {
  for (const wchar_t* name : {L"dot-dot.zip", L"absolute.zip", L"link-through.zip", L"link-out.zip"}) {
    SCOPED_TRACE(to_utf8(name));
    EXPECT_EQ(run_extract(zip(name), staging), 0);
    EXPECT_FALSE(file_exists(dir / L"escaped.txt"));
    EXPECT_FALSE(file_exists(dir / L"escaped-too.txt"));
    // No link is left in the folder for anyone to follow later.
    EXPECT_FALSE(file_exists(join(staging, L"link")));
  }
#ifdef _WIN32
  EXPECT_FALSE(file_exists(L"Z:\\tmp\\vorna380-absolute-entry.txt"));
#else
  EXPECT_FALSE(file_exists(L"/tmp/vorna380-absolute-entry.txt"));
#endif
  std::vector<std::string> messages = journal.messages();
  ASSERT_EQ(messages.size(), 4u);
  for (const std::string& message : messages) EXPECT_TRUE(is_child_failure(message)) << message;
}

TEST_F(ExtractJob, AMissingPackageFailsWithTheChildsExitCode) {
  EXPECT_EQ(run_extract(dir / L"no such package.zip", staging), 0);
  EXPECT_EQ(journal.messages(), std::vector<std::string>{"Le processus auxiliaire a echoue (code 1)."});
}

#ifdef _WIN32
// The Linux port extracts in the launcher itself: no child to start there.
TEST_F(ExtractJob, AChildThatCannotStartIsJournalled) {
  root_scope missing_root(dir / L"no such folder");
  EXPECT_EQ(run_extract(zip(L"sound.zip"), staging), 0);
  std::vector<std::string> messages = journal.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Impossible de demarrer le processus auxiliaire (erreur ", 0), 0u) << messages[0];
}

TEST_F(ExtractJob, OnlyTheExactScriptTextRuns) {
  // The stand-in accepts only the verbatim script: one character more and it exits 1.
  std::wstring script = std::wstring(k_extract_script) + L" ";
  std::wstring package = zip(L"sound.zip");
  job_parameters job = extract_job(package.c_str(), staging.c_str());
  EXPECT_EQ(powershell(script.c_str(), &job), 0);
  EXPECT_FALSE(file_exists(staging));
  EXPECT_EQ(journal.messages(), std::vector<std::string>{"Le processus auxiliaire a echoue (code 1)."});
}
#else
TEST_F(ExtractJob, OnlyTheTwoJobsRunAndTheirProgramsComeFromPath) {
  std::wstring script = std::wstring(k_extract_script) + L" ";
  std::wstring package = zip(L"sound.zip");
  job_parameters job = extract_job(package.c_str(), staging.c_str());
  EXPECT_EQ(powershell(script.c_str(), &job), 0);

  // The download's program: curl, which is not in that folder.
  std::string saved = getenv("PATH");
  setenv("PATH", to_utf8(dir.path).c_str(), 1);
  int result = run_download(L"https://localhost/dl/x.zip", dir / L"x.zip");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(journal.messages(),
            (std::vector<std::string>{
                "Impossible de demarrer le processus auxiliaire (erreur systeme 22): Invalid argument.",
                "Impossible de demarrer le processus auxiliaire (erreur systeme 2): No such file or directory."}));
}
#endif
