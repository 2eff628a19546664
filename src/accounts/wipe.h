// Overwrites memory that held a password so that the compiler cannot drop the writes.
#pragma once

#include <cstddef>

inline void wipe_memory(void* memory, size_t bytes) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(memory);
  for (size_t i = 0; i < bytes; ++i) p[i] = 0;
}
