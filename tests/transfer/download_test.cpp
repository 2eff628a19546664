// The launcher's own small HTTPS downloads, against the real release server.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/journal_lines.h"
#include "support/release_server.h"
#include "support/test_support.h"
#include "transfer/download.h"
#include "transfer/job_support.h"

namespace {
class SmallDownload : public release_server_test {
 protected:
  temp_dir dir;
  std::wstring destination = dir / L"release.manifest.tmp";

  int once(const std::wstring& url) { return download_small_once(url.c_str(), destination.c_str()); }
  // An earlier run's file at the destination.
  void leave_old_file() { ASSERT_TRUE(write_bytes(destination, "left by an earlier run")); }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const char k_failed_1[] = "Tentative reseau 1/3 echouee pour le manifeste securise.";
const char k_failed_2[] = "Tentative reseau 2/3 echouee pour le manifeste securise.";
const char k_failed_3[] = "Tentative reseau 3/3 echouee pour le manifeste securise.";
}  // namespace

TEST_F(SmallDownload, PlainHttpIsRefusedWithoutARequest) {
  leave_old_file();
  access_log log;
  EXPECT_EQ(once(server_url(PLAIN_HTTP_PORT_OFFSET, false, L"fault/small.txt")), 0);
  EXPECT_FALSE(file_exists(destination));
  EXPECT_EQ(log.since("", 0).find(std::to_string(origin_port() + PLAIN_HTTP_PORT_OFFSET) + " \""), std::string::npos);
}

TEST_F(SmallDownload, AnswersOtherThanA200WithABodyLeaveNoFile) {
  for (const wchar_t* path : {L"fault/status-404", L"fault/status-500", L"fault/status-206", L"fault/empty"}) {
    SCOPED_TRACE(to_utf8(path));
    leave_old_file();
    EXPECT_EQ(once(origin_url(path)), 0);
    EXPECT_FALSE(file_exists(destination));
  }
}

TEST_F(SmallDownload, OneMebibyteIsTheLargestBody) {
  ASSERT_EQ(once(origin_url(L"fault/exact-1mib.bin")), 1);
  EXPECT_EQ(read_bytes(destination), fault_file(L"exact-1mib.bin"));
  EXPECT_EQ(once(origin_url(L"fault/over-1mib.bin")), 0);
  EXPECT_FALSE(file_exists(destination));
}

TEST_F(SmallDownload, ReplacesAnEarlierFileAndSendsTheUserAgent) {
  leave_old_file();
  ASSERT_TRUE(serve_file(L"dl/Vorna380.release.manifest", "short text"));
  access_log log;
  ASSERT_EQ(once(origin_url(L"dl/Vorna380.release.manifest")), 1);
  EXPECT_EQ(read_bytes(destination), "short text");
  std::string line = " \"GET /dl/Vorna380.release.manifest HTTP/1.1\" 200 10 \"Vorna380-Secure-Launcher/1.0\"";
  EXPECT_NE(log.since(line).find(line), std::string::npos) << log.since();
}

TEST_F(SmallDownload, UnknownAuthorityCutBodyAndRedirectToPlainHttpFail) {
  for (const std::wstring& url : {server_url(UNTRUSTED_PORT_OFFSET, true, L"fault/small.txt"),
                                  origin_url(L"fault/cut/exact-1mib.bin"), origin_url(L"fault/redirect-http")}) {
    SCOPED_TRACE(to_utf8(url));
    leave_old_file();
    EXPECT_EQ(once(url), 0);
    EXPECT_FALSE(file_exists(destination));
  }
  // A redirect that stays on https is followed, as the platform does by default.
  ASSERT_EQ(once(origin_url(L"fault/redirect")), 1);
  EXPECT_EQ(read_bytes(destination), fault_file(L"small.txt"));
}

TEST_F(SmallDownload, ATrickleIsAbandonedAfterAWindowBelowTheMinimumRate) {
  journal_capture journal(dir / L"launcher.log");
  short_rate_window window;
  ASSERT_TRUE(serve_file(L"dl/trickle.bin", std::string(256, 't')));  // half a minute at 8 bytes/s
  std::wstring url = origin_url(L"trickle/dl/trickle.bin");
  EXPECT_EQ(once(url), 0);
  EXPECT_FALSE(file_exists(destination));
  EXPECT_EQ(journal.messages(), std::vector<std::string>{too_slow_line(url)});
}

TEST_F(SmallDownload, ALaterAttemptThatSucceedsIsJournalled) {
  journal_capture journal(dir / L"launcher.log");
  // The path answers 503 to a request less than 3 s after the last one for the same name: the
  // first attempt follows the one made here, the second (1.5 s later) may or may not come too
  // soon, the third (3 s after that) never does.
  std::wstring url = origin_url(L"fault/rate-limited/" + dir.path.substr(dir.path.find_last_of(L"/\\") + 1));
  ASSERT_EQ(once(url), 1);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(download_small(url.c_str(), destination.c_str()), 1);
  EXPECT_GE(seconds_since(start), 1.5);
  EXPECT_EQ(read_bytes(destination), fault_file(L"small.txt"));
  std::vector<std::string> second = {k_failed_1, "Telechargement du manifeste retabli a la tentative 2/3."};
  std::vector<std::string> third = {k_failed_1, k_failed_2, "Telechargement du manifeste retabli a la tentative 3/3."};
  EXPECT_TRUE(journal.messages() == second || journal.messages() == third)
      << ::testing::PrintToString(journal.messages());
}

TEST_F(SmallDownload, ThreeFailedAttemptsPauseFourAndAHalfSeconds) {
  journal_capture journal(dir / L"launcher.log");
  leave_old_file();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(download_small(origin_url(L"fault/status-404").c_str(), destination.c_str()), 0);
  EXPECT_GE(seconds_since(start), 4.5);
  EXPECT_FALSE(file_exists(destination));
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{k_failed_1, k_failed_2, k_failed_3}));
}

TEST_F(SmallDownload, ThePublishedManifestAndSignatureAreWhatTheLauncherAccepts) {
  std::wstring manifest = dir / L"release.manifest.tmp";
  std::wstring signature = dir / L"release.manifest.sig.tmp";
  for (const wchar_t* release : {L"good", L"bad-signature"}) {
    SCOPED_TRACE(to_utf8(release));
    ASSERT_TRUE(serve_release(release));
    ASSERT_EQ(download_small(origin_url(L"dl/Vorna380.release.manifest").c_str(), manifest.c_str()), 1);
    ASSERT_EQ(download_small(origin_url(L"dl/Vorna380.release.manifest.sig").c_str(), signature.c_str()), 1);
    EXPECT_EQ(read_bytes(signature).size(), 384u);
    int expected = std::wstring(release) == L"good" ? 0 : 2;
    EXPECT_EQ(run_program({launcher_path(), L"--verify-release", manifest, signature}), expected);
  }
}
