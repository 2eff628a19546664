#include <windows.h>
#include <shellapi.h>

#include "accounts/platform.h"
#include "core/paths.h"

int game_file_exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

int start_game_process(const wchar_t* path, const wchar_t* folder, uint32_t* error) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = g_window;
  info.lpVerb = L"open";
  info.lpFile = path;
  info.lpDirectory = folder;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) {
    *error = GetLastError();
    return 0;
  }
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return 1;
}
