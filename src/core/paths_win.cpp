#include <windows.h>
#include <shlobj.h>

#include <cstdlib>

#include "core/paths.h"

int ensure_directory(const wchar_t* path) {
  int result = SHCreateDirectoryExW(nullptr, path, nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS) return 1;
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

char* read_file(const wchar_t* path, uint32_t limit, uint32_t* length) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  char* buffer = nullptr;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && static_cast<uint64_t>(size.QuadPart) <= limit) {
    DWORD wanted = static_cast<DWORD>(size.QuadPart);
    buffer = static_cast<char*>(malloc(static_cast<size_t>(wanted) + 1));
    DWORD got = 0;
    if (buffer != nullptr && ReadFile(file, buffer, wanted, &got, nullptr) && got == wanted) {
      buffer[wanted] = '\0';
      *length = wanted;
    } else {
      free(buffer);
      buffer = nullptr;
    }
  }
  CloseHandle(file);
  return buffer;
}
