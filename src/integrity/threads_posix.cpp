#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>

#include "integrity/platform.h"

uint32_t processor_count() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
    return static_cast<uint32_t>(CPU_COUNT(&allowed));
  }
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<uint32_t>(online) : 1;
}

struct pool_signal {
  pthread_mutex_t lock;
  pthread_cond_t changed;
};

pool_signal* create_pool_signal() {
  pool_signal* signal = static_cast<pool_signal*>(malloc(sizeof(pool_signal)));
  if (signal == nullptr) return nullptr;
  pthread_mutex_init(&signal->lock, nullptr);
  pthread_cond_init(&signal->changed, nullptr);
  return signal;
}

void free_pool_signal(pool_signal* signal) {
  pthread_cond_destroy(&signal->changed);
  pthread_mutex_destroy(&signal->lock);
  free(signal);
}

void lock_pool(pool_signal* signal) { pthread_mutex_lock(&signal->lock); }
void unlock_pool(pool_signal* signal) { pthread_mutex_unlock(&signal->lock); }
void wait_pool(pool_signal* signal) { pthread_cond_wait(&signal->changed, &signal->lock); }
void wake_pool(pool_signal* signal) { pthread_cond_broadcast(&signal->changed); }
