#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "accounts/platform.h"
#include "core/os_posix.h"
#include "core/system_path_posix.h"

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

}  // namespace

int game_file_exists(const wchar_t* path) {
  utf8_path native(path);
  struct stat info;
  return native.ok() && lstat(native.text, &info) == 0;
}

// The game runs in a session of its own and is never waited for: its end is collected on a
// thread of its own, so no finished game lingers as a zombie of the launcher.
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
  os_child game;
  int failure = 0;
  int started = os_start_detached(argv[0], argv, directory.text, &game, &failure);
  free(wine);
  if (!started) {
    *error = static_cast<uint32_t>(failure);
    return 0;
  }
  os_release_child(game.pid);
  return 1;
}
