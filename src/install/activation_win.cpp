#include <windows.h>

#include "install/platform.h"

int rename_entry_once(const wchar_t* source, const wchar_t* destination, uint32_t* error) {
  // Write-through alone: no replacing, no copying across volumes, so this is a rename.
  *error = MoveFileExW(source, destination, MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
  return *error == 0;
}

int move_error_is_retryable(uint32_t error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_BUSY;
}

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

uint32_t own_process_id() { return GetCurrentProcessId(); }

uint32_t conversion_error() { return GetLastError(); }
