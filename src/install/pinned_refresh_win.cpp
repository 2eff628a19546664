#include <windows.h>

#include "install/pinned_refresh.h"

void delete_file_quietly(const wchar_t* path) { DeleteFileW(path); }

int replace_file_written_through(const wchar_t* source, const wchar_t* destination) {
  return MoveFileExW(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
