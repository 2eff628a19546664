#include "integrity/hash_pool.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "integrity/platform.h"

namespace {
enum : uint8_t { SLOT_PENDING = 0, SLOT_HASHED = 1, SLOT_MISSING = 2 };
constexpr size_t NOT_WAITING = SIZE_MAX;

struct slot {
  std::atomic<uint8_t> state;
  unsigned char digest[DIGEST_BYTES];  // written before state turns SLOT_HASHED
};

struct worker {
  hash_pool* pool;
  file_hasher* hasher;
  wchar_t* path;  // the listed path, converted
  wchar_t* full;  // joined to the folder
  os_thread* thread;
};
}  // namespace

// The caller is one of the hashing threads: workers[0] is its own, and while the entry it waits
// for is still being hashed it hashes entries nobody has taken yet. It sleeps only when none
// is left, and a thread wakes it only for the entry it waits for.
struct hash_pool {
  const wchar_t* folder;
  size_t folder_length;
  const list_entry* entries;
  size_t count;
  const file_identity* known;
  file_identity* seen;
  slot* slots;  // null: the caller hashes each entry when it takes it
  std::atomic<size_t> next;
  std::atomic<bool> stopping;
  std::atomic<size_t> waiting_for;  // the entry the caller sleeps on, or NOT_WAITING
  pool_signal* signal;
  worker* workers;
  uint32_t prepared;      // workers with their buffers
  uint32_t thread_count;  // workers[1 ... thread_count] run on threads of their own
};

namespace {
bool prepare_worker(hash_pool* pool, worker* w) {
  w->pool = pool;
  w->hasher = create_file_hasher();
  w->path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  w->full = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  w->thread = nullptr;
  return w->hasher != nullptr && w->path != nullptr && w->full != nullptr;
}

void release_worker(worker* w) {
  free_file_hasher(w->hasher);
  free(w->path);
  free(w->full);
}

int hex_value(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

// The digest the entry's line names.
bool listed_digest(const list_entry& entry, unsigned char digest[DIGEST_BYTES]) {
  if (entry.length < 2 * DIGEST_BYTES) return false;
  for (uint32_t i = 0; i < DIGEST_BYTES; ++i) {
    int high = hex_value(entry.line[2 * i]);
    int low = hex_value(entry.line[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

// The entry's path as the system takes it, joined to the folder, and hashed, unless it is the
// unchanged file of a known identity.
int hash_entry(worker* w, size_t index, unsigned char digest[DIGEST_BYTES]) {
  const list_entry& entry = w->pool->entries[index];
  size_t units =
      utf8_to_wide(entry.line + ENTRY_PATH_OFFSET, entry.length - ENTRY_PATH_OFFSET, w->path, PATH_UNITS - 1);
  if (units == 0) return 0;
  w->path[units] = L'\0';
  to_native_separators(w->path);
  join_path(w->full, w->pool->folder, w->path);
  const hash_pool* pool = w->pool;
  if (pool->known != nullptr && pool->known[index].taken) {
    file_identity now;
    if (identify_file_below(w->hasher, w->full, pool->folder_length, &now) &&
        same_file_identity(&now, &pool->known[index]) && listed_digest(entry, digest)) {
      if (pool->seen != nullptr) pool->seen[index] = now;
      return 1;
    }
  }
  return hash_file_below(w->hasher, w->full, pool->folder_length, digest,
                         pool->seen != nullptr ? &pool->seen[index] : nullptr);
}

// Takes the next entry nobody has taken and hashes it into its slot: false when none is left.
bool hash_next(worker* w) {
  hash_pool* pool = w->pool;
  size_t index = pool->next.fetch_add(1);
  if (index >= pool->count) return false;
  slot& s = pool->slots[index];
  s.state.store(hash_entry(w, index, s.digest) ? SLOT_HASHED : SLOT_MISSING);
  // The caller says which entry it sleeps on under the lock before it looks at that slot a
  // last time, so either it sees this state or this sees it waiting.
  if (pool->waiting_for.load() == index) {
    lock_pool(pool->signal);
    wake_pool(pool->signal);
    unlock_pool(pool->signal);
  }
  return true;
}

void run_worker(void* context) {
  worker* w = static_cast<worker*>(context);
  while (!w->pool->stopping.load() && hash_next(w)) {
  }
}

uint32_t pool_size(uint32_t threads, size_t count) {
  if (threads == 0) threads = processor_count();
  if (threads > HASH_POOL_LARGEST) threads = HASH_POOL_LARGEST;
  if (threads > count) threads = static_cast<uint32_t>(count);
  return threads;
}
}  // namespace

hash_pool* start_hash_pool(const wchar_t* folder, const list_entry* entries, size_t count, uint32_t threads,
                           const file_identity* known, file_identity* seen) {
  hash_pool* pool = static_cast<hash_pool*>(calloc(1, sizeof(hash_pool)));
  if (pool == nullptr) return nullptr;
  pool->folder = folder;
  pool->folder_length = wcslen(folder);
  pool->entries = entries;
  pool->count = count;
  pool->known = known;
  pool->seen = seen;
  if (seen != nullptr) {
    for (size_t i = 0; i < count; ++i) seen[i].taken = 0;
  }
  pool->waiting_for.store(NOT_WAITING);
  uint32_t wanted = pool_size(threads, count);
  pool->workers = static_cast<worker*>(calloc(wanted > 0 ? wanted : 1, sizeof(worker)));
  if (pool->workers == nullptr) {
    stop_hash_pool(pool);
    return nullptr;
  }
  pool->prepared = 1;
  if (!prepare_worker(pool, &pool->workers[0])) {
    stop_hash_pool(pool);
    return nullptr;
  }
  if (wanted < 2) return pool;

  pool->signal = create_pool_signal();
  pool->slots = pool->signal != nullptr ? static_cast<slot*>(calloc(count, sizeof(slot))) : nullptr;
  if (pool->slots == nullptr) return pool;  // the caller hashes each entry when it takes it
  for (uint32_t i = 1; i < wanted; ++i) {
    worker* w = &pool->workers[i];
    pool->prepared = i + 1;
    if (!prepare_worker(pool, w)) break;
    w->thread = os_thread_start(run_worker, w);
    if (w->thread == nullptr) break;
    pool->thread_count = i;
  }
  return pool;
}

int take_digest(hash_pool* pool, size_t index, unsigned char digest[DIGEST_BYTES]) {
  if (pool->slots == nullptr) return hash_entry(&pool->workers[0], index, digest);
  slot& s = pool->slots[index];
  uint8_t state;
  while ((state = s.state.load()) == SLOT_PENDING && hash_next(&pool->workers[0])) {
  }
  if (state == SLOT_PENDING) {
    lock_pool(pool->signal);
    pool->waiting_for.store(index);
    while ((state = s.state.load()) == SLOT_PENDING) wait_pool(pool->signal);
    pool->waiting_for.store(NOT_WAITING);
    unlock_pool(pool->signal);
  }
  if (state != SLOT_HASHED) return 0;
  memcpy(digest, s.digest, DIGEST_BYTES);
  return 1;
}

void stop_hash_pool(hash_pool* pool) {
  pool->stopping.store(true);
  for (uint32_t i = 1; i <= pool->thread_count; ++i) os_thread_join(pool->workers[i].thread, OS_WAIT_FOREVER);
  for (uint32_t i = 0; i < pool->prepared; ++i) release_worker(&pool->workers[i]);
  if (pool->signal != nullptr) free_pool_signal(pool->signal);
  free(pool->slots);
  free(pool->workers);
  free(pool);
}
