// The install worker: brings the active client to the release the server publishes, by the
// cheapest way that ends with a verified client, and refuses everything the signed release
// does not cover. It reports only through the status channel.
#pragma once

#include <cstdint>

#include "trust/manifest.h"

constexpr uint64_t DISK_RESERVE_BYTES = 536870912;  // added to the package size
constexpr uint64_t DISK_FACTOR = 2;                 // free space >= factor * (size + reserve)
constexpr uint32_t SEQUENCE_MARK_LIMIT = 64;        // largest high-water mark file read

// One run from the manifest to a ready ending (1) or an error ending (0).
int run_install_worker();

// The worker thread, running run_install_worker once: 1 when started. It is never waited for
// and ends with the process; closing only lets go of it.
int start_install_worker_thread();
void close_install_worker_thread();

// 1 when free_bytes are enough to install a package of package_size bytes (unsigned 64-bit).
int enough_disk_space(uint64_t free_bytes, uint64_t package_size);

// The highest release sequence installed here ("release-sequence.txt" in g_root) into
// *sequence: 1 with the number (1 to 19 digits, then only spaces, tabs, CR or LF), or with 0
// when there is no such file (no numbered release was ever installed here); 0, journalled,
// when something is there that cannot be read as such a number.
int read_sequence_mark(uint64_t* sequence);
// Replaces the mark with the sequence: temporary file, written through, then renamed over (an
// empty folder in its place is removed first). Failures only write journal lines.
void write_sequence_mark(uint64_t sequence);
