// The painting reads the progress figures without a lock while a worker changes them. It may
// only ever see a mode together with figures that belong to it: counters are published before
// PROGRESS_VERIFY when the mode is entered, and PROGRESS_INDETERMINATE is published before the
// counters are cleared when it is left. A reader racing a writer would catch any other order.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/paths.h"
#include "core/status.h"

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
