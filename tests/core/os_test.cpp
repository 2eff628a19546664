#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/os.h"
#include "support/test_support.h"

TEST(OsReplaceFile, ReplacesWholeOrLeavesTheOldFileAndNoTemporary) {
  temp_dir dir;
  std::wstring target = dir / L"mark.txt";
  std::wstring temporary = dir / L"mark.txt.tmp";
  ASSERT_TRUE(write_bytes(target, "old"));
  os_failure failure = {};
  ASSERT_TRUE(os_replace_file(target.c_str(), "new", 3, &failure));
  EXPECT_EQ(read_bytes(target), "new");
  EXPECT_FALSE(file_exists(temporary));

  // A folder in the way: the move fails and nothing else changes.
  std::wstring folder = dir / L"folder";
  ASSERT_TRUE(make_dirs(join(folder, L"inside")));
  EXPECT_FALSE(os_replace_file(folder.c_str(), "x", 1, &failure));
  EXPECT_EQ(failure.stage, OS_REPLACE_MOVE);
  EXPECT_NE(failure.error, 0u);
  EXPECT_TRUE(file_exists(join(folder, L"inside")));
  EXPECT_FALSE(file_exists(temporary));

  EXPECT_FALSE(file_exists(folder + L".tmp"));

  // No folder for the temporary: nothing was made.
  std::wstring nowhere = dir / L"missing/mark.txt";
  EXPECT_FALSE(os_replace_file(nowhere.c_str(), "x", 1, &failure));
  EXPECT_EQ(failure.stage, OS_REPLACE_CREATE);
  EXPECT_EQ(read_bytes(target), "new");
}

TEST(OsMoveOver, ReplacesTheDestinationAndKeepsTheSourceOnFailure) {
  temp_dir dir;
  ASSERT_TRUE(write_bytes(dir / L"new", "fresh"));
  ASSERT_TRUE(write_bytes(dir / L"old", "stale"));
  EXPECT_TRUE(os_move_over((dir / L"new").c_str(), (dir / L"old").c_str()));
  EXPECT_EQ(read_bytes(dir / L"old"), "fresh");
  EXPECT_FALSE(file_exists(dir / L"new"));
  ASSERT_TRUE(write_bytes(dir / L"again", "kept"));
  EXPECT_FALSE(os_move_over((dir / L"again").c_str(), (dir / L"missing/old").c_str()));
  EXPECT_EQ(read_bytes(dir / L"again"), "kept");
}

TEST(OsCopyOver, ReplacesTheDestinationWithAFullCopy) {
  temp_dir dir;
  std::string big(300000, 'a');
  big[299999] = 'z';
  ASSERT_TRUE(write_bytes(dir / L"program", big));
  ASSERT_TRUE(write_bytes(dir / L"installed", "older and longer than nothing"));
  EXPECT_TRUE(os_copy_over((dir / L"program").c_str(), (dir / L"installed").c_str()));
  EXPECT_EQ(read_bytes(dir / L"installed"), big);
  EXPECT_EQ(read_bytes(dir / L"program"), big);
  EXPECT_FALSE(os_copy_over((dir / L"absent").c_str(), (dir / L"installed").c_str()));
  EXPECT_EQ(read_bytes(dir / L"installed"), big);
}

TEST(OsFileSize, CountsRegularFilesOnly) {
  temp_dir dir;
  ASSERT_TRUE(write_bytes(dir / L"five", "12345"));
  uint64_t size = 99;
  ASSERT_TRUE(os_file_size((dir / L"five").c_str(), &size));
  EXPECT_EQ(size, 5u);
  ASSERT_TRUE(make_dirs(dir / L"folder"));
  EXPECT_FALSE(os_file_size((dir / L"folder").c_str(), &size));
  EXPECT_FALSE(os_file_size((dir / L"absent").c_str(), &size));
  if (make_link(dir / L"folder", dir / L"link")) {
    EXPECT_FALSE(os_file_size((dir / L"link").c_str(), &size));
  }
}

namespace {
struct slow_work {
  std::atomic<int> stage{0};
};

void slow_run(void* context) {
  slow_work* work = static_cast<slow_work*>(context);
  work->stage.store(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  work->stage.store(2);
}
}  // namespace

// A thread that outlives its join's limit runs on to its end; the sanitized build catches any
// use of the released handle.
TEST(OsThread, AJoinReportsWhetherTheThreadEndedWithinItsLimit) {
  static slow_work late;
  os_thread* thread = os_thread_start(slow_run, &late);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(os_thread_join(thread, 20));
  for (int i = 0; i < 200 && late.stage.load() != 2; ++i) os_sleep_ms(10);
  EXPECT_EQ(late.stage.load(), 2);

  slow_work joined;
  thread = os_thread_start(slow_run, &joined);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(os_thread_join(thread, OS_WAIT_FOREVER));
  EXPECT_EQ(joined.stage.load(), 2);
}

TEST(OsFileWriter, WritesInOrderOverAnOldFileAndLinksShareTheBytes) {
  temp_dir dir;
  std::wstring path = dir / L"pieces.bin";
  ASSERT_TRUE(write_bytes(path, std::string(1000, 'o')));
  os_file* file = os_create_file(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(os_write_file(file, "first ", 6));
  EXPECT_TRUE(os_write_file(file, "second", 6));
  EXPECT_TRUE(os_close_file(file));
  EXPECT_EQ(read_bytes(path), "first second");
  EXPECT_EQ(os_create_file((dir / L"missing/pieces.bin").c_str()), nullptr);

  std::wstring link = dir / L"link.bin";
  EXPECT_TRUE(os_hard_link(path.c_str(), link.c_str()));
  EXPECT_EQ(read_bytes(link), "first second");
  EXPECT_FALSE(os_hard_link(path.c_str(), link.c_str()));  // never over an existing name
  EXPECT_FALSE(os_hard_link((dir / L"absent").c_str(), (dir / L"other").c_str()));
}
