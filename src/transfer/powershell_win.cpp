#include <windows.h>

#include <cstdlib>

#include "core/journal.h"
#include "core/paths.h"
#include "transfer/powershell.h"

namespace {
constexpr DWORD UNREADABLE_EXIT_CODE = 31;
}

int set_environment_variable(const wchar_t* name, const wchar_t* value) {
  return SetEnvironmentVariableW(name, value) ? 1 : 0;
}

int powershell(const wchar_t* script) {
  wchar_t* command = static_cast<wchar_t*>(malloc(COMMAND_LINE_UNITS * sizeof(wchar_t)));
  if (command == nullptr) {
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
  BOOL started = CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                g_root[0] != L'\0' ? g_root : nullptr, &startup, &process);
  DWORD start_error = GetLastError();
  free(command);
  if (!started) {
    log_windows_error(L"Impossible de demarrer le processus auxiliaire", start_error);
    return 0;
  }
  if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_FAILED) {
    log_windows_error(L"Attente du processus auxiliaire impossible", GetLastError());
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) {
    log_windows_error(L"Lecture du resultat du processus auxiliaire impossible", GetLastError());
    code = UNREADABLE_EXIT_CODE;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return finish_child(code);
}
