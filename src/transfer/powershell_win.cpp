#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "core/journal.h"
#include "core/paths.h"
#include "transfer/download.h"
#include "transfer/powershell.h"

namespace {
constexpr DWORD UNREADABLE_EXIT_CODE = 31;

// The name of an environment entry: up to the '=' that follows its first unit ("=C:=C:\x").
size_t name_units(const wchar_t* entry) {
  const wchar_t* equals = entry[0] != L'\0' ? wcschr(entry + 1, L'=') : nullptr;
  return equals != nullptr ? static_cast<size_t>(equals - entry) : wcslen(entry);
}

// Names compare as Windows sorts an environment block: ordinal, ignoring case.
int compare_names(const wchar_t* a, size_t a_units, const wchar_t* b, size_t b_units) {
  return CompareStringOrdinal(a, static_cast<int>(a_units), b, static_cast<int>(b_units), TRUE) - CSTR_EQUAL;
}

bool is_job_variable(const wchar_t* entry) {
  for (const wchar_t* name : k_job_variable_names) {
    if (compare_names(entry, name_units(entry), name, wcslen(name)) == 0) return true;
  }
  return false;
}

wchar_t* append_entry(wchar_t* at, const wchar_t* name, const wchar_t* value) {
  size_t name_length = wcslen(name);
  size_t value_length = wcslen(value);
  wmemcpy(at, name, name_length);
  at[name_length] = L'=';
  wmemcpy(at + name_length + 1, value, value_length + 1);
  return at + name_length + 1 + value_length + 1;
}

// Appends the job's variables that sort before the entry (all that are left for null), in order.
wchar_t* append_job_before(wchar_t* at, const job_variable variables[JOB_VARIABLES], bool done[JOB_VARIABLES],
                           const wchar_t* entry) {
  for (;;) {
    size_t next = JOB_VARIABLES;
    for (size_t i = 0; i < JOB_VARIABLES; ++i) {
      const wchar_t* name = variables[i].name;
      const wchar_t* least = next < JOB_VARIABLES ? variables[next].name : nullptr;
      if (!done[i] && (least == nullptr || compare_names(name, wcslen(name), least, wcslen(least)) < 0)) next = i;
    }
    if (next == JOB_VARIABLES) return at;
    const wchar_t* name = variables[next].name;
    if (entry != nullptr && compare_names(name, wcslen(name), entry, name_units(entry)) > 0) return at;
    at = append_entry(at, name, variables[next].value);
    done[next] = true;
  }
}

// The child's environment block (CREATE_UNICODE_ENVIRONMENT), owned by the caller: the
// launcher's own without any of the table's variables, and the job's two where they sort.
wchar_t* make_environment(const job_parameters* job) {
  job_variable variables[JOB_VARIABLES];
  job_variables(job, variables);
  wchar_t* inherited = GetEnvironmentStringsW();
  if (inherited == nullptr) return nullptr;
  size_t units = 1;
  for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) units += wcslen(entry) + 1;
  for (const job_variable& variable : variables) units += wcslen(variable.name) + wcslen(variable.value) + 2;
  wchar_t* block = static_cast<wchar_t*>(malloc(units * sizeof(wchar_t)));
  if (block != nullptr) {
    wchar_t* at = block;
    bool done[JOB_VARIABLES] = {};
    for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
      if (is_job_variable(entry)) continue;
      at = append_job_before(at, variables, done, entry);
      size_t length = wcslen(entry) + 1;
      wmemcpy(at, entry, length);
      at += length;
    }
    at = append_job_before(at, variables, done, nullptr);
    *at = L'\0';
  }
  FreeEnvironmentStringsW(inherited);
  return block;
}
// The job every child joins, made once and never closed: when the launcher ends, however it
// ends, the system closes the last handle to it and ends the children with it, so that no child
// goes on writing into the package or "Client.new" while the next start works on them.
HANDLE children_job() {
  static HANDLE job = [] {
    HANDLE made = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (made != nullptr && !SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
      CloseHandle(made);
      made = nullptr;
    }
    return made;
  }();
  return job;
}

// The size of the file the child writes, read from the open file rather than from its folder
// entry, which the system brings up to date only now and then; 0 while there is none.
uint64_t written_size(const wchar_t* path) {
  HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size)) size.QuadPart = 0;
  CloseHandle(file);
  return static_cast<uint64_t>(size.QuadPart);
}

// Waits for the child. PowerShell has no minimum rate of its own: during a download the
// launcher watches the destination grow, and ends the child when it grows by less than the
// minimum over a window.
void wait_for_child(HANDLE child, const job_parameters* job) {
  bool download = job->kind == job_kind::download;
  rate_watch watch;
  start_rate_watch(&watch);
  for (;;) {
    DWORD waited = WaitForSingleObject(child, download ? rate_watch_wait_ms(&watch) : INFINITE);
    if (waited == WAIT_FAILED) log_windows_error(L"Attente du processus auxiliaire impossible", GetLastError());
    if (waited != WAIT_TIMEOUT) return;
    if (!rate_kept(&watch, written_size(job->destination))) {
      journal_too_slow(job->url);
      TerminateProcess(child, 1);
      WaitForSingleObject(child, INFINITE);
      return;
    }
  }
}
}  // namespace

int powershell(const wchar_t* script, const job_parameters* job) {
  wchar_t* command = static_cast<wchar_t*>(malloc(COMMAND_LINE_UNITS * sizeof(wchar_t)));
  wchar_t* environment = make_environment(job);
  if (command == nullptr || environment == nullptr) {
    free(command);
    free(environment);
    log_windows_error(L"Impossible de demarrer le processus auxiliaire", ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  format_powershell_command(command, script);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  // The first word, powershell.exe, is found by the system's usual search. Before the root
  // folder is known (tests), the child inherits the current folder.
  // Started suspended, so that it runs only once it belongs to the job.
  BOOL started = CreateProcessW(nullptr, command, nullptr, nullptr, FALSE,
                                CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, environment,
                                g_root[0] != L'\0' ? g_root : nullptr, &startup, &process);
  DWORD start_error = GetLastError();
  HANDLE children = started ? children_job() : nullptr;
  if (started && (children == nullptr || !AssignProcessToJobObject(children, process.hProcess))) {
    start_error = children == nullptr ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
    TerminateProcess(process.hProcess, UNREADABLE_EXIT_CODE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    started = FALSE;
  }
  if (started) ResumeThread(process.hThread);
  free(command);
  free(environment);
  if (!started) {
    log_windows_error(L"Impossible de demarrer le processus auxiliaire", start_error);
    return 0;
  }
  wait_for_child(process.hProcess, job);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) {
    log_windows_error(L"Lecture du resultat du processus auxiliaire impossible", GetLastError());
    code = UNREADABLE_EXIT_CODE;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The extraction's code names its failed step; the child cannot name the entry.
  return job->kind == job_kind::extract ? finish_extraction(code, nullptr) : finish_child(code);
}
