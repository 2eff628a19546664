#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "core_test_platform.h"
#include "support/journal_lines.h"
#include "support/test_support.h"

namespace {
// Each test journals into its own folder and starts with no window and no progress.
class StatusChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    g_window = nullptr;
    set_indeterminate_progress();
  }
  void TearDown() override {
    g_window = nullptr;
    if (window != nullptr) {
      for (const auto& message : take_posted_messages(window)) free(reinterpret_cast<void*>(message.lparam));
      release_test_window(window);
    }
    g_progress_total = 0;
    g_progress_file[0] = L'\0';
    set_indeterminate_progress();
  }

  window_handle open_window() {
    window = open_test_window();
    return window;
  }

  std::vector<std::string> journalled() { return capture.messages(); }

  // The text a posted message carries; the receiver's part: it frees the copy.
  static std::wstring receive_text(const posted_message& message) {
    auto* copy = reinterpret_cast<wchar_t*>(message.lparam);
    std::wstring text = copy;
    free(copy);
    return text;
  }

  temp_dir dir;
  journal_capture capture{dir / L"launcher.log"};
  const std::wstring journal = capture.path;
  window_handle window = nullptr;
};
}  // namespace

TEST_F(StatusChannel, WithoutAWindowStatusAndErrorTextsAreOnlyJournalled) {
  set_status(L"V\u00e9rification du client...");
  post_text(WM_LAUNCHER_STATUS, L"statut sans journal");
  post_text(WM_LAUNCHER_ERROR, L"Erreur fatale sans fen\u00eatre");
  // The copies made for the missing window must not outlive the calls (the sanitizer build
  // reports a leak otherwise).
  EXPECT_EQ(journalled(),
            (std::vector<std::string>{"V\xc3\xa9rification du client...", "Erreur fatale sans fen\xc3\xaatre"}))
      << "a status text posted directly is not journalled a second time";
}

TEST_F(StatusChannel, TextsArriveAsHeapCopiesInPostingOrder) {
  g_window = open_window();
  ASSERT_NE(g_window, nullptr);
  std::wstring long_text(5000, L'z');  // a copy is not cut; only the window cuts it on display
  wchar_t changing[] = L"T\u00e9l\u00e9chargement du client";

  set_status(changing);
  changing[0] = L'X';  // the sender's buffer is free again as soon as the call returns
  post_text(WM_LAUNCHER_ERROR, L"Signature invalide");
  set_status(long_text.c_str());
  post_text(WM_LAUNCHER_STATUS, L"");

  std::vector<posted_message> posted = take_posted_messages(g_window);
  ASSERT_EQ(posted.size(), 4u);
  const unsigned kinds[] = {WM_LAUNCHER_STATUS, WM_LAUNCHER_ERROR, WM_LAUNCHER_STATUS, WM_LAUNCHER_STATUS};
  for (size_t i = 0; i < posted.size(); ++i) {
    EXPECT_EQ(posted[i].message, kinds[i]) << i;
    EXPECT_EQ(posted[i].wparam, 0u) << i;
    ASSERT_NE(posted[i].lparam, 0) << i;
  }
  EXPECT_NE(reinterpret_cast<wchar_t*>(posted[0].lparam), changing);
  EXPECT_EQ(receive_text(posted[0]), L"T\u00e9l\u00e9chargement du client");
  EXPECT_EQ(receive_text(posted[1]), L"Signature invalide");
  EXPECT_EQ(receive_text(posted[2]), long_text);
  EXPECT_EQ(receive_text(posted[3]), L"");

  std::vector<std::string> lines = journalled();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "T\xc3\xa9l\xc3\xa9"
            "chargement du client");
  EXPECT_EQ(lines[1], "Signature invalide");
  EXPECT_EQ(lines[2], std::string(2023, 'z'));
}

TEST_F(StatusChannel, PostsToADestroyedWindowAreLostButStillJournalled) {
  g_window = open_window();
  ASSERT_NE(g_window, nullptr);
  destroy_test_window(g_window);
  set_status(L"Installation termin\u00e9e");
  post_text(WM_LAUNCHER_ERROR, L"Activation impossible");
  EXPECT_TRUE(take_posted_messages(g_window).empty());
  EXPECT_EQ(journalled(), (std::vector<std::string>{"Installation termin\xc3\xa9"
                                                    "e",
                                                    "Activation impossible"}));
}

TEST_F(StatusChannel, FailedPostsReleaseTheirCopies) {
  // Thousands of large texts that reach no window: kept copies would show as growth by far
  // more than the margin (and, in the sanitizer build, as leaks).
  g_log[0] = L'\0';
  std::wstring text(32768, L'm');
  constexpr int POSTS = 4000;
  g_window = open_window();
  ASSERT_NE(g_window, nullptr);
  destroy_test_window(g_window);
  size_t before = process_private_bytes();
  for (int i = 0; i < POSTS / 2; ++i) post_text(WM_LAUNCHER_STATUS, text.c_str());
  g_window = nullptr;
  for (int i = 0; i < POSTS / 2; ++i) post_text(WM_LAUNCHER_ERROR, text.c_str());
  size_t after = process_private_bytes();
#if !defined(__SANITIZE_ADDRESS__)
  // The address sanitizer holds freed blocks back for a while, so only the leak check counts there.
  ASSERT_NE(before, 0u);
  size_t kept = POSTS * text.size() * sizeof(wchar_t);
  EXPECT_LT(after - std::min(after, before), kept / 8) << "about " << kept << " bytes would have been kept";
#else
  (void)before;
  (void)after;
#endif
}

TEST_F(StatusChannel, VerifyProgressStoresNegativeFiguresAsZero) {
  struct figures {
    int32_t done, total, stored_done, stored_total;
  };
  const figures cases[] = {
      {4, 10, 4, 10}, {-3, 10, 0, 10}, {4, -1, 4, 0}, {-5, -7, 0, 0}, {INT32_MIN, INT32_MAX, 0, INT32_MAX},
      {0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    set_indeterminate_progress();
    set_verify_progress(c.done, c.total);
    EXPECT_EQ(g_progress_mode.load(), PROGRESS_VERIFY) << c.done << "/" << c.total;
    EXPECT_EQ(g_verify_progress_done.load(), c.stored_done) << c.done << "/" << c.total;
    EXPECT_EQ(g_verify_progress_total.load(), c.stored_total) << c.done << "/" << c.total;
  }
}

TEST_F(StatusChannel, IndeterminateProgressClearsTheCountersButKeepsTheDownloadFigures) {
  copy_text(g_progress_file, PATH_UNITS, L"Vorna380.package.zip");
  g_progress_total = 123456789012ull;
  g_progress_mode.exchange(PROGRESS_DOWNLOAD);
  set_verify_progress(17, 40);
  set_indeterminate_progress();
  EXPECT_EQ(g_progress_mode.load(), PROGRESS_INDETERMINATE);
  EXPECT_EQ(g_verify_progress_done.load(), 0);
  EXPECT_EQ(g_verify_progress_total.load(), 0);
  EXPECT_EQ(g_progress_total, 123456789012ull);
  EXPECT_STREQ(g_progress_file, L"Vorna380.package.zip");
}

TEST_F(StatusChannel, RepaintIsRequestedOnlyWhenThereIsAWindow) {
  window_handle test_window = open_window();
  ASSERT_NE(test_window, nullptr);
  if (take_repaint_requests(test_window) < 0) GTEST_SKIP() << "no window here can show a repaint request";

  g_window = nullptr;
  set_verify_progress(1, 3);
  set_indeterminate_progress();
  EXPECT_EQ(take_repaint_requests(test_window), 0);

  g_window = test_window;
  set_verify_progress(2, 3);
  EXPECT_GT(take_repaint_requests(test_window), 0);
  EXPECT_EQ(take_repaint_requests(test_window), 0);
  set_indeterminate_progress();
  EXPECT_GT(take_repaint_requests(test_window), 0);
  // Status texts travel by message only; the window repaints when it applies them.
  set_status(L"sans repeinture");
  EXPECT_EQ(take_repaint_requests(test_window), 0);
  std::vector<posted_message> posted = take_posted_messages(test_window);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(receive_text(posted[0]), L"sans repeinture");
}

// The painting reads the progress figures without a lock while a worker changes them. It may
// only ever see a mode together with figures that belong to it: counters are published before
// PROGRESS_VERIFY when the mode is entered, and PROGRESS_INDETERMINATE is published before the
// counters are cleared when it is left. A reader racing a writer would catch any other order.
namespace {
// Each round is one race between writer and observer. A fixed count, not a time budget, so
// that a slow machine runs the same test, only longer.
constexpr long RACE_ROUNDS = 50000;

// Two-thread barrier; spinning briefly, then yielding, so that it works on a busy machine.
class round_barrier {
 public:
  void arrive_and_wait() {
    long generation = generation_.load();
    if (waiting_.fetch_add(1) == 1) {
      waiting_.store(0);
      generation_.fetch_add(1);
      return;
    }
    for (int spins = 0; generation_.load() == generation; ++spins) {
      if (spins > 200) std::this_thread::yield();
    }
  }

 private:
  std::atomic<int> waiting_{0};
  std::atomic<long> generation_{0};
};

struct race_result {
  long rounds = 0;
  long torn = 0;  // rounds in which the observer saw a mode with figures that do not belong to it
};

// One race per round: the writer puts the figures into a known state (prepare), waits for the
// observer, then changes them (change); the observer waits for the change to show
// (changed) and checks that what it then reads belongs with it (consistent).
template <typename Prepare, typename Change, typename Changed, typename Consistent>
race_result race(Prepare prepare, Change change, Changed changed, Consistent consistent) {
  round_barrier barrier;
  std::atomic<bool> stop{false};
  race_result result;
  std::thread writer([&] {
    for (;;) {
      barrier.arrive_and_wait();  // the observer is done with the last round
      if (stop.load()) return;
      prepare();
      barrier.arrive_and_wait();  // the observer is watching
      change();
    }
  });
  for (;;) {
    bool last = result.rounds == RACE_ROUNDS;
    if (last) stop.store(true);
    barrier.arrive_and_wait();
    if (last) break;
    barrier.arrive_and_wait();
    for (int spins = 0; !changed(); ++spins) {
      if (spins > 2000) std::this_thread::yield();
    }
    if (!consistent()) ++result.torn;
    ++result.rounds;
  }
  writer.join();
  return result;
}

// From indeterminate, set_verify_progress(1, 1): once PROGRESS_VERIFY shows, any counter
// still at 0 was published after the mode.
race_result race_entering_verify() {
  return race([] { set_indeterminate_progress(); }, [] { set_verify_progress(1, 1); },
              [] { return g_progress_mode.load() == PROGRESS_VERIFY; },
              [] {
                int32_t total = g_verify_progress_total.load();
                int32_t done = g_verify_progress_done.load();
                return total == 1 && done == 1;
              });
}

// From set_verify_progress(5, 5), set_indeterminate_progress(): the mode is left first, so
// once the done count shows 0 the mode must already be reset.
race_result race_leaving_verify() {
  return race([] { set_verify_progress(5, 5); }, [] { set_indeterminate_progress(); },
              [] { return g_verify_progress_done.load() == 0; },
              [] { return g_progress_mode.load() == PROGRESS_INDETERMINATE; });
}

// From indeterminate with other figures, set_download_progress: once PROGRESS_DOWNLOAD shows,
// the file and the total must be the new ones.
race_result race_entering_download() {
  return race(
      [] {
        set_indeterminate_progress();
        g_progress_total = 1;
        g_progress_file[0] = L'\0';
      },
      [] { set_download_progress(L"package.zip", 4096); }, [] { return g_progress_mode.load() == PROGRESS_DOWNLOAD; },
      [] { return g_progress_total == 4096 && g_progress_file[0] == L'p'; });
}
}  // namespace

TEST(ProgressOrder, DownloadModeIsPublishedAfterItsFileAndTotal) {
  g_window = nullptr;
  race_result result = race_entering_download();
  set_indeterminate_progress();
  EXPECT_EQ(result.torn, 0) << "of " << result.rounds << " rounds";
}

TEST(ProgressOrder, VerifyModeIsPublishedAfterItsCounters) {
  g_window = nullptr;
  race_result result = race_entering_verify();
  set_indeterminate_progress();
  EXPECT_EQ(result.torn, 0) << "of " << result.rounds << " rounds";
}

TEST(ProgressOrder, CountersAreClearedAfterTheModeIsLeft) {
  g_window = nullptr;
  race_result result = race_leaving_verify();
  set_indeterminate_progress();
  EXPECT_EQ(result.torn, 0) << "of " << result.rounds << " rounds";
}
