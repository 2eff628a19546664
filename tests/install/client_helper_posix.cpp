// A program for the activation tests, copied into client folders and started from there.
//   client_helper wait READY   stays in its own folder (current directory) until ended
// It writes READY once it is in place, and ends by itself after 60 seconds at the latest.
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3 || strcmp(argv[1], "wait") != 0) return 2;
  char own[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", own, sizeof own - 1);
  if (length <= 0) return 3;
  own[length] = '\0';
  *strrchr(own, '/') = '\0';
  if (chdir(own) != 0) return 3;
  int ready = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (ready < 0) return 3;
  close(ready);
  sleep(60);
  return 0;
}
