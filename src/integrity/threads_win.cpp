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
