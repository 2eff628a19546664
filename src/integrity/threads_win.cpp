#include <windows.h>

#include <cstdlib>

#include "integrity/platform.h"

uint32_t processor_count() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  uint32_t count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) ++count;
  }
  return count > 0 ? count : 1;
}

struct pool_thread {
  HANDLE handle;
  void (*run)(void*);
  void* context;
};

static DWORD WINAPI thread_entry(LPVOID argument) {
  pool_thread* self = static_cast<pool_thread*>(argument);
  self->run(self->context);
  return 0;
}

pool_thread* start_pool_thread(void (*run)(void*), void* context) {
  pool_thread* thread = static_cast<pool_thread*>(malloc(sizeof(pool_thread)));
  if (thread == nullptr) return nullptr;
  thread->run = run;
  thread->context = context;
  thread->handle = CreateThread(nullptr, 0, thread_entry, thread, 0, nullptr);
  if (thread->handle == nullptr) {
    free(thread);
    return nullptr;
  }
  return thread;
}

void join_pool_thread(pool_thread* thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  free(thread);
}

struct pool_signal {
  SRWLOCK lock;
  CONDITION_VARIABLE changed;
};

pool_signal* create_pool_signal() {
  pool_signal* signal = static_cast<pool_signal*>(malloc(sizeof(pool_signal)));
  if (signal == nullptr) return nullptr;
  InitializeSRWLock(&signal->lock);
  InitializeConditionVariable(&signal->changed);
  return signal;
}

void free_pool_signal(pool_signal* signal) { free(signal); }
void lock_pool(pool_signal* signal) { AcquireSRWLockExclusive(&signal->lock); }
void unlock_pool(pool_signal* signal) { ReleaseSRWLockExclusive(&signal->lock); }
void wait_pool(pool_signal* signal) { SleepConditionVariableSRW(&signal->changed, &signal->lock, INFINITE, 0); }
void wake_pool(pool_signal* signal) { WakeAllConditionVariable(&signal->changed); }
