#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/journal.h"
#include "core/paths.h"
#include "core/text.h"
#include "core_test_platform.h"
#include "support/journal_lines.h"
#include "support/test_support.h"

namespace {
// The journal of each test lives in its own scratch folder.
class Journal : public ::testing::Test {
 protected:
  std::vector<journal_line> lines() { return capture.lines(); }
  std::vector<std::string> messages() { return capture.messages(); }

  temp_dir dir;
  journal_capture capture{dir / L"launcher.log"};
  const std::wstring journal = capture.path;
};

// "[YYYY-MM-DD hh:mm:ss] " in front of every message.
constexpr size_t STAMP_UNITS = 22;
// At most 2047 units per line, line end included.
constexpr size_t MESSAGE_ROOM = 2047 - STAMP_UNITS - 2;

bool ends_with(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

TEST_F(Journal, FirstLineCreatesTheFileInTheDocumentedFormat) {
  ASSERT_FALSE(file_exists(journal));
  std::string before = local_stamp_now();
  write_log(L"Demarrage du lanceur");
  std::string after = local_stamp_now();

  std::string bytes = read_bytes(journal);
  std::vector<journal_line> parsed = lines();
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(bytes, "[" + parsed[0].stamp + "] Demarrage du lanceur\r\n") << "no byte-order mark, nothing else";
  EXPECT_GE(parsed[0].stamp, before) << "local time of writing";
  EXPECT_LE(parsed[0].stamp, after) << "local time of writing";
}

TEST_F(Journal, LaterLinesFollowWhateverTheFileHeld) {
  // Earlier content, even without a final line end and with bytes that are not text, stays.
  std::string earlier = "ancienne ligne\r\nfin sans retour \xff\x01";
  earlier += '\0';
  ASSERT_TRUE(write_bytes(journal, earlier));
  write_log(L"deuxieme");
  write_log(L"troisieme");

  std::string bytes = read_bytes(journal);
  ASSERT_GT(bytes.size(), earlier.size());
  EXPECT_EQ(bytes.substr(0, earlier.size()), earlier);
  std::vector<journal_line> added;
  std::string problem;
  ASSERT_TRUE(parse_journal(bytes.substr(earlier.size()), &added, &problem)) << problem;
  ASSERT_EQ(added.size(), 2u);
  EXPECT_EQ(added[0].message, "deuxieme");
  EXPECT_EQ(added[1].message, "troisieme");
}

TEST_F(Journal, NonAsciiTextIsStoredAsUtf8) {
  write_log(L"Dossier C:\\Users\\Ren\u00e9e \u2014 r\u00e9sultat 5\u20ac \U0001F600 \u4e2d");
  ASSERT_EQ(messages(), std::vector<std::string>{"Dossier C:\\Users\\Ren\xc3\xa9"
                                                 "e \xe2\x80\x94 r\xc3\xa9sultat 5"
                                                 "\xe2\x82\xac \xf0\x9f\x98\x80 \xe4\xb8\xad"});
}

TEST_F(Journal, WithoutAJournalPathNothingIsWritten) {
  g_log[0] = L'\0';
  write_log(L"perdue");
  log_windows_error(L"perdue aussi", described_error_code());
  EXPECT_FALSE(file_exists(journal));

  // Lines written once the path is known are the only ones in the file.
  copy_text(g_log, PATH_UNITS, journal.c_str());
  write_log(L"premiere visible");
  EXPECT_EQ(messages(), std::vector<std::string>{"premiere visible"});
}

TEST_F(Journal, LongLinesAreCutAt2047UnitsAndKeepTheirLineEnd) {
  write_log(std::wstring(MESSAGE_ROOM - 1, L'a').c_str());  // fits with a unit to spare
  write_log(std::wstring(MESSAGE_ROOM, L'b').c_str());      // fits exactly
  write_log(std::wstring(MESSAGE_ROOM + 1, L'c').c_str());  // one unit too many
  write_log(std::wstring(5000, L'd').c_str());
  write_log(L"suivante");

  std::vector<journal_line> parsed = lines();
  ASSERT_EQ(parsed.size(), 5u) << "every entry, cut or not, ends its own line";
  EXPECT_EQ(parsed[0].message, std::string(MESSAGE_ROOM - 1, 'a'));
  EXPECT_EQ(parsed[1].message, std::string(MESSAGE_ROOM, 'b'));
  EXPECT_EQ(parsed[2].message, std::string(MESSAGE_ROOM, 'c'));
  EXPECT_EQ(parsed[3].message, std::string(MESSAGE_ROOM, 'd'));
  EXPECT_EQ(parsed[4].message, "suivante");
}

TEST_F(Journal, TheCutCountsUnitsBeforeConversionAndNeverSplitsACharacter) {
  // Two UTF-8 bytes per unit: the limit is on units, not on bytes.
  write_log(std::wstring(3000, L'\u00e9').c_str());
  // A character beyond the basic plane right at the cut: on Windows its two units do not both
  // fit, and half of it must not reach the file.
  std::wstring straddling = std::wstring(MESSAGE_ROOM - 1, L'x') + L"\U0001F600" + L"yyyy";
  write_log(straddling.c_str());
  write_log(L"suivante");

  std::vector<journal_line> parsed = lines();
  ASSERT_EQ(parsed.size(), 3u);
  std::wstring accents;
  for (size_t i = 0; i < MESSAGE_ROOM; ++i) accents += L'\u00e9';
  EXPECT_EQ(parsed[0].message, to_utf8(accents));

  std::wstring stored = from_utf8(parsed[1].message);
  ASSERT_FALSE(stored.empty()) << "the cut line must stay valid UTF-8";
  EXPECT_EQ(straddling.compare(0, stored.size(), stored), 0) << "the stored text is the start of the message";
  EXPECT_GE(stored.size(), MESSAGE_ROOM - 1);
  EXPECT_LE(stored.size(), MESSAGE_ROOM);
  EXPECT_EQ(parsed[2].message, "suivante");
}

TEST_F(Journal, SystemErrorTextEndsWithExactlyOneFullStop) {
  uint32_t code = described_error_code();
  std::wstring raw = raw_system_error_text(code);
  ASSERT_FALSE(raw.empty());
  std::wstring body = raw;
  if (system_texts_end_with_full_stop()) {
    ASSERT_TRUE(ends_with(raw, L".\r\n")) << "this check needs a system text ending in a full stop and CR LF";
    body.resize(body.size() - 3);
  }
  ASSERT_FALSE(ends_with(body, L"."));

  log_windows_error(L"Ouverture du paquet impossible", code);
  std::wstring expected = L"Ouverture du paquet impossible (" + std::wstring(system_error_label()) + L" " +
                          std::to_wstring(code) + L"): " + body + L".";
  EXPECT_EQ(messages(), std::vector<std::string>{to_utf8(expected)});
}

TEST_F(Journal, UndescribedErrorCodesGiveTheShortForm) {
  std::vector<std::string> expected;
  for (uint32_t code : undescribed_error_codes()) {
    ASSERT_TRUE(raw_system_error_text(code).empty()) << code;
    log_windows_error(L"Inventaire des processus impossible", code);
    expected.push_back(to_utf8(L"Inventaire des processus impossible (" + std::wstring(system_error_label()) + L" " +
                               std::to_wstring(code) + L")."));
  }
  EXPECT_EQ(messages(), expected);
}

TEST_F(Journal, ErrorLinesAreCutAt1279Units) {
  std::wstring prefix(1500, L'p');
  log_windows_error(prefix.c_str(), undescribed_error_codes()[0]);
  EXPECT_EQ(messages(), std::vector<std::string>{std::string(1279, 'p')});
}

TEST_F(Journal, LinesReachAJournalHeldOpenWithReadAndWriteSharing) {
  write_log(L"avant");
  {
    shared_file_holder other(journal);
    ASSERT_TRUE(other.held());
    write_log(L"pendant");
    log_windows_error(L"pendant aussi", undescribed_error_codes()[0]);
  }
  write_log(L"apres");
  std::vector<std::string> got = messages();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "avant");
  EXPECT_EQ(got[1], "pendant");
  EXPECT_EQ(got[2].rfind("pendant aussi (", 0), 0u);
  EXPECT_EQ(got[3], "apres");
}

TEST_F(Journal, LinesAreLostSilentlyWhileTheJournalIsLockedWithoutSharing) {
  write_log(L"avant");
  {
    exclusive_lock lock(journal);
    if (!lock.held()) GTEST_SKIP() << "this account cannot be locked out of a file";
    write_log(L"perdue");
    log_windows_error(L"perdue aussi", described_error_code());
  }
  write_log(L"apres");
  EXPECT_EQ(messages(), (std::vector<std::string>{"avant", "apres"}));
}

// The journal never writes through a link at its own path: the named file stays as it was and
// nothing is created. (A FIFO there is refused too, without waiting for a reader.)
TEST_F(Journal, NothingIsWrittenThroughALinkOrIntoAFifo) {
#ifdef _WIN32
  GTEST_SKIP() << "a file link made on Linux is no reparse point under Wine, and Wine cannot make one itself";
#else
  ASSERT_TRUE(write_bytes(dir / L"victim.txt", "untouched\n"));
  ASSERT_TRUE(make_link(dir / L"victim.txt", journal));
  write_log(L"ligne");
  EXPECT_EQ(read_bytes(dir / L"victim.txt"), "untouched\n");
  remove_tree(journal);
  ASSERT_TRUE(make_link(dir / L"not-there.txt", journal));
  write_log(L"ligne");
  EXPECT_FALSE(file_exists(dir / L"not-there.txt")) << "a dangling link creates nothing";
  remove_tree(journal);
  ASSERT_TRUE(make_fifo(journal));
  write_log(L"ligne");
  remove_tree(journal);
  write_log(L"ligne");
  EXPECT_EQ(messages(), std::vector<std::string>{"ligne"}) << "a regular file at the path takes lines again";
#endif
}

namespace {
constexpr int LINES_PER_WRITER = 1000;

// What is wrong with a journal that should hold exactly the lines "TAG 0" .. "TAG n-1" of
// every tag, each whole and once, and in order per tag (each writer waits for its own writes);
// empty when nothing is. *switches counts how often consecutive lines change writer.
std::string whole_line_problems(const std::wstring& journal, const std::vector<std::string>& tags, int* switches) {
  std::vector<journal_line> lines;
  std::string problem;
  if (!parse_journal(read_bytes(journal), &lines, &problem)) return problem;

  std::map<std::string, int> next;
  for (const auto& tag : tags) next[tag] = 0;
  std::string previous_tag;
  *switches = 0;
  for (const auto& line : lines) {
    size_t space = line.message.find(' ');
    auto expected = next.find(line.message.substr(0, space));
    if (space == std::string::npos || expected == next.end()) return "foreign line: " + line.message;
    if (line.message.substr(space + 1) != std::to_string(expected->second)) {
      return "writer " + expected->first + ": expected line " + std::to_string(expected->second) + ", found \"" +
             line.message + "\"";
    }
    ++expected->second;
    if (!previous_tag.empty() && expected->first != previous_tag) ++*switches;
    previous_tag = expected->first;
  }
  for (const auto& [tag, count] : next) {
    if (count != LINES_PER_WRITER) return "writer " + tag + " left " + std::to_string(count) + " lines";
  }
  return {};
}

// Wine 8 does not make a write on an append-only handle atomic: racing writers now and then
// land on the same offset and one line replaces the other. Windows and Linux append whole.
void report(const std::string& problems) {
  if (problems.empty()) return;
  if (running_under_wine()) GTEST_SKIP() << "Wine's appends race: " << problems;
  ADD_FAILURE() << problems;
}

void write_lines(const char* tag) {
  for (int i = 0; i < LINES_PER_WRITER; ++i) {
    std::wstring line = from_utf8(tag) + L" " + std::to_wstring(i);
    write_log(line.c_str());
  }
}
}  // namespace

TEST(JournalConcurrency, TwoThreadsLeaveWholeLines) {
  temp_dir dir;
  journal_capture capture{dir / L"launcher.log"};
  std::thread first(write_lines, "A");
  std::thread second(write_lines, "B");
  first.join();
  second.join();
  int switches = 0;
  report(whole_line_problems(capture.path, {"A", "B"}, &switches));
}

TEST(JournalConcurrency, TwoProcessesLeaveWholeLines) {
  temp_dir dir;
  std::wstring journal = dir / L"launcher.log";
  std::wstring gate = dir / L"go";

  std::wstring count = std::to_wstring(LINES_PER_WRITER);
  intptr_t first = start_program({JOURNAL_WRITER_PATH, journal, L"P", count, gate, dir / L"P.half", dir / L"Q.half"});
  intptr_t second = start_program({JOURNAL_WRITER_PATH, journal, L"Q", count, gate, dir / L"Q.half", dir / L"P.half"});
  ASSERT_TRUE(write_bytes(gate, "go"));
  int first_code = wait_program(first, 120000);
  int second_code = wait_program(second, 120000);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  ASSERT_EQ(first_code, 0);
  ASSERT_EQ(second_code, 0);

  int switches = 0;
  std::string problems = whole_line_problems(journal, {"P", "Q"}, &switches);
  report(problems);
  // Each writer waits half-way for the other, so their lines must mix.
  if (problems.empty()) {
    EXPECT_GE(switches, 2);
  }
}
