// The listed files hashed by a small pool of threads. Workers take the files in list order,
// each with one hasher of its own; the caller takes the results one by one in the same order
// and, while the one it needs is not ready, hashes files nobody has taken yet: it is one of
// the threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "integrity/list.h"
#include "trust/digest.h"

// Never more workers than this, whatever the machine: past a few threads the disk decides.
constexpr uint32_t HASH_POOL_LARGEST = 8;

struct hash_pool;

// threads: the hashing threads, the caller's included; 0 picks as many as the processors this
// process may use (at most HASH_POOL_LARGEST); 1 hashes each file on the calling thread when
// it is taken. folder and entries must outlive the pool, and so must the optional arrays of
// count identities:
// - seen gets the identity of every file hashed (taken 0 for the others);
// - known names files hashed before to their listed digest: an entry whose file still has its
//   known identity yields its listed digest without being read again; any other is hashed.
// Null when out of memory.
hash_pool* start_hash_pool(const wchar_t* folder, const list_entry* entries, size_t count, uint32_t threads,
                           const file_identity* known = nullptr, file_identity* seen = nullptr);

// Waits for the entry at index; indexes are taken in increasing order. 1 with its file's
// digest; 0 when the file cannot be hashed (missing, a link, not a regular file, unreadable).
int take_digest(hash_pool* pool, size_t index, unsigned char digest[DIGEST_BYTES]);

// The workers finish the file in hand and end; everything is released.
void stop_hash_pool(hash_pool* pool);
