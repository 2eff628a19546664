// The Linux extraction job: folders no one may read, programs planted beside the launcher, and
// packages that are no zip archive.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

#include "support/journal_lines.h"
#include "support/test_support.h"
#include "transfer/job_support.h"

namespace {
const char k_child_failed[] = "Le processus auxiliaire a echoue (code 1).";

class ExtractJobPosix : public ExtractJob {};

// The calling thread without the capabilities that let root list and search any folder, so
// that it meets folder modes as a player's launcher does (capabilities are per thread; bsdtar,
// started anew, still has them).
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
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{
                                    "Entree illisible dans le client extrait: extraction refusee.", k_child_failed}));
}

TEST_F(ExtractJobPosix, ProgramsComeOnlyFromAbsoluteFoldersOfPath) {
  // A bsdtar planted in the root, the child's working folder, and in a folder below it.
  std::wstring marker = dir / L"planted.ran";
  ASSERT_TRUE(make_dirs(dir / L"bin"));
  for (const std::wstring& planted : {dir / L"bsdtar", dir / L"bin/bsdtar"}) {
    ASSERT_TRUE(write_bytes(planted, "#!/bin/sh\ntouch '" + to_utf8(marker) + "'\nexit 1\n"));
    ASSERT_EQ(chmod(to_utf8(planted).c_str(), 0755), 0);
  }
  std::string saved = getenv("PATH");
  setenv("PATH", (":.:bin:" + saved).c_str(), 1);
  int result = run_extract(zip(L"sound.zip"), staging);
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(result, 1);
  EXPECT_FALSE(file_exists(marker));
  EXPECT_EQ(read_bytes(join(staging, L"data/common/Items.k5o")), "items\n");
}

TEST_F(ExtractJobPosix, OnlyAZipArchiveIsExtracted) {
  ASSERT_TRUE(make_dirs(staging));
  ASSERT_TRUE(write_bytes(join(staging, L"kept.txt"), "untouched"));
  EXPECT_EQ(run_extract(zip(L"tar-package.zip"), staging), 0);
  EXPECT_FALSE(file_exists(join(staging, L"Tarvo.exe")));
  EXPECT_EQ(read_bytes(join(staging, L"kept.txt")), "untouched");
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{
                                    "Archive refusee: le package ne commence pas par la signature zip.", k_child_failed}));
  // An empty archive is a zip archive too (what it lacks, the staged check refuses).
  std::wstring empty = dir / L"empty.zip";
  ASSERT_TRUE(write_bytes(empty, std::string("PK\x05\x06", 4) + std::string(18, '\0')));
  EXPECT_EQ(run_extract(empty, staging), 1);
}
