// The Linux package download: the curl program in a hidden child process started without a
// shell (found in the absolute folders of PATH), with the launcher's environment plus the job's
// variables and the root folder as working folder. The launcher deletes the old destination
// first as the script does, writes the body itself (so that it can stop at the cap and hash it
// on the way), follows redirects only within the release hosts, and ends curl below the
// minimum rate.
#include <errno.h>
#include <openssl/evp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/journal.h"
#include "core/os_posix.h"
#include "core/paths.h"
#include "core/system_path_posix.h"
#include "release_profile.h"
#include "transfer/download.h"
#include "transfer/jobs_posix.h"
#include "transfer/powershell.h"
#include "transfer/release_hosts.h"

extern char** environ;

namespace {
constexpr unsigned long JOB_FAILED = 1;
constexpr unsigned long UNREADABLE_EXIT_CODE = 31;
constexpr unsigned long HTTP_STATUS_REFUSED = 22;  // curl's own code for an HTTP error
constexpr size_t BODY_CHUNK_BYTES = 262144;
constexpr size_t WRITE_OUT_BYTES = 8192;
constexpr int BODY_PIPE_BYTES = 1048576;
// Starts the program (an absolute path) with that environment in g_root, its output and
// errors captured or sent nowhere: 1, or 0 with the error number.
int start_child(const char* program, char* const argv[], char* const environment[], bool capture_output,
                bool capture_errors, os_child* started, int* error) {
  utf8_path root(g_root);
  os_child_plan plan;
  plan.program = program;
  plan.argv = argv;
  plan.environment = environment;
  plan.folder = root.ok() ? root.text : nullptr;
  plan.capture_output = capture_output;
  plan.capture_errors = capture_errors;
  return os_spawn(&plan, started, error);
}

void journal_start_failure(int error) {
  log_windows_error(L"Impossible de demarrer le processus auxiliaire", static_cast<uint32_t>(error));
}

// "NAME=" at the start of the entry, for one of the table's names (plain ASCII).
bool is_job_variable(const char* entry) {
  for (const wchar_t* name : k_job_variable_names) {
    size_t i = 0;
    while (name[i] != L'\0' && entry[i] == static_cast<char>(name[i])) ++i;
    if (name[i] == L'\0' && entry[i] == '=') return true;
  }
  return false;
}

void free_environment(char** environment) {
  if (environment == nullptr) return;
  for (char** entry = environment; *entry != nullptr; ++entry) free(*entry);
  free(environment);
}

// The child's environment, a copy owned by the caller: the launcher's own without any of the
// table's variables, then the job's two. Null when memory runs out.
char** make_environment(const job_parameters* job) {
  size_t inherited = 0;
  while (environ[inherited] != nullptr) ++inherited;
  char** environment = static_cast<char**>(calloc(inherited + JOB_VARIABLES + 1, sizeof(char*)));
  if (environment == nullptr) return nullptr;
  size_t used = 0;
  bool ok = true;
  for (size_t i = 0; ok && i < inherited; ++i) {
    if (is_job_variable(environ[i])) continue;
    environment[used] = strdup(environ[i]);
    ok = environment[used++] != nullptr;
  }
  job_variable variables[JOB_VARIABLES];
  job_variables(job, variables);
  for (const job_variable& variable : variables) {
    if (!ok) break;
    utf8_path name(variable.name);
    utf8_path value(variable.value);
    ok = name.ok() && value.text != nullptr;
    if (!ok) break;
    size_t name_bytes = strlen(name.text);
    size_t value_bytes = strlen(value.text);
    char* entry = static_cast<char*>(malloc(name_bytes + 1 + value_bytes + 1));
    ok = entry != nullptr;
    if (!ok) break;
    memcpy(entry, name.text, name_bytes);
    entry[name_bytes] = '=';
    memcpy(entry + name_bytes + 1, value.text, value_bytes + 1);
    environment[used++] = entry;
  }
  if (!ok) {
    free_environment(environment);
    return nullptr;
  }
  return environment;
}

// Waits for the child; its exit code, or 128 + the signal that ended it.
unsigned long wait_child(const os_child& started) {
  int status = 0;
  int error = 0;
  if (!os_wait_child(started.pid, &status, &error)) {
    log_windows_error(L"Attente du processus auxiliaire impossible", static_cast<uint32_t>(error));
    log_windows_error(L"Lecture du resultat du processus auxiliaire impossible", static_cast<uint32_t>(error));
    return UNREADABLE_EXIT_CODE;
  }
  if (WIFEXITED(status)) return static_cast<unsigned long>(WEXITSTATUS(status));
  return 128 + static_cast<unsigned long>(WTERMSIG(status));
}

// The body as it arrives, written by the launcher: created at the first byte, never beyond
// the cap, emptied again when the answer turns out to be a redirect. Hashed as it is written,
// so that the package need not be read again to be checked.
struct body_file {
  const char* path;
  uint64_t cap;
  uint64_t total;
  int fd;
  EVP_MD_CTX* hash;  // null: no digest wanted, or the hash failed
};

bool write_body(body_file* body, const char* data, size_t bytes) {
  if (body->fd < 0) body->fd = open(body->path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (body->fd < 0) return false;
  if (body->hash != nullptr && EVP_DigestUpdate(body->hash, data, bytes) != 1) {
    EVP_MD_CTX_free(body->hash);
    body->hash = nullptr;
  }
  if (!os_write_all(body->fd, data, bytes)) return false;
  body->total += bytes;
  return true;
}

// Reads what is left in the pipe into text (at most size - 1 bytes, terminated).
void read_all(int fd, char* text, size_t size) {
  size_t length = 0;
  for (;;) {
    ssize_t got = read(fd, text + length, size - 1 - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<size_t>(got);
    if (length == size - 1) break;
  }
  text[length] = '\0';
}

// One GET without following redirects, within the deadlines: curl connects within the limit,
// and the launcher ends it when the body comes below the minimum rate (journalled with job_url).
// Its exit code (0, curl's, or JOB_FAILED); for a redirect, *location gets the absolute target
// (to free). -1 when curl could not be started.
long fetch_once(const char* curl, const char* url, const wchar_t* job_url, char* const environment[], body_file* body,
                char** location) {
  utf8_path user_agent(k_user_agent);
  char connect_limit[16];
  snprintf(connect_limit, sizeof connect_limit, "%u", static_cast<unsigned>(TRANSFER_CONNECT_LIMIT_MS / 1000));
  // The body comes on the standard output; the status and the redirect target on the error
  // output, after the body.
  char* argv[] = {const_cast<char*>("curl"),
                  const_cast<char*>("-q"),
                  const_cast<char*>("--silent"),
                  const_cast<char*>("--fail"),
                  const_cast<char*>("--globoff"),
                  const_cast<char*>("--proto"),
                  const_cast<char*>("=https"),
                  const_cast<char*>("--tlsv1.2"),
                  const_cast<char*>("--connect-timeout"),
                  connect_limit,
                  const_cast<char*>("--user-agent"),
                  user_agent.text,
                  const_cast<char*>("--write-out"),
                  const_cast<char*>("%{stderr}%{http_code} %{redirect_url}"),
                  const_cast<char*>("--url"),
                  const_cast<char*>(url),
                  nullptr};
  os_child started;
  int error = EINVAL;
  if (!user_agent.ok() || !start_child(curl, argv, environment, true, true, &started, &error)) {
    journal_start_failure(error);
    return -1;
  }
  fcntl(started.output, F_SETPIPE_SZ, BODY_PIPE_BYTES);  // fewer wake-ups; the default also works
  char* chunk = static_cast<char*>(malloc(BODY_CHUNK_BYTES));
  bool over_cap = false;
  bool too_slow = false;
  bool written = chunk != nullptr;
  rate_watch watch;
  start_rate_watch(&watch);
  uint64_t moved = 0;
  while (written) {
    // Woken by the body's bytes, or at the end of the rate window.
    struct pollfd wait = {started.output, POLLIN, 0};
    int ready = poll(&wait, 1, static_cast<int>(rate_watch_wait_ms(&watch)));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      ssize_t got = read(started.output, chunk, BODY_CHUNK_BYTES);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      moved += static_cast<uint64_t>(got);
      over_cap = body->cap != 0 && body->total + static_cast<uint64_t>(got) > body->cap;
      written = !over_cap && write_body(body, chunk, static_cast<size_t>(got));
    }
    too_slow = written && !rate_kept(&watch, moved);
    written = written && !too_slow;
  }
  free(chunk);
  if (!written) kill(started.pid, SIGKILL);
  close(started.output);
  char write_out[WRITE_OUT_BYTES];
  read_all(started.errors, write_out, sizeof write_out);
  close(started.errors);
  long code = static_cast<long>(wait_child(started));
  if (over_cap) {
    write_log(L"Taille attendue du fichier depassee: telechargement arrete.");
    return JOB_FAILED;
  }
  if (too_slow) {
    journal_too_slow(job_url);
    return JOB_FAILED;
  }
  if (!written) return JOB_FAILED;
  if (code != 0) return code;
  // "CODE TARGET": 2xx is the body; 3xx with a target is followed by the caller.
  bool status = strlen(write_out) >= 4 && write_out[3] == ' ';
  if (status && write_out[0] == '2') return 0;
  if (status && write_out[0] == '3' && write_out[4] != '\0') {
    *location = strdup(write_out + 4);
    return *location != nullptr ? 0 : JOB_FAILED;
  }
  return HTTP_STATUS_REFUSED;
}

// The body's hash when the caller wants its digest; null otherwise (or out of memory).
EVP_MD_CTX* start_body_hash(const job_parameters* job) {
  if (job->digest == nullptr) return nullptr;
  EVP_MD_CTX* hash = EVP_MD_CTX_new();
  if (hash != nullptr && EVP_DigestInit_ex2(hash, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(hash);
    hash = nullptr;
  }
  return hash;
}

void finish_body_hash(body_file* body, body_digest* digest) {
  unsigned int length = 0;
  if (body->hash == nullptr || EVP_DigestFinal_ex(body->hash, digest->digest, &length) != 1 || length != DIGEST_BYTES) {
    return;
  }
  digest->bytes = body->total;
  digest->known = 1;
}

int run_download(const job_parameters* job, char* const environment[]) {
  if (job->digest != nullptr) job->digest->known = 0;
  utf8_path url(job->url);
  utf8_path destination(job->destination);
  if (!url.ok() || !destination.ok()) return finish_child(JOB_FAILED);
  if (unlink(destination.text) != 0 && errno != ENOENT) return finish_child(JOB_FAILED);
  char* curl = find_program("curl");
  if (curl == nullptr) {
    journal_start_failure(ENOENT);
    return 0;
  }
  body_file body = {destination.text, job->download_cap, 0, -1, start_body_hash(job)};
  char* current = strdup(url.text);
  long code = current != nullptr ? 0 : JOB_FAILED;
  for (unsigned redirects = 0; current != nullptr; ++redirects) {
    char* location = nullptr;
    code = fetch_once(curl, current, job->url, environment, &body, &location);
    free(current);
    current = nullptr;
    if (code != 0 || location == nullptr) break;
    if (!on_release_host_utf8(location)) {
      write_log(k_redirect_off_origin);
      code = JOB_FAILED;
    } else if (redirects == REDIRECTS_MAX) {
      write_log(L"Redirection refusee: trop de redirections.");
      code = JOB_FAILED;
    } else if ((body.fd >= 0 && (ftruncate(body.fd, 0) != 0 || lseek(body.fd, 0, SEEK_SET) != 0)) ||
               (body.hash != nullptr && EVP_DigestInit_ex2(body.hash, EVP_sha256(), nullptr) != 1)) {
      code = JOB_FAILED;
    } else {
      body.total = 0;
      current = location;
      continue;
    }
    free(location);
  }
  free(curl);
  if (body.fd >= 0 && close(body.fd) != 0 && code == 0) code = JOB_FAILED;
  if (code == 0 && body.fd >= 0) finish_body_hash(&body, job->digest);
  EVP_MD_CTX_free(body.hash);
  if (code < 0) return 0;
  return finish_child(static_cast<unsigned long>(code));
}

}  // namespace

int run_download_job(const job_parameters* job) {
  char** environment = make_environment(job);
  if (environment == nullptr) {
    journal_start_failure(ENOMEM);
    return 0;
  }
  int result = run_download(job, environment);
  free_environment(environment);
  return result;
}
