#include <windows.h>

#include "accounts/selection.h"

long read_selection_file(const wchar_t* path, unsigned char* bytes, size_t limit) {
  HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  BOOL ok = ReadFile(file, bytes, static_cast<DWORD>(limit), &got, nullptr);
  CloseHandle(file);
  return ok ? static_cast<long>(got) : -1;
}

void write_selection_file(const wchar_t* path, const unsigned char* bytes, size_t count) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (count > 0) WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr);
  CloseHandle(file);
}
