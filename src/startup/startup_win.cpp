#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>

#include "core/paths.h"
#include "startup/platform.h"
#include "startup/startup.h"
#include "ui/window.h"

namespace {
constexpr wchar_t k_lock_name[] = L"Local\\Vorna380SecureLauncherV1";
HANDLE g_instance_lock = nullptr;
}  // namespace

int take_instance_lock() {
  g_instance_lock = CreateMutexW(nullptr, TRUE, k_lock_name);
  if (g_instance_lock != nullptr && GetLastError() != ERROR_ALREADY_EXISTS) return 1;
  close_instance_lock();
  return 0;
}

void release_instance_lock() {
  if (g_instance_lock == nullptr) return;
  ReleaseMutex(g_instance_lock);
  close_instance_lock();
}

void close_instance_lock() {
  if (g_instance_lock != nullptr) CloseHandle(g_instance_lock);
  g_instance_lock = nullptr;
}

int running_executable_path(wchar_t* path) {
  DWORD length = GetModuleFileNameW(nullptr, path, PATH_UNITS);
  return length != 0 && length < PATH_UNITS;
}

int user_data_folder(wchar_t* folder) {
  return SUCCEEDED(
      SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder));
}

int same_launcher_path(const wchar_t* a, const wchar_t* b) { return _wcsicmp(a, b) == 0; }

int start_installed_launcher(const wchar_t* path, const wchar_t* root) {
  HINSTANCE result = ShellExecuteW(nullptr, L"open", path, nullptr, root, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

namespace {
// Another launcher holds the lock exactly while the named object exists: opening it takes
// nothing.
bool instance_lock_taken() {
  HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, k_lock_name);
  if (lock == nullptr) return false;
  CloseHandle(lock);
  return true;
}
}  // namespace

int start_and_try_launcher(const wchar_t* path, const wchar_t* root, unsigned trial_ms) {
  SHELLEXECUTEINFOW started = {};
  started.cbSize = sizeof started;
  started.fMask = SEE_MASK_NOCLOSEPROCESS;
  started.lpVerb = L"open";
  started.lpFile = path;
  started.lpDirectory = root;
  started.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&started) || started.hProcess == nullptr) return 0;
  int took_over = 0;
  if (WaitForSingleObject(started.hProcess, trial_ms) == WAIT_OBJECT_0) {
    DWORD code = 1;
    GetExitCodeProcess(started.hProcess, &code);
    took_over = code == 0 ? 1 : -1;
  } else if (instance_lock_taken()) {
    took_over = 1;
  }
  if (took_over != 1) TerminateProcess(started.hProcess, 1);
  CloseHandle(started.hProcess);
  return took_over == 1;
}

int wait_for_process_end(unsigned long process_id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process_id));
  if (process == nullptr) return 0;
  WaitForSingleObject(process, SELF_UPDATE_WAIT_MS);
  CloseHandle(process);
  return 1;
}

// The open launcher is asked to close through its window (as its close button does); one that
// has not within the time is ended.
int close_running_launcher(unsigned timeout_ms) {
  if (take_instance_lock()) return 1;
  HWND window = FindWindowW(k_launcher_window_class, nullptr);
  DWORD id = 0;
  if (window != nullptr) {
    GetWindowThreadProcessId(window, &id);
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  for (unsigned waited = 0; waited < timeout_ms + 2000; waited += 100) {
    if (waited == timeout_ms && id != 0) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
      if (process != nullptr) {
        TerminateProcess(process, 1);
        CloseHandle(process);
      }
    }
    Sleep(100);
    if (take_instance_lock()) return 1;
  }
  return 0;
}

// A running program's file cannot be deleted but can be renamed: it goes to the temporary
// folder (on the same volume as the profile), where the system's clean-up finds it.
int move_running_executable_out(const wchar_t* executable, const wchar_t* root) {
  size_t length = wcslen(root);
  if (_wcsnicmp(executable, root, length) != 0 || (executable[length] != L'\\' && executable[length] != L'/')) return 1;
  wchar_t folder[MAX_PATH];
  wchar_t target[PATH_UNITS];
  DWORD units = GetTempPathW(MAX_PATH, folder);
  if (units == 0 || units >= MAX_PATH) return 0;
  swprintf(target, PATH_UNITS, L"%lsVorna380-uninstalled-%lu.exe", folder, GetCurrentProcessId());
  return MoveFileExW(executable, target, MOVEFILE_REPLACE_EXISTING) != 0;
}
