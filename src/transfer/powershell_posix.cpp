// The Linux port runs the same two jobs in a hidden child process started without a shell,
// with the launcher's environment and the root folder as working folder: the download with the
// curl program, the extraction with bsdtar (libarchive-tools). The launcher does the scripts'
// preparatory steps itself (deleting the old destination, emptying the staging folder) and
// refuses archive entries that would land outside the staging folder.
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/journal.h"
#include "core/paths.h"
#include "core/system_path_posix.h"
#include "transfer/download.h"
#include "transfer/powershell.h"

extern char** environ;

namespace {
constexpr unsigned long JOB_FAILED = 1;
constexpr unsigned long UNREADABLE_EXIT_CODE = 31;
constexpr unsigned long HTTP_STATUS_REFUSED = 22;  // curl's own code for an HTTP error
constexpr size_t NAME_LINE_BYTES = 8192;

// Where the child's standard output goes: nowhere, or into a pipe the caller reads.
struct child {
  pid_t pid = -1;
  int output = -1;
};

// Starts argv[0] from PATH; 0 or the error number.
int start_child(char* const argv[], bool capture_output, child* started) {
  int pipe_fds[2] = {-1, -1};
  if (capture_output && pipe2(pipe_fds, O_CLOEXEC) != 0) return errno;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (capture_output) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  utf8_path root(g_root);
  if (root.ok()) posix_spawn_file_actions_addchdir_np(&actions, root.text);
  int error = posix_spawnp(&started->pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (capture_output) {
    close(pipe_fds[1]);
    if (error == 0) {
      started->output = pipe_fds[0];
    } else {
      close(pipe_fds[0]);
    }
  }
  return error;
}

// Waits for the child; its exit code, or 128 + the signal that ended it.
unsigned long wait_child(const child& started) {
  int status = 0;
  pid_t done;
  do {
    done = waitpid(started.pid, &status, 0);
  } while (done < 0 && errno == EINTR);
  if (done < 0) {
    log_windows_error(L"Attente du processus auxiliaire impossible", static_cast<uint32_t>(errno));
    log_windows_error(L"Lecture du resultat du processus auxiliaire impossible", static_cast<uint32_t>(errno));
    return UNREADABLE_EXIT_CODE;
  }
  if (WIFEXITED(status)) return static_cast<unsigned long>(WEXITSTATUS(status));
  return 128 + static_cast<unsigned long>(WTERMSIG(status));
}

// Runs the child to its end; false (journalled) when it could not be started.
bool run_child(char* const argv[], unsigned long* exit_code) {
  child started;
  int error = start_child(argv, false, &started);
  if (error != 0) {
    log_windows_error(L"Impossible de demarrer le processus auxiliaire", static_cast<uint32_t>(error));
    return false;
  }
  *exit_code = wait_child(started);
  return true;
}

const char* job_variable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

int remove_entry(const char* path, const struct stat*, int type, struct FTW*) {
  return type == FTW_DP ? rmdir(path) : unlink(path);
}

// Removes what is at path, a folder with everything in it; links are removed, never followed.
bool remove_tree(const char* path) {
  struct stat info;
  if (lstat(path, &info) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return unlink(path) == 0;
  return nftw(path, remove_entry, 32, FTW_DEPTH | FTW_PHYS) == 0;
}

thread_local unsigned g_links_found;

int remove_link(const char* path, const struct stat* info, int type, struct FTW*) {
  if (type == FTW_SL || type == FTW_SLN || (type == FTW_F && !S_ISREG(info->st_mode))) {
    ++g_links_found;
    unlink(path);
  }
  return 0;
}

// bsdtar keeps entries inside the folder and never writes through a link, but it creates link
// entries as they are; a link pointing anywhere is removed and fails the extraction.
bool staging_holds_only_files(const char* staging) {
  g_links_found = 0;
  return nftw(staging, remove_link, 32, FTW_PHYS) == 0 && g_links_found == 0;
}

// 1 when the name, as bsdtar lists it, stays below the folder it is extracted into.
bool name_stays_inside(const char* name, size_t length) {
  if (length == 0 || name[0] == '/') return false;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i == length || name[i] == '/') {
      if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return false;
      start = i + 1;
    }
  }
  return true;
}

// Lists the archive's entry names with bsdtar and checks each: absolute names and names with
// a ".." element are refused (bsdtar would strip or skip them and still succeed). False
// (journalled) when bsdtar could not be started; otherwise *code is the check's exit code.
bool check_entry_names(const char* package, unsigned long* code) {
  char* argv[] = {const_cast<char*>("bsdtar"), const_cast<char*>("-t"), const_cast<char*>("-f"),
                  const_cast<char*>(package), nullptr};
  child started;
  int error = start_child(argv, true, &started);
  if (error != 0) {
    log_windows_error(L"Impossible de demarrer le processus auxiliaire", static_cast<uint32_t>(error));
    return false;
  }
  char* line = static_cast<char*>(malloc(NAME_LINE_BYTES));
  size_t length = 0;
  bool refused = line == nullptr;
  char chunk[4096];
  for (;;) {
    ssize_t got = read(started.output, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t i = 0; i < got && line != nullptr; ++i) {
      if (chunk[i] == '\n') {
        if (!name_stays_inside(line, length)) refused = true;
        length = 0;
      } else if (length < NAME_LINE_BYTES) {
        line[length++] = chunk[i];
      } else {
        refused = true;  // no sound client file has a name this long
      }
    }
  }
  if (length > 0 && line != nullptr && !name_stays_inside(line, length)) refused = true;
  free(line);
  close(started.output);
  *code = wait_child(started);
  if (*code == 0 && refused) *code = JOB_FAILED;
  return true;
}

int run_download() {
  const char* url = job_variable("VORNA380_DOWNLOAD_URL");
  const char* destination = job_variable("VORNA380_DOWNLOAD_DEST");
  if (url == nullptr || destination == nullptr) return finish_child(JOB_FAILED);
  if (unlink(destination) != 0 && errno != ENOENT) return finish_child(JOB_FAILED);
  utf8_path user_agent(k_user_agent);
  char* argv[] = {const_cast<char*>("curl"),         const_cast<char*>("-q"),
                  const_cast<char*>("--silent"),     const_cast<char*>("--fail"),
                  const_cast<char*>("--globoff"),    const_cast<char*>("--location"),
                  const_cast<char*>("--max-redirs"), const_cast<char*>("5"),
                  const_cast<char*>("--proto"),      const_cast<char*>("=https"),
                  const_cast<char*>("--proto-redir"), const_cast<char*>("=https"),
                  const_cast<char*>("--tlsv1.2"),    const_cast<char*>("--user-agent"),
                  user_agent.text,                   const_cast<char*>("--write-out"),
                  const_cast<char*>("%{http_code}"), const_cast<char*>("--output"),
                  const_cast<char*>(destination),    const_cast<char*>("--url"),
                  const_cast<char*>(url),            nullptr};
  child started;
  int error = start_child(argv, true, &started);
  if (error != 0) {
    log_windows_error(L"Impossible de demarrer le processus auxiliaire", static_cast<uint32_t>(error));
    return 0;
  }
  // The final status, as curl writes it out: anything but 2xx fails (3xx are followed).
  char status[16] = {};
  size_t length = 0;
  for (;;) {
    ssize_t got = read(started.output, status + length, sizeof status - 1 - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<size_t>(got);
    if (length == sizeof status - 1) break;
  }
  close(started.output);
  unsigned long code = wait_child(started);
  if (code == 0 && !(length == 3 && status[0] == '2')) code = HTTP_STATUS_REFUSED;
  return finish_child(code);
}

bool make_folder_chain(const char* path) {
  char* text = strdup(path);
  if (text == nullptr) return false;
  for (char* at = text + 1; *at != '\0'; ++at) {
    if (*at != '/') continue;
    *at = '\0';
    mkdir(text, 0755);
    *at = '/';
  }
  mkdir(text, 0755);
  free(text);
  struct stat info;
  return lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

int run_extract() {
  const char* package = job_variable("VORNA380_PACKAGE_PATH");
  const char* staging = job_variable("VORNA380_STAGING_PATH");
  if (package == nullptr || staging == nullptr) return finish_child(JOB_FAILED);
  if (!remove_tree(staging) || !make_folder_chain(staging)) return finish_child(JOB_FAILED);
  unsigned long code = 0;
  if (!check_entry_names(package, &code)) return 0;
  if (code != 0) return finish_child(code);
  char* argv[] = {const_cast<char*>("bsdtar"),          const_cast<char*>("-x"),
                  const_cast<char*>("-f"),              const_cast<char*>(package),
                  const_cast<char*>("-C"),              const_cast<char*>(staging),
                  const_cast<char*>("--no-same-owner"), const_cast<char*>("--no-same-permissions"),
                  const_cast<char*>("--no-xattrs"),     const_cast<char*>("--no-acls"),
                  const_cast<char*>("--no-fflags"),     nullptr};
  if (!run_child(argv, &code)) return 0;
  // Links go whatever bsdtar answered: it may have made one before it refused an entry.
  bool only_files = staging_holds_only_files(staging);
  if (code == 0 && !only_files) code = JOB_FAILED;
  return finish_child(code);
}
}  // namespace

int set_environment_variable(const wchar_t* name, const wchar_t* value) {
  utf8_path native_name(name);
  utf8_path native_value(value);
  if (!native_name.ok() || native_value.text == nullptr) return 0;
  return setenv(native_name.text, native_value.text, 1) == 0;
}

int powershell(const wchar_t* script) {
  if (wcscmp(script, k_download_script) == 0) return run_download();
  if (wcscmp(script, k_extract_script) == 0) return run_extract();
  // Only the two jobs exist here; any other script cannot be run.
  log_windows_error(L"Impossible de demarrer le processus auxiliaire", EINVAL);
  return 0;
}
