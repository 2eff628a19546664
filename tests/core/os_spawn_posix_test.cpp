#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "core/os_posix.h"
#include "support/test_support.h"

namespace {
std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}
}  // namespace

// The child sees exactly the given environment and folder, and none of the launcher's files.
TEST(OsSpawn, TheChildGetsItsEnvironmentFolderAndStreamsOnly) {
  temp_dir dir;
  std::string folder = to_utf8(dir.path);
  int leaked = open("/dev/null", O_RDONLY);  // without O_CLOEXEC, as a careless library would
  ASSERT_GE(leaked, 0);
  char script[] = "pwd; echo \"[$ONLY]\" \"[$HOME]\"; ls /proc/self/fd; echo oops >&2";
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), script, nullptr};
  char* environment[] = {const_cast<char*>("ONLY=this"), nullptr};
  os_child_plan plan;
  plan.program = "/bin/sh";
  plan.argv = argv;
  plan.environment = environment;
  plan.folder = folder.c_str();
  plan.capture_output = true;
  os_child child;
  int error = 0;
  ASSERT_TRUE(os_spawn(&plan, &child, &error)) << error;
  EXPECT_EQ(child.errors, -1);
  std::string output = read_all(child.output);
  close(child.output);
  int status = 0;
  ASSERT_TRUE(os_wait_child(child.pid, &status, &error));
  close(leaked);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // ls lists 0, 1, 2 and the folder it reads itself (3).
  EXPECT_EQ(output, folder + "\n[this] []\n0\n1\n2\n3\n");
}

TEST(OsSpawn, AProgramThatCannotStartGivesItsErrorAndLeavesNothingOpen) {
  int before = open("/dev/null", O_RDONLY);
  close(before);
  char* argv[] = {const_cast<char*>("absent"), nullptr};
  os_child_plan plan;
  plan.program = "/nonexistent/absent";
  plan.argv = argv;
  plan.capture_output = true;
  plan.capture_errors = true;
  os_child child;
  int error = 0;
  EXPECT_FALSE(os_spawn(&plan, &child, &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(child.pid, -1);
  EXPECT_EQ(child.output, -1);
  int after = open("/dev/null", O_RDONLY);
  close(after);
  EXPECT_EQ(after, before) << "the pipes were closed";
}
