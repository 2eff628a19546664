#include <windows.h>

#include "install/install_worker.h"

namespace {
HANDLE g_worker_thread = nullptr;

DWORD WINAPI install_worker(LPVOID) { return static_cast<DWORD>(run_install_worker()); }
}  // namespace

int start_install_worker_thread() {
  g_worker_thread = CreateThread(nullptr, 0, install_worker, nullptr, 0, nullptr);
  return g_worker_thread != nullptr;
}

void close_install_worker_thread() {
  if (g_worker_thread != nullptr) CloseHandle(g_worker_thread);
  g_worker_thread = nullptr;
}

int query_free_bytes(const wchar_t* folder, uint64_t* free_bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr)) return 0;
  *free_bytes = available.QuadPart;
  return 1;
}

int write_file_flushed(const wchar_t* path, const char* bytes, uint32_t count) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes, count, &written, nullptr) && written == count && FlushFileBuffers(file);
  CloseHandle(file);
  return ok ? 1 : 0;
}

int remove_empty_folder(const wchar_t* path) { return RemoveDirectoryW(path) != 0; }
