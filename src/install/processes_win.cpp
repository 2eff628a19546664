#include <windows.h>
#include <tlhelp32.h>

#include "core/journal.h"
#include "install/processes.h"

namespace {
// The image path of the process being examined; the scan runs on the install worker only.
wchar_t s_image[PATH_UNITS];
}  // namespace

int match_client_process(uint32_t id, wchar_t* image, client_process* process) {
  HANDLE query = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (query == nullptr) return 0;
  DWORD size = PATH_UNITS;
  if (!QueryFullProcessImageNameW(query, 0, image, &size) || !image_inside_folder(image, g_client)) {
    CloseHandle(query);
    return 0;
  }
  // The handle stays open: while it is, the ID cannot pass to another process.
  process->id = id;
  process->handle = reinterpret_cast<intptr_t>(query);
  return 1;
}

void end_client_process(client_process* process) {
  HANDLE query = reinterpret_cast<HANDLE>(process->handle);
  // Opened by ID while the query handle still pins that ID to the process matched.
  HANDLE target = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, process->id);
  DWORD open_error = GetLastError();
  CloseHandle(query);
  process->handle = 0;
  if (target == nullptr) {
    log_windows_error(L"Ouverture d'un ancien processus Vorna380 impossible", open_error);
    return;
  }
  if (!TerminateProcess(target, CLIENT_PROCESS_EXIT_CODE)) {
    DWORD error = GetLastError();
    if (WaitForSingleObject(target, 0) != WAIT_OBJECT_0) {
      log_windows_error(L"Fermeture d'un ancien processus Vorna380 impossible", error);
    }
  } else if (WaitForSingleObject(target, CLIENT_PROCESS_WAIT_MS) == WAIT_TIMEOUT) {
    write_log(L"Un ancien processus Vorna380 ne s'est pas ferme dans le delai imparti.");
  }
  CloseHandle(target);
}

void close_client_processes() {
  DWORD own = GetCurrentProcessId();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    log_windows_error(L"Inventaire des processus Vorna380 impossible", GetLastError());
    return;
  }
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  if (!Process32FirstW(snapshot, &entry)) {
    log_windows_error(L"Lecture des processus Vorna380 impossible", GetLastError());
    CloseHandle(snapshot);
    return;
  }
  do {
    if (entry.th32ProcessID == own || entry.th32ProcessID == 0) continue;
    client_process process;
    if (!match_client_process(entry.th32ProcessID, s_image, &process)) continue;
    journal_client_process(process.id, s_image);
    end_client_process(&process);
  } while (Process32NextW(snapshot, &entry));
  CloseHandle(snapshot);
}
