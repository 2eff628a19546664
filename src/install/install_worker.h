// The install worker: brings the active client to the release the server publishes, by the
// cheapest way that ends with a verified client, and refuses everything the signed release
// does not cover. It reports only through the status channel.
#pragma once

#include <cstdint>

#include "install/release_marks.h"
#include "trust/manifest.h"

constexpr uint64_t DISK_RESERVE_BYTES = 536870912;  // added to the package size
constexpr uint64_t DISK_FACTOR = 2;                 // free space >= factor * (size + reserve)

// One run from the manifest to a ready ending (1) or an error ending (0).
int run_install_worker();

// The worker thread, running run_install_worker once: 1 when started. It is never waited for
// and ends with the process; closing only lets go of it.
int start_install_worker_thread();
void close_install_worker_thread();

// 1 when free_bytes are enough to install a package of package_size bytes (unsigned 64-bit).
int enough_disk_space(uint64_t free_bytes, uint64_t package_size);
