// The extraction job on small crafted archives, and how the child's results are reported; on
// Linux also links hidden in folders no one may read, and packages that are no zip archive.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
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
  // Each refusal names its step; the Linux job names the entry too.
  std::vector<std::string> messages = journal.messages();
  auto count = [&](const std::string& line) { return std::count(messages.begin(), messages.end(), line); };
  EXPECT_EQ(count("Extraction: entree refusee (nom hors du dossier, lien ou type de fichier refuse)."), 4);
  EXPECT_EQ(count("Le processus auxiliaire a echoue (code 4)."), 4);
#ifndef _WIN32
  EXPECT_EQ(count("Extraction: entree en cause: ../escaped.txt"), 1);
  EXPECT_EQ(count("Extraction: entree en cause: link"), 2);
  EXPECT_EQ(messages.size(), 12u);
#else
  EXPECT_EQ(messages.size(), 8u);
#endif
}

TEST_F(ExtractJob, AMissingPackageFailsWithTheChildsExitCode) {
  EXPECT_EQ(run_extract(dir / L"no such package.zip", staging), 0);
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{"Extraction: le package n'est pas une archive zip lisible.",
                                                          "Le processus auxiliaire a echoue (code 3)."}));
}

// Data the archive does not declare is never written: the entry stops at its declared 1,000
// bytes and the job fails, naming the step (and, where the job knows it, the entry). libarchive
// itself refuses to hand over an entry that inflates past its size, as damaged data; the
// Windows job counts the bytes it copies.
TEST_F(ExtractJob, AnEntryIsStoppedAtItsDeclaredSize) {
  EXPECT_EQ(run_extract(zip(L"oversized.zip"), staging), 0);
  std::wstring big = join(staging, L"big.bin");
  EXPECT_LE(file_exists(big) ? read_bytes(big).size() : 0u, 1000u);
#ifdef _WIN32
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{"Extraction: entree plus grande que sa taille declaree, arretee.",
                                                          "Le processus auxiliaire a echoue (code 5)."}));
#else
  EXPECT_EQ(journal.messages(),
            (std::vector<std::string>{"Extraction: entree non ecrite (ecriture locale impossible ou donnees endommagees).",
                                      "Extraction: entree en cause: big.bin", "Le processus auxiliaire a echoue (code 6)."}));
#endif
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

#ifndef _WIN32
namespace {
const char k_refused[] = "Extraction: entree refusee (nom hors du dossier, lien ou type de fichier refuse).";

class ExtractJobPosix : public ExtractJob {};

// The calling thread without the capabilities that let root list and search any folder, so
// that it meets folder modes as a player's launcher does (capabilities are per thread).
struct as_plain_user {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved[2] = {};
  bool lowered = false;
  as_plain_user() {
    if (syscall(SYS_capget, &header, saved) != 0) return;
    __user_cap_data_struct plain[2] = {saved[0], saved[1]};
    plain[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    lowered = syscall(SYS_capset, &header, plain) == 0;
  }
  ~as_plain_user() {
    if (lowered) syscall(SYS_capset, &header, saved);
  }
};
}  // namespace

TEST_F(ExtractJobPosix, FoldersNoOneMayReadFailTheJobAndHideNoLink) {
  int result;
  {
    as_plain_user plain;
    ASSERT_TRUE(plain.lowered);
    result = run_extract(zip(L"locked-links.zip"), staging);
  }
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(file_exists(join(staging, L"inside.txt")));
  EXPECT_FALSE(file_exists(join(staging, L"locked/deeper/link")));
  EXPECT_FALSE(file_exists(join(staging, L"listed/link")));
  // The archive's mode 000 is not written: the owner can look into every extracted folder.
  for (const wchar_t* folder : {L"locked", L"locked/deeper"}) {
    struct stat info;
    ASSERT_EQ(stat(to_utf8(join(staging, folder)).c_str(), &info), 0) << to_utf8(folder);
    EXPECT_EQ(info.st_mode & 0777, 0755u) << to_utf8(folder);
  }
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{k_refused, "Extraction: entree en cause: locked/deeper/link",
                                                          "Le processus auxiliaire a echoue (code 4)."}));
}

TEST_F(ExtractJobPosix, OnlyAZipArchiveIsExtracted) {
  ASSERT_TRUE(make_dirs(staging));
  ASSERT_TRUE(write_bytes(join(staging, L"kept.txt"), "untouched"));
  EXPECT_EQ(run_extract(zip(L"tar-package.zip"), staging), 0);
  EXPECT_FALSE(file_exists(join(staging, L"Tarvo.exe")));
  EXPECT_EQ(read_bytes(join(staging, L"kept.txt")), "untouched");
  EXPECT_EQ(
      journal.messages(),
      (std::vector<std::string>{"Archive refusee: le package ne commence pas par la signature zip.",
                                "Extraction: le package n'est pas une archive zip lisible.",
                                "Le processus auxiliaire a echoue (code 3)."}));
  // An empty archive is a zip archive too (what it lacks, the staged check refuses).
  std::wstring empty = dir / L"empty.zip";
  ASSERT_TRUE(write_bytes(empty, std::string("PK\x05\x06", 4) + std::string(18, '\0')));
  EXPECT_EQ(run_extract(empty, staging), 1);
}
#endif  // !_WIN32
