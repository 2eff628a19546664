// The --verify-integrity command, run as a process of the built launcher.
#include <gtest/gtest.h>

#include <string>

#include "core/paths.h"
#include "integrity/integrity_client.h"
#include "support/test_support.h"

namespace {
class VerifyIntegrityCommand : public ::testing::Test {
 protected:
  temp_dir dir;
  test_client client{dir / L"Client"};
  std::string digest;

  void SetUp() override {
    client.add_fillers(1000);
    client.add("data/common/Items.k5o", "official items");
    digest = client.write_list();
  }
  int run(const std::wstring& folder, const std::string& expected) {
    return run_program({launcher_path(), L"--verify-integrity", folder, from_utf8(expected)});
  }
  // Journal messages of a file written by the launcher process.
  static std::vector<std::string> events_of(const std::wstring& path) { return integrity_journal(path).events(); }
};

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

TEST_F(VerifyIntegrityCommand, ValidClientExitsZero) {
  EXPECT_EQ(run(client.folder, digest), 0);
  EXPECT_EQ(events_of(dir / L"launcher.log"), std::vector<std::string>{});
  // The progress status texts went to the journal beside the folder.
  std::string journal = read_bytes(dir / L"launcher.log");
  EXPECT_NE(journal.find("] Verification de securite : 1000 fichiers...\r\n"), std::string::npos) << journal;
}

TEST_F(VerifyIntegrityCommand, UpperCaseDigestExitsTwoAndJournalsNothing) {
  EXPECT_EQ(run(client.folder, upper(digest)), 2);
  EXPECT_EQ(run(client.folder, digest.substr(1)), 2);
  EXPECT_EQ(run(client.folder, digest + "0"), 2);
  EXPECT_FALSE(file_exists(dir / L"launcher.log"));
  EXPECT_FALSE(file_exists(client.folder + L"/launcher.log"));
}

TEST_F(VerifyIntegrityCommand, TamperedFileExitsThreeWithTheRefusalBesideTheFolder) {
  client.put("data/common/Items.k5o", "changed items");
  EXPECT_EQ(run(client.folder, digest), 3);
  EXPECT_EQ(events_of(dir / L"launcher.log"),
            std::vector<std::string>{"Empreinte client refusee : " + native("data/common/Items.k5o") + " (attendu " +
                                     sha256_hex("official items") + ", obtenu " + sha256_hex("changed items") + ")"});
}

TEST_F(VerifyIntegrityCommand, WrongListDigestExitsThree) {
  EXPECT_EQ(run(client.folder, sha256_hex("another list")), 3);
  EXPECT_EQ(events_of(dir / L"launcher.log"), std::vector<std::string>{});
}

TEST_F(VerifyIntegrityCommand, FolderEndingInASeparatorJournalsInsideIt) {
  client.put("data/common/Items.k5o", "changed items");
  EXPECT_EQ(run(client.folder + std::wstring(1, PATH_SEPARATOR), digest), 3);
  EXPECT_FALSE(file_exists(dir / L"launcher.log"));
  std::vector<std::string> events = events_of(join(client.folder, L"launcher.log"));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].rfind("Empreinte client refusee : ", 0), 0u) << events[0];
}

// The journal beside the folder is a link to a file the user can write: nothing is appended
// there, and a FIFO listed in the client ends the check at once as a missing file.
TEST_F(VerifyIntegrityCommand, NeitherJournalsThroughALinkNorWaitsOnAFifo) {
#ifdef _WIN32
  GTEST_SKIP() << "no FIFOs in the Windows file system, and a file link made on Linux is no reparse point under "
                  "Wine";
#else
  ASSERT_TRUE(write_bytes(dir / L"victim.txt", "untouched\n"));
  ASSERT_TRUE(make_link(dir / L"victim.txt", dir / L"launcher.log"));
  client.put("data/common/Items.k5o", "changed items");
  EXPECT_EQ(run(client.folder, digest), 3);
  EXPECT_EQ(read_bytes(dir / L"victim.txt"), "untouched\n");

  remove_tree(dir / L"launcher.log");
  remove_tree(join(client.folder, L"data/common/Items.k5o"));
  ASSERT_TRUE(make_fifo(join(client.folder, L"data/common/Items.k5o")));
  EXPECT_EQ(run_program({launcher_path(), L"--verify-integrity", client.folder, from_utf8(digest)}, 20000), 3);
  EXPECT_EQ(events_of(dir / L"launcher.log"),
            std::vector<std::string>{"Fichier client absent ou illisible : " + native("data/common/Items.k5o")});
#endif
}
