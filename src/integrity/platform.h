// What each platform half of the client integrity check supplies: the processor count that
// sizes the hashing pool and the one lock with its condition on which the pool waits.
#pragma once

#include <cstdint>

// Processors this process may run on (at least 1).
uint32_t processor_count();

struct pool_signal;
pool_signal* create_pool_signal();
void free_pool_signal(pool_signal* signal);
void lock_pool(pool_signal* signal);
void unlock_pool(pool_signal* signal);
// Called with the lock held; releases it while waiting and holds it again on return.
void wait_pool(pool_signal* signal);
// Wakes every waiter.
void wake_pool(pool_signal* signal);
