#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "support/test_support.h"

extern char** environ;

std::wstring make_temp_dir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/vorna380-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return from_utf8(pattern);
}

static void remove_native(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    chmod(path.c_str(), 0700);
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        remove_native(path + "/" + entry->d_name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void remove_tree(const std::wstring& path) {
  if (!path.empty()) remove_native(to_utf8(path));
}

static bool put(const std::wstring& path, const std::string& bytes, int flags) {
  int fd = open(to_utf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return done == bytes.size();
}

bool write_bytes(const std::wstring& path, const std::string& bytes) { return put(path, bytes, O_TRUNC); }

bool copy_write_time(const std::wstring& from, const std::wstring& to) {
  struct stat info;
  if (stat(to_utf8(from).c_str(), &info) != 0) return false;
  struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
  return utimensat(AT_FDCWD, to_utf8(to).c_str(), times, 0) == 0;
}
bool append_bytes(const std::wstring& path, const std::string& bytes) { return put(path, bytes, O_APPEND); }

bool make_dirs(const std::wstring& path) {
  std::string native = to_utf8(path);
  for (size_t i = 1; i <= native.size(); ++i) {
    if (i == native.size() || native[i] == '/') mkdir(native.substr(0, i).c_str(), 0755);
  }
  struct stat info;
  return stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string read_bytes(const std::wstring& path) {
  std::string out;
  int fd = open(to_utf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(fd);
  return out;
}

bool file_exists(const std::wstring& path) {
  struct stat info;
  return lstat(to_utf8(path).c_str(), &info) == 0;
}

intptr_t start_program(const std::vector<std::wstring>& args) {
  std::vector<std::string> native;
  for (const auto& a : args) native.push_back(to_utf8(a));
  std::vector<char*> argv;
  for (auto& a : native) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return static_cast<intptr_t>(pid);
}

int wait_program(intptr_t program, unsigned timeout_ms) {
  pid_t pid = static_cast<pid_t>(program);
  if (pid <= 0) return -1;
  int status = 0;
  for (unsigned waited = 0;; waited += 10) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 || waited >= timeout_ms) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool make_link(const std::wstring& target, const std::wstring& link) {
  return symlink(to_utf8(target).c_str(), to_utf8(link).c_str()) == 0;
}

bool make_fifo(const std::wstring& path) { return mkfifo(to_utf8(path).c_str(), 0644) == 0; }

bool make_socket(const std::wstring& path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::string native = to_utf8(path);
  if (native.size() >= sizeof address.sun_path) return false;
  memcpy(address.sun_path, native.c_str(), native.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  // The socket's file stays after the descriptor is closed.
  bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

// Linux has no sharing modes; without write permission for anyone the file cannot be
// opened, except by root, for whom the lock is reported as not held.
exclusive_lock::exclusive_lock(const std::wstring& path) : handle(0) {
  if (geteuid() != 0 && chmod(to_utf8(path).c_str(), 0) == 0) {
    handle = reinterpret_cast<intptr_t>(new std::string(to_utf8(path)));
  }
}
exclusive_lock::~exclusive_lock() {
  if (handle != 0) {
    auto* path = reinterpret_cast<std::string*>(handle);
    chmod(path->c_str(), 0644);
    delete path;
  }
}
bool exclusive_lock::held() const { return handle != 0; }

void set_variable(const std::wstring& name, const std::wstring& value) {
  if (value.empty()) {
    unsetenv(to_utf8(name).c_str());
  } else {
    setenv(to_utf8(name).c_str(), to_utf8(value).c_str(), 1);
  }
}

std::wstring get_variable(const std::wstring& name) {
  const char* value = getenv(to_utf8(name).c_str());
  return value != nullptr ? from_utf8(value) : std::wstring();
}

bool running_under_wine() { return false; }

const wchar_t* system_error_label() { return L"erreur systeme"; }
