// --apply-self-update as a process on Linux, in a profile of its own. The test holds the
// instance lock, so the installed copy that the mode starts finds another launcher open and
// ends at once (no display: its box goes to the standard error).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "support/test_support.h"

namespace {
class SelfUpdate : public ::testing::Test {
 protected:
  temp_dir profile;
  int lock = -1;

  void SetUp() override {
    ASSERT_TRUE(make_dirs(profile / L"data") && make_dirs(profile / L"run"));
    setenv("XDG_DATA_HOME", to_utf8(profile / L"data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", to_utf8(profile / L"run").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    lock = open(to_utf8(profile / L"run/Vorna380SecureLauncherV1.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
  }
  void TearDown() override {
    if (lock >= 0) close(lock);
  }

  std::wstring installed() { return profile / L"data/Vorna380/vorna380-launcher"; }

  // Exit code and seconds taken.
  std::pair<int, double> update(const std::wstring& id) {
    auto start = std::chrono::steady_clock::now();
    int code = run_program({launcher_path(), L"--apply-self-update", id}, 60000);
    return {code, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
  }

  void expect_installed_copy() {
    struct stat info;
    ASSERT_EQ(stat(to_utf8(installed()).c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR) << "the copy keeps its execute bit";
    EXPECT_TRUE(read_bytes(installed()) == read_bytes(launcher_path())) << "the copy is the running executable";
  }
};
}  // namespace

TEST_F(SelfUpdate, WithoutAProcessToWaitForItPausesThenInstallsAndStarts) {
  ASSERT_TRUE(make_dirs(profile / L"data/Vorna380"));
  for (const wchar_t* id : {L"0", L"abc", L"  +0x"}) {
    remove_tree(installed());  // the copy started last may still run from it
    ASSERT_TRUE(write_bytes(installed(), "old launcher"));
    auto [code, seconds] = update(id);
    EXPECT_EQ(code, 0) << id;
    EXPECT_GE(seconds, 1.5) << id;
    EXPECT_LT(seconds, 10) << id;
    expect_installed_copy();
  }
}

TEST_F(SelfUpdate, WaitsForTheNamedProcessToEnd) {
  intptr_t sleeper = start_program({L"/bin/sleep", L"0.3"});
  ASSERT_NE(sleeper, 0);
  auto [code, seconds] = update(std::to_wstring(sleeper));
  wait_program(sleeper, 5000);
  EXPECT_EQ(code, 0);
  EXPECT_GE(seconds, 0.25);
  EXPECT_LT(seconds, 1.4) << "waited for the process, not the fixed pause";
  expect_installed_copy();
}

TEST_F(SelfUpdate, AProcessThatOutlivesTheWaitDelaysTheCopyBy30Seconds) {
  intptr_t sleeper = start_program({L"/bin/sleep", L"60"});
  ASSERT_NE(sleeper, 0);
  auto [code, seconds] = update(std::to_wstring(sleeper));
  kill(static_cast<pid_t>(sleeper), SIGTERM);
  wait_program(sleeper, 5000);
  EXPECT_EQ(code, 0);
  EXPECT_GE(seconds, 30);
  EXPECT_LT(seconds, 40);
  expect_installed_copy();
}

TEST_F(SelfUpdate, ReportsAMissingDataFolderAndAFailedCopyByExitCode) {
  unsetenv("XDG_DATA_HOME");
  unsetenv("HOME");
  EXPECT_EQ(update(L"0").first, 2) << "no data folder";

  setenv("XDG_DATA_HOME", to_utf8(profile / L"data").c_str(), 1);
  ASSERT_TRUE(write_bytes(profile / L"data/Vorna380", "a file where the root should be"));
  EXPECT_EQ(update(L"0").first, 3);
  EXPECT_EQ(read_bytes(profile / L"data/Vorna380"), "a file where the root should be");
}

// With no other launcher and no display, the copy the mode starts fails its start (exit 1):
// the launcher it replaced goes back in place and is started, and the failed launcher's digest
// is refused for later updates.
TEST_F(SelfUpdate, ALauncherThatFailsItsStartIsRolledBackAndRefused) {
  close(lock);
  lock = -1;
  ASSERT_TRUE(make_dirs(profile / L"data/Vorna380"));
  const std::string previous = "#!/bin/sh\nexit 0\n";
  ASSERT_TRUE(write_bytes(installed(), previous));
  ASSERT_EQ(chmod(to_utf8(installed()).c_str(), 0755), 0);
  EXPECT_EQ(update(L"0").first, 5);
  EXPECT_EQ(read_bytes(installed()), previous);
  EXPECT_EQ(read_bytes(profile / L"data/Vorna380/vorna380-launcher.previous"), previous);
  EXPECT_EQ(read_bytes(profile / L"data/Vorna380/launcher-update.txt"),
            sha256_hex(read_bytes(launcher_path())) + " 2\n");
  std::string journal = read_bytes(profile / L"data/Vorna380/launcher.log");
  EXPECT_NE(journal.find("La nouvelle version du launcher n'a pas pris le relais: retour a la version precedente."),
            std::string::npos)
      << journal;
}

// The mode killed at each of its steps (a copy of the launcher built with crash points, as the
// update file): the installed launcher is always a whole launcher, the old one or the new one,
// and the mode run again puts the new one in place.
TEST_F(SelfUpdate, KilledAtEachStepItLeavesAWholeLauncherAndFinishesWhenRunAgain) {
  std::wstring root = profile / L"data/Vorna380";
  std::wstring update = root + L"/vorna380-launcher.update";
  std::string old_launcher = read_bytes(launcher_path());
  std::string new_launcher = read_bytes(CRASH_LAUNCHER_PATH);
  ASSERT_NE(old_launcher, new_launcher);
  for (const char* point : {"previous-launcher-kept", "copy-written:vorna380-launcher.previous",
                            "copy-written:vorna380-launcher", "launcher-moved-over", "launcher-started"}) {
    SCOPED_TRACE(point);
    remove_tree(root);
    ASSERT_TRUE(make_dirs(root));
    ASSERT_TRUE(write_bytes(installed(), old_launcher) && write_bytes(update, new_launcher));
    ASSERT_EQ(chmod(to_utf8(installed()).c_str(), 0755) | chmod(to_utf8(update).c_str(), 0755), 0);
    set_variable(L"VORNA380_CRASH_AT", from_utf8(point));
    int killed = run_program({update, L"--apply-self-update", L"0"}, 60000);
    set_variable(L"VORNA380_CRASH_AT", L"");
    EXPECT_NE(killed, 0) << "the point was not reached";
    std::string now = read_bytes(installed());
    EXPECT_TRUE(now == old_launcher || now == new_launcher) << "the installed launcher is torn";
    EXPECT_EQ(run_program({update, L"--apply-self-update", L"0"}, 60000), 0);
    EXPECT_EQ(read_bytes(installed()), new_launcher);
  }
}
