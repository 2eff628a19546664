// The Linux extraction job: links hidden in folders no one may read, and packages that are no
// zip archive.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "support/journal_lines.h"
#include "support/test_support.h"
#include "transfer/job_support.h"

namespace {
const char k_child_failed[] = "Le processus auxiliaire a echoue (code 1).";

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
  EXPECT_EQ(journal.messages(), std::vector<std::string>{k_child_failed});
}

TEST_F(ExtractJobPosix, OnlyAZipArchiveIsExtracted) {
  ASSERT_TRUE(make_dirs(staging));
  ASSERT_TRUE(write_bytes(join(staging, L"kept.txt"), "untouched"));
  EXPECT_EQ(run_extract(zip(L"tar-package.zip"), staging), 0);
  EXPECT_FALSE(file_exists(join(staging, L"Tarvo.exe")));
  EXPECT_EQ(read_bytes(join(staging, L"kept.txt")), "untouched");
  EXPECT_EQ(
      journal.messages(),
      (std::vector<std::string>{"Archive refusee: le package ne commence pas par la signature zip.", k_child_failed}));
  // An empty archive is a zip archive too (what it lacks, the staged check refuses).
  std::wstring empty = dir / L"empty.zip";
  ASSERT_TRUE(write_bytes(empty, std::string("PK\x05\x06", 4) + std::string(18, '\0')));
  EXPECT_EQ(run_extract(empty, staging), 1);
}
