// The Windows port of the operating-system layer (os.h).
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "core/crash_point.h"
#include "core/os.h"
#include "core/platform.h"

void os_sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

uint64_t os_monotonic_ms() { return GetTickCount64(); }

uint64_t os_system_time_1601() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Shared by the thread and its starter: whichever lets go last frees it, so a thread left
// running after a join that timed out never touches freed memory.
struct os_thread {
  HANDLE handle;
  void (*run)(void*);
  void* context;
  LONG holders;
};

namespace {
void let_go(os_thread* thread) {
  if (InterlockedDecrement(&thread->holders) == 0) free(thread);
}

DWORD WINAPI thread_entry(LPVOID argument) {
  os_thread* self = static_cast<os_thread*>(argument);
  self->run(self->context);
  let_go(self);
  return 0;
}
}  // namespace

os_thread* os_thread_start(void (*run)(void*), void* context) {
  os_thread* thread = static_cast<os_thread*>(malloc(sizeof(os_thread)));
  if (thread == nullptr) return nullptr;
  thread->run = run;
  thread->context = context;
  thread->holders = 2;
  thread->handle = CreateThread(nullptr, 0, thread_entry, thread, 0, nullptr);
  if (thread->handle == nullptr) {
    free(thread);
    return nullptr;
  }
  return thread;
}

int os_thread_join(os_thread* thread, uint32_t limit_ms) {
  DWORD limit = limit_ms == OS_WAIT_FOREVER ? INFINITE : limit_ms;
  int ended = WaitForSingleObject(thread->handle, limit) == WAIT_OBJECT_0;
  CloseHandle(thread->handle);
  let_go(thread);
  return ended;
}

void os_thread_detach(os_thread* thread) {
  CloseHandle(thread->handle);
  let_go(thread);
}

int os_file_size(const wchar_t* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return 0;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return 1;
}

namespace {
int fail(os_failure* failure, int stage, DWORD error) {
  if (failure != nullptr) *failure = {stage, static_cast<uint32_t>(error)};
  return 0;
}

bool move_over(const wchar_t* source, const wchar_t* destination) {
  return MoveFileExW(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int replace_through(const wchar_t* path, const wchar_t* temporary, const void* bytes, size_t count,
                    os_failure* failure);

// path followed by suffix, to free; null when memory runs out.
wchar_t* with_suffix(const wchar_t* path, const wchar_t* suffix) {
  size_t length = wcslen(path);
  size_t extra = wcslen(suffix) + 1;
  wchar_t* joined = static_cast<wchar_t*>(malloc((length + extra) * sizeof(wchar_t)));
  if (joined == nullptr) return nullptr;
  wmemcpy(joined, path, length);
  wmemcpy(joined + length, suffix, extra);
  return joined;
}
}  // namespace

int os_replace_file(const wchar_t* path, const void* bytes, size_t count, os_failure* failure) {
  if (count > MAXDWORD) return fail(failure, OS_REPLACE_WRITE, ERROR_INVALID_PARAMETER);
  wchar_t* temporary = with_suffix(path, L".tmp");
  if (temporary == nullptr) return fail(failure, OS_REPLACE_CREATE, ERROR_NOT_ENOUGH_MEMORY);
  int replaced = replace_through(path, temporary, bytes, count, failure);
  free(temporary);
  return replaced;
}

namespace {
int replace_through(const wchar_t* path, const wchar_t* temporary, const void* bytes, size_t count,
                    os_failure* failure) {
  HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail(failure, OS_REPLACE_CREATE, GetLastError());
  DWORD written = 0;
  SetLastError(0);
  BOOL ok = TRUE;
#ifdef VORNA380_CRASH_POINTS
  // A test build writes the first half, then passes a crash point.
  DWORD first = static_cast<DWORD>(count / 2);
  ok = WriteFile(file, bytes, first, &written, nullptr) && written == first;
  crash_point_at_file("half-written", path);
  bytes = static_cast<const char*>(bytes) + first;
  count -= first;
#endif
  ok = ok && WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr) && written == count &&
       FlushFileBuffers(file);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) {
    DeleteFileW(temporary);
    return fail(failure, OS_REPLACE_WRITE, error);
  }
  if (!move_over(temporary, path)) {
    error = GetLastError();
    DeleteFileW(temporary);
    return fail(failure, OS_REPLACE_MOVE, error);
  }
  return 1;
}
}  // namespace

int os_move_over(const wchar_t* source, const wchar_t* destination) { return move_over(source, destination); }

int os_copy_over(const wchar_t* source, const wchar_t* destination) {
  wchar_t* temporary = with_suffix(destination, L".copy");
  if (temporary == nullptr) return 0;
  bool ok = CopyFileW(source, temporary, FALSE) != 0;
  if (ok) {
    HANDLE copy = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = copy != INVALID_HANDLE_VALUE && FlushFileBuffers(copy);
    if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  }
  crash_point_at_file("copy-written", destination);
  ok = ok && move_over(temporary, destination);
  if (!ok) DeleteFileW(temporary);
  free(temporary);
  return ok;
}

void os_delete_file(const wchar_t* path) { DeleteFileW(path); }

int os_remove_empty_folder(const wchar_t* path) { return RemoveDirectoryW(path) != 0; }

#ifdef VORNA380_CRASH_POINTS
void crash_now() {
  TerminateProcess(GetCurrentProcess(), CRASH_EXIT_CODE);
  for (;;) Sleep(INFINITE);
}

void crash_pause() { SuspendThread(GetCurrentThread()); }
#endif

struct os_file {
  HANDLE handle;
};

namespace {
os_file* open_written(const wchar_t* path, DWORD disposition) {
  HANDLE handle = CreateFileW(path, GENERIC_WRITE, 0, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER end = {};
  if (disposition == OPEN_EXISTING && !SetFilePointerEx(handle, end, nullptr, FILE_END)) {
    CloseHandle(handle);
    return nullptr;
  }
  os_file* file = static_cast<os_file*>(malloc(sizeof(os_file)));
  if (file == nullptr) {
    CloseHandle(handle);
    return nullptr;
  }
  file->handle = handle;
  return file;
}
}  // namespace

os_file* os_create_file(const wchar_t* path) { return open_written(path, CREATE_ALWAYS); }
os_file* os_append_file(const wchar_t* path) { return open_written(path, OPEN_EXISTING); }

int os_write_file(os_file* file, const void* bytes, size_t count) {
  const char* next = static_cast<const char*>(bytes);
  while (count > 0) {
    DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(file->handle, next, chunk, &written, nullptr) || written == 0) return 0;
    next += written;
    count -= written;
  }
  return 1;
}

int os_close_file(os_file* file) {
  BOOL ok = FlushFileBuffers(file->handle);
  ok = CloseHandle(file->handle) && ok;
  free(file);
  return ok != 0;
}

int os_hard_link(const wchar_t* existing, const wchar_t* link) { return CreateHardLinkW(link, existing, nullptr) != 0; }
