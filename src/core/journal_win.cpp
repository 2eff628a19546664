#include <windows.h>

#include "core/journal.h"
#include "core/platform.h"
#include "core/system_path_win.h"

const wchar_t k_system_error_label[] = L"erreur Windows";

void journal_local_time(journal_time* now) {
  SYSTEMTIME time;
  GetLocalTime(&time);
  *now = {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

void journal_append(const wchar_t* path, const char* bytes, uint32_t count) {
  // A link at the journal's path is opened as itself and then refused, so the line cannot land
  // in whatever file the link names. Reading the attributes needs FILE_READ_ATTRIBUTES, which
  // sharing modes do not restrict.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (is_regular_file_handle(file)) WriteFile(file, bytes, count, &written, nullptr);
  CloseHandle(file);
}

void system_error_text(uint32_t code, wchar_t* output, uint32_t capacity) {
  output[0] = L'\0';
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, output,
                                capacity, nullptr);
  if (length == 0) output[0] = L'\0';
}
