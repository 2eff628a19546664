#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "core/journal.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/launcher_update.h"
#include "install/platform.h"

int make_launcher_runnable(const wchar_t*) { return 1; }

int start_launcher_update(const wchar_t* program, uint32_t process_id) {
  // "PROGRAM" --apply-self-update ID: the program's path in quotes, as the first word.
  size_t units = wcslen(program) + 48;
  wchar_t* command = static_cast<wchar_t*>(malloc(units * sizeof(wchar_t)));
  if (command == nullptr) return 0;
  text_builder text = start_text(command, units);
  builder_append_char(&text, L'"');
  builder_append(&text, program);
  builder_append(&text, L"\" --apply-self-update ");
  builder_append_uint(&text, process_id, 1);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  BOOL started = CreateProcessW(program, command, nullptr, nullptr, FALSE, 0, nullptr, g_root, &startup, &process);
  DWORD error = GetLastError();
  free(command);
  if (!started) {
    log_windows_error(L"Impossible de demarrer la nouvelle version du launcher", error);
    return 0;
  }
  // The update waits for this process: one that ends while this one still runs has failed.
  int running = WaitForSingleObject(process.hProcess, HANDOVER_WATCH_MS) == WAIT_TIMEOUT;
  if (!running) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    write_log_with_number(L"La nouvelle version du launcher s'est arretee aussitot (code ", code, L").");
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return running;
}
