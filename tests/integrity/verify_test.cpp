// The integrity list: its own digest, the form of every line, counting and progress, and what
// counts as a missing file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/paths.h"
#include "core/status.h"
#include "integrity/integrity_client.h"
#include "integrity/verify.h"
#include "support/test_support.h"

namespace {
using lines = std::vector<std::string>;

class Verify : public ::testing::Test {
 protected:
  temp_dir dir;
  test_client client{dir / L"Client"};
  integrity_journal journal{dir / L"launcher.log"};

  std::string filler_digest(int i) { return sha256_hex(filler_content(i)); }
  // Every filler entry, "<digest>  pack/fNNNN.bin\n", has this many bytes.
  static constexpr size_t L = 64 + 2 + 14 + 1;
};

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

TEST_F(Verify, NeedsAThousandVerifiedEntries) {
  client.add_fillers(999);
  EXPECT_EQ(client.verify(client.write_list()), 0) << "999 matching entries are not enough";
  EXPECT_EQ(journal.events(), lines{}) << "a short list is refused without a message";

  client.add_fillers(1, 999);
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), lines{});
}

TEST_F(Verify, CountsARepeatedEntryTwice) {
  client.add_fillers(500);
  EXPECT_EQ(client.verify(client.write_list(client.list + client.list)), 1);
  EXPECT_EQ(client.verify(client.write_list(client.list + client.list.substr(0, client.list.size() - 1))), 1)
      << "a last line without its line feed is an entry too";
  std::string short_by_one = client.list + client.list;
  short_by_one.erase(short_by_one.rfind('\n', short_by_one.size() - 2) + 1);
  EXPECT_EQ(client.verify(client.write_list(short_by_one)), 0);
}

TEST_F(Verify, EmptyLinesRaiseTheProgressTotalButNotTheCount) {
  client.add_fillers(1000);
  // One line feed at the start, two extra in the middle, one extra at the end.
  std::string text = "\n" + client.list.substr(0, L * 10) + "\n\n" + client.list.substr(L * 10) + "\n";
  ASSERT_EQ(client.list.size(), 1000 * L);
  EXPECT_EQ(client.verify(client.write_list(text)), 1);
  EXPECT_EQ(g_verify_progress_total.load(), 1004);
  EXPECT_EQ(g_verify_progress_done.load(), 1000);
  EXPECT_EQ(g_progress_mode.load(), PROGRESS_VERIFY);
  EXPECT_EQ(journal.messages(),
            (lines{"Verification de securite : 250 fichiers...", "Verification de securite : 500 fichiers...",
                   "Verification de securite : 750 fichiers...", "Verification de securite : 1000 fichiers..."}));

  // Without a final line feed the last line still counts towards the total.
  text = client.list + client.list.substr(0, L * 5 - 1);
  EXPECT_EQ(client.verify(client.write_list(text)), 1);
  EXPECT_EQ(g_verify_progress_total.load(), 1005);
  EXPECT_EQ(g_verify_progress_done.load(), 1005);
}

TEST_F(Verify, ProgressStopsAtTheLastPublishedCountWhenAnEntryFails) {
  client.add_fillers(600);
  client.list += entry(filler_digest(0), "pack/missing.bin");
  client.add_fillers(500, 600);
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(g_verify_progress_total.load(), 1101);
  EXPECT_EQ(g_verify_progress_done.load(), 500);
  EXPECT_EQ(journal.events(), lines{"Fichier client absent ou illisible : " + native("pack/missing.bin")});
}

TEST_F(Verify, TheListMustHaveTheExpectedDigest) {
  client.add_fillers(1000);
  std::string digest = client.write_list();
  EXPECT_EQ(client.verify(upper(digest)), 1) << "the expected digest is compared without regard to case";

  // One byte changed, in a way that would otherwise name a missing file.
  std::string changed = client.list;
  changed[66] = 'q';
  client.write_list(changed);
  EXPECT_EQ(client.verify(digest), 0);
  // The list as it now is, but one byte more.
  EXPECT_EQ(client.verify(sha256_hex(changed + "\n")), 0);
  EXPECT_EQ(journal.events(), lines{}) << "no entry is examined when the list is not the expected one";
}

TEST_F(Verify, RefusesAListThatIsMissingEmptyOrADirectory) {
  client.add_fillers(1000);
  std::string digest = sha256_hex(client.list);
  EXPECT_EQ(client.verify(digest), 0) << "no list written yet";
  EXPECT_EQ(client.verify(client.write_list("")), 0);
  remove_tree(join(client.folder, L"client-integrity.sha256"));
  ASSERT_TRUE(make_dirs(join(client.folder, L"client-integrity.sha256")));
  EXPECT_EQ(client.verify(sha256_hex("")), 0);
  EXPECT_EQ(journal.events(), lines{});
}

TEST_F(Verify, ReadsAListOfUpTo16MiB) {
  client.add_fillers(1000);
  const size_t limit = 16777216;
  std::string text = client.list + std::string(limit - client.list.size(), '\n');
  EXPECT_EQ(client.verify(client.write_list(text)), 1) << "empty lines up to the limit";
  EXPECT_EQ(client.verify(client.write_list(text + "\n")), 0) << "one byte over the limit";
}

TEST_F(Verify, AZeroByteEndsTheScan) {
  client.add_fillers(1000);
  std::string text = client.list + std::string(1, '\0') + "garbage that is no entry\n";
  EXPECT_EQ(client.verify(client.write_list(text)), 1);

  std::string first_999 = client.list.substr(0, 999 * L);
  text = first_999 + std::string(1, '\0') + client.list.substr(999 * L);
  EXPECT_EQ(client.verify(client.write_list(text)), 0) << "the entry after the zero byte is not counted";
  EXPECT_EQ(journal.events(), lines{});
}

TEST_F(Verify, ACarriageReturnEndsUpInThePath) {
  client.add_fillers(1000);
  std::string text;
  for (size_t at = 0; at < client.list.size(); at += L) text += client.list.substr(at, L - 1) + "\r\n";
  EXPECT_EQ(client.verify(client.write_list(text)), 0);
  EXPECT_EQ(journal.events(), lines{"Fichier client absent ou illisible : " + native("pack/f0000.bin") + "\r"});
}

// Each malformed line sits among 1,000 good entries and names a file that exists with the
// listed digest, so only the line's form can make the verification fail. The entry after it
// names a missing file: examined, it would be journalled.
TEST_F(Verify, AMalformedLineFailsEverythingWithoutAMessage) {
  client.add_fillers(1000);
  const std::string good = filler_digest(1);
  const std::string head = client.list.substr(0, 10 * L);
  const std::string tail = entry(good, "pack/missing.bin") + client.list.substr(10 * L);
  struct {
    const char* what;
    std::string line;
  } cases[] = {
      {"one space", good + " pack/f0001.bin\n"},
      {"a tab", good + "\tpack/f0001.bin\n"},
      {"two tabs", good + "\t\tpack/f0001.bin\n"},
      {"upper-case digest", upper(good) + "  pack/f0001.bin\n"},
      {"63 digits", good.substr(1) + "  pack/f0001.bin\n"},
      {"non-hex digit", "g" + good.substr(1) + "  pack/f0001.bin\n"},
      {"no path", good + "  \n"},
      {"byte-order mark", "\xEF\xBB\xBF" + good + "  pack/f0001.bin\n"},
      {"leading slash", good + "  /pack/f0001.bin\n"},
      {"leading backslash", good + "  \\pack\\f0001.bin\n"},
      {"drive letter", good + "  C:pack/f0001.bin\n"},
      {"colon inside", good + "  pack/f0001.bin:stream\n"},
      {"parent with slash", good + "  pack/../pack/f0001.bin\n"},
      {"parent with backslash", good + "  pack\\..\\pack\\f0001.bin\n"},
      {"invalid UTF-8", good + "  pack/f0001\xC3(.bin\n"},
  };
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.what);
    EXPECT_EQ(client.verify(client.write_list(head + bad.line + tail)), 0);
    // At the start of the list as well.
    EXPECT_EQ(client.verify(client.write_list(bad.line + tail)), 0);
  }
  // And as the last line, without a line feed, after 1,000 good entries.
  EXPECT_EQ(client.verify(client.write_list(client.list + good + " pack/f0001.bin")), 0);
  EXPECT_EQ(journal.events(), lines{});
  // The same file, well written, is accepted.
  EXPECT_EQ(client.verify(client.write_list(client.list + entry(good, "pack/f0001.bin"))), 1);
}

TEST_F(Verify, AcceptsEitherSeparatorAndNonAsciiPaths) {
  client.add_fillers(998);
  client.add("data\\common\\backslash.bin", "written with backslashes");
  client.add("data/\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.bin", "non-ASCII name");
  EXPECT_EQ(client.verify(client.write_list()), 1);
}

TEST_F(Verify, ADifferentFileIsRefusedWithBothDigests) {
  client.add_fillers(1000);
  client.add_listed("data/common/changed.bin", sha256_hex("official"), "tampered");
  EXPECT_EQ(client.verify(client.write_list()), 0);
  EXPECT_EQ(journal.events(), lines{"Empreinte client refusee : " + native("data/common/changed.bin") + " (attendu " +
                                    sha256_hex("official") + ", obtenu " + sha256_hex("tampered") + ")"});
}

TEST_F(Verify, IgnoresFilesTheListDoesNotName) {
  client.add_fillers(1000);
  client.put("extra.bin", "not listed");
  client.put("pack/sub/another.bin", "");
  ASSERT_TRUE(make_dirs(join(client.folder, L"empty-folder")));
  EXPECT_EQ(client.verify(client.write_list()), 1);
  EXPECT_EQ(journal.events(), lines{});
}

TEST_F(Verify, ListedDirectoryOrMissingFileCountsAsMissing) {
  client.add_fillers(1000);
  ASSERT_TRUE(make_dirs(join(client.folder, L"data/folder")));
  client.put("data/folder/inside.bin", "x");
  std::string text = client.list + entry(sha256_hex(""), "data/folder");
  EXPECT_EQ(client.verify(client.write_list(text)), 0);
  text = client.list + entry(sha256_hex(""), "data/nothing.bin");
  EXPECT_EQ(client.verify(client.write_list(text)), 0);
  // A third space belongs to the path.
  text = client.list + entry(filler_digest(1), " pack/f0001.bin");
  EXPECT_EQ(client.verify(client.write_list(text)), 0);
  EXPECT_EQ(journal.events(), (lines{"Fichier client absent ou illisible : " + native("data/folder"),
                                     "Fichier client absent ou illisible : " + native("data/nothing.bin"),
                                     "Fichier client absent ou illisible :  " + native("pack/f0001.bin")}));
}

// Links come from tests/fixtures/integrity.fixtures.sh; each folder passes but for its link.
namespace {
void expect_link_missing(const std::wstring& fixture, const std::string& listed, const std::wstring& log) {
  std::string digest = read_bytes(fixture_path(fixture + L".sha256")).substr(0, 64);
  ASSERT_EQ(digest.size(), 64u);
  integrity_journal capture{log};
  EXPECT_EQ(verify_integrity(fixture_path(fixture).c_str(), from_utf8(digest).c_str()), 0);
  EXPECT_EQ(capture.events(), std::vector<std::string>{"Fichier client absent ou illisible : " + native(listed)});
}
}  // namespace

TEST_F(Verify, ListedDirectoryLinkCountsAsMissing) {
  expect_link_missing(L"integrity/dir-link", "links/dir-link", dir / L"dir-link.log");
}

// Client/pack is a link to ../real, a folder beside the client holding every listed file.
// Wine shows a folder link made on the Linux side as a reparse point, so both builds see it.
TEST_F(Verify, AFolderLinkOnTheWayCountsAsMissing) {
  expect_link_missing(L"integrity/mid-link/Client", "pack/f0000.bin", dir / L"mid-link.log");
}

// The same with a link the running system makes itself: a symbolic link on Linux, a junction
// on Windows.
TEST_F(Verify, AFolderLinkMadeHereOnTheWayCountsAsMissing) {
  client.add_fillers(1000);
  const std::wstring real = dir / L"real";
  test_client elsewhere{real};
  elsewhere.add("f.bin", "behind the link");
  if (!make_link(real, join(client.folder, L"data"))) {
    GTEST_SKIP() << "this system cannot make a folder link from inside (Wine 8 answers ERROR_NOT_SUPPORTED to "
                    "FSCTL_SET_REPARSE_POINT); AFolderLinkOnTheWayCountsAsMissing covers the case";
  }
  ASSERT_EQ(read_bytes(join(client.folder, L"data/f.bin")), "behind the link") << "the link resolves";
  EXPECT_EQ(client.verify(client.write_list(client.list + entry(sha256_hex("behind the link"), "data/f.bin"))), 0);
  EXPECT_EQ(journal.events(), lines{"Fichier client absent ou illisible : " + native("data/f.bin")});
}

TEST_F(Verify, ListedFileLinkCountsAsMissing) {
#ifdef _WIN32
  GTEST_SKIP() << "a link to a file made on Linux is no reparse point under Wine, which hashes its target";
#else
  expect_link_missing(L"integrity/file-link", "links/file-link.bin", dir / L"file-link.log");
#endif
}

TEST_F(Verify, ListThatIsALinkIsRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "a link to a file made on Linux is no reparse point under Wine, which reads its target";
#else
  std::string digest = read_bytes(fixture_path(L"integrity/list-link.sha256")).substr(0, 64);
  ASSERT_EQ(digest.size(), 64u);
  EXPECT_EQ(verify_integrity(fixture_path(L"integrity/list-link").c_str(), from_utf8(digest).c_str()), 0);
  EXPECT_EQ(journal.events(), lines{});
  // The list the link points to, copied into a folder of its own, passes.
  client.add_fillers(1000);
  EXPECT_EQ(client.write_list(read_bytes(fixture_path(L"integrity/list-link.real"))), digest);
  EXPECT_EQ(client.verify(digest), 1);
#endif
}

// A Windows device name opens a device there, not a file; both builds count it as missing. On
// Linux the files exist with the listed digest, so only the name decides.
TEST_F(Verify, DeviceNamesCountAsMissing) {
  client.add_fillers(1000);
  for (const char* name : {"NUL", "nul.txt", "Com1.log", "LPT9", "data/AUX/inside.bin", "CON .ini"}) {
    SCOPED_TRACE(name);
#ifndef _WIN32
    client.put(name, "");
#endif
    EXPECT_EQ(client.verify(client.write_list(entry(sha256_hex(""), name) + client.list)), 0);
  }
  EXPECT_EQ(journal.events(),
            (lines{"Fichier client absent ou illisible : NUL", "Fichier client absent ou illisible : nul.txt",
                   "Fichier client absent ou illisible : Com1.log", "Fichier client absent ou illisible : LPT9",
                   "Fichier client absent ou illisible : " + native("data/AUX/inside.bin"),
                   "Fichier client absent ou illisible : CON .ini"}));
  // Names that only begin like one are files like any other.
  client.add("CONSOLE.txt", "a");
  client.add("nul_/x.bin", "b");
  client.add("COM10", "c");
  EXPECT_EQ(client.verify(client.write_list()), 1);
}

// A FIFO would block a reader for ever and a socket cannot be read; both count as missing at
// once.
TEST_F(Verify, SpecialFilesCountAsMissing) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs and sockets are not files in the Windows file system";
#else
  client.add_fillers(1000);
  ASSERT_TRUE(make_dirs(join(client.folder, L"data")));
  ASSERT_TRUE(make_fifo(join(client.folder, L"data/fifo")));
  ASSERT_TRUE(make_socket(join(client.folder, L"data/socket")));
  EXPECT_EQ(client.verify(client.write_list(client.list + entry(sha256_hex(""), "data/fifo"))), 0);
  EXPECT_EQ(client.verify(client.write_list(client.list + entry(sha256_hex(""), "data/socket"))), 0);
  EXPECT_EQ(journal.events(), (lines{"Fichier client absent ou illisible : data/fifo",
                                     "Fichier client absent ou illisible : data/socket"}));
#endif
}
