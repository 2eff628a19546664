#include <windows.h>

#include "install/activation.h"

uint32_t rename_entry_once(const wchar_t* source, const wchar_t* destination) {
  // Write-through alone: no replacing, no copying across volumes, so this is a rename.
  if (MoveFileExW(source, destination, MOVEFILE_WRITE_THROUGH)) return 0;
  return GetLastError();
}

int move_error_is_retryable(uint32_t error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_BUSY;
}

void pause_milliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

int examine_entry(const wchar_t* path, int* is_folder, uint32_t* error) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = GetLastError();
    return 0;
  }
  *is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return 1;
}

int error_means_missing(uint32_t error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

uint64_t system_time_1601() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint32_t own_process_id() { return GetCurrentProcessId(); }

int write_marker_file(const wchar_t* path, const char* bytes, uint32_t count, int* stage, uint32_t* error) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *stage = 1;
    *error = GetLastError();
    return 0;
  }
  DWORD written = 0;
  SetLastError(0);
  BOOL ok = WriteFile(file, bytes, count, &written, nullptr);
  if (!ok || written != count) {
    *stage = 2;
    *error = GetLastError();
    CloseHandle(file);
    return 0;
  }
  CloseHandle(file);
  return 1;
}

uint32_t conversion_error() { return GetLastError(); }
