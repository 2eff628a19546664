#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "accounts/launch.h"
#include "core/system_path_posix.h"

extern char** environ;

namespace {
// The game is a Windows program: a file that starts with "MZ" is run by wine.
bool is_windows_program(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[2] = {};
  ssize_t got = read(fd, magic, sizeof magic);
  close(fd);
  return got == 2 && magic[0] == 'M' && magic[1] == 'Z';
}

void report_and_exit(int pipe_fd, int code) {
  ssize_t ignored = write(pipe_fd, &code, sizeof code);
  (void)ignored;
  _exit(127);
}
}  // namespace

int game_file_exists(const wchar_t* path) {
  utf8_path native(path);
  struct stat info;
  return native.ok() && lstat(native.text, &info) == 0;
}

// The game runs in a session of its own as a grandchild, so that it is never the launcher's
// child to wait for; a pipe closed by exec carries back the error of a start that failed.
int start_game_process(const wchar_t* path, const wchar_t* folder, uint32_t* error) {
  utf8_path program(path);
  utf8_path directory(folder);
  if (!program.ok() || !directory.ok()) {
    *error = EINVAL;
    return 0;
  }
  char* wine = nullptr;
  if (is_windows_program(program.text)) {
    wine = find_program("wine");
    if (wine == nullptr) {
      *error = ENOENT;
      return 0;
    }
  }
  char* argv[3] = {program.text, nullptr, nullptr};
  if (wine != nullptr) argv[0] = wine, argv[1] = program.text;

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = static_cast<uint32_t>(errno);
    free(wine);
    return 0;
  }
  pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    setsid();
    pid_t game = fork();
    if (game < 0) report_and_exit(report[1], errno);
    if (game > 0) _exit(0);
    if (chdir(directory.text) != 0) report_and_exit(report[1], errno);
    execve(argv[0], argv, environ);
    report_and_exit(report[1], errno);
  }
  int failure = child < 0 ? errno : 0;
  close(report[1]);
  if (child > 0) {
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int code = 0;
    ssize_t got;
    do {
      got = read(report[0], &code, sizeof code);
    } while (got < 0 && errno == EINTR);
    if (got == sizeof code) failure = code;
  }
  close(report[0]);
  free(wine);
  if (failure != 0) {
    *error = static_cast<uint32_t>(failure);
    return 0;
  }
  return 1;
}
