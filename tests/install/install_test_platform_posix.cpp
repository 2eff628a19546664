#include <dirent.h>
#include <linux/sched.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "install_test_platform.h"
#include "support/test_support.h"

const int k_activation_ending = 1000 + SIGKILL;
const int k_crash_ending = 1000 + SIGKILL;

bool copy_helper(const std::wstring& destination) {
  std::string program = read_bytes(CLIENT_HELPER_PATH);
  return !program.empty() && write_bytes(destination, program) && chmod(to_utf8(destination).c_str(), 0755) == 0;
}

intptr_t start_waiting_helper(const std::wstring& helper, const std::wstring& ready_file) {
  intptr_t program = start_program({helper, L"wait", ready_file});
  for (int i = 0; program != 0 && i < 2000 && !file_exists(ready_file); ++i) usleep(10000);
  if (program != 0 && !file_exists(ready_file)) {
    wait_program(program, 0);
    return 0;
  }
  return program;
}

uint32_t program_id(intptr_t program) { return static_cast<uint32_t>(program); }

int program_ending(intptr_t* program, unsigned wait_ms) {
  pid_t pid = static_cast<pid_t>(*program);
  int status = 0;
  for (unsigned waited = 0;; waited += 5) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 || waited >= wait_ms) return k_still_running;
    usleep(5000);
  }
  *program = 0;
  return WIFSIGNALED(status) ? 1000 + WTERMSIG(status) : WEXITSTATUS(status);
}

int end_program_now(intptr_t* program) {
  kill(static_cast<pid_t>(*program), SIGTERM);
  return program_ending(program, 10000);
}

program_guard::~program_guard() {
  if (program != 0) wait_program(program, 0);
}

namespace {
// Mounts made from here on stay inside this test process's own namespace.
bool private_mounts() {
  static int ready = -1;
  if (ready < 0) ready = unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return ready == 1;
}
}  // namespace

busy_folder::busy_folder(const std::wstring& folder) : path(folder) {
  std::string native = to_utf8(folder);
  held = private_mounts() && mount(native.c_str(), native.c_str(), nullptr, MS_BIND, nullptr) == 0;
}
busy_folder::~busy_folder() { release(); }
void busy_folder::release() {
  if (held) umount2(to_utf8(path).c_str(), MNT_DETACH);
  held = false;
}

bool set_read_only(const std::wstring& path) { return chmod(to_utf8(path).c_str(), 0444) == 0; }

std::vector<std::wstring> folder_names(const std::wstring& folder) {
  std::vector<std::wstring> names;
  if (DIR* dir = opendir(to_utf8(folder).c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
        names.push_back(from_utf8(entry->d_name));
    }
    closedir(dir);
  }
  return names;
}

intptr_t start_program_with_id(const std::vector<std::wstring>& args, uint32_t id) {
  std::vector<std::string> native;
  for (const auto& a : args) native.push_back(to_utf8(a));
  std::vector<char*> argv;
  for (auto& a : native) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t wanted = static_cast<pid_t>(id);
  struct clone_args request;
  memset(&request, 0, sizeof request);
  request.exit_signal = SIGCHLD;
  request.set_tid = reinterpret_cast<uintptr_t>(&wanted);
  request.set_tid_size = 1;
  long pid = syscall(SYS_clone3, &request, sizeof request);
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid > 0 ? static_cast<intptr_t>(pid) : 0;
}
