// A zip package read from its end: the end records, the central directory and the byte spans of
// chosen entries, so that only those spans need to be fetched. All of it arrives from the
// network: every count, offset and length is checked against the bytes at hand and against
// the archive's size before it is used, and entries obey the extraction's rules (relative
// names, no "..", no links or special files).
#pragma once

#include <cstddef>
#include <cstdint>

// The end of the archive to fetch first: the largest comment, the end record, the zip64 end
// record and its locator.
constexpr size_t ZIP_TAIL_BYTES = 65535 + 22 + 20 + 56;
constexpr uint64_t ZIP_DIRECTORY_LIMIT = 64ull * 1024 * 1024;  // largest central directory read
constexpr uint64_t ZIP_ENTRIES_LIMIT = 1000000;
constexpr size_t ZIP_NAME_LIMIT = 4096;  // bytes of one entry name

struct zip_directory_place {
  uint64_t offset;   // of the central directory in the archive
  uint64_t size;     // its bytes
  uint64_t entries;  // records it holds
};

// Finds the end records (zip64 included) in tail, the archive's last tail_size bytes of
// archive_size in all. 1 with *place inside the archive and below the end records; 0 when none
// is found or its figures do not fit.
int zip_locate_directory(const unsigned char* tail, size_t tail_size, uint64_t archive_size,
                         zip_directory_place* place);

struct zip_entry {
  const unsigned char* record;  // the central record, inside the directory bytes
  size_t record_bytes;
  const char* name;  // inside the record, not terminated
  size_t name_bytes;
  uint64_t local_offset;  // of the local header in the archive
  uint64_t compressed_size;
  uint64_t uncompressed_size;
  uint16_t method;  // 0 stored, 8 deflated
  bool is_folder;   // name ends with '/'
  uint32_t crc32;
  uint32_t dos_time;             // modification time and date, as the record has them
  uint16_t made_by;              // version made by: host system and version
  uint32_t external_attributes;  // checked: a regular file or a folder when the host says
};

// Checks every record of the directory (bytes, exactly place->size of them) and hands each to
// visit in order. 1 when all records are sound and visit accepted each; 0 at the first that is
// not (a broken record, a bad name, a link, encryption, another method, a span outside the
// archive's data) or that visit refused.
int zip_read_directory(const unsigned char* bytes, const zip_directory_place* place,
                       int (*visit)(const zip_entry* entry, void* context), void* context);

// A byte range [begin, end) of the archive.
struct zip_span {
  uint64_t begin;
  uint64_t end;
};

// Merges the spans (any order) into at most max_ranges ranges, sorted: neighbours closer than
// gap_bytes first, then ever wider gaps until the count fits. Returns the number written to
// ranges (room for count); overlapping spans are merged too.
size_t zip_plan_ranges(zip_span* spans, size_t count, uint64_t gap_bytes, size_t max_ranges, zip_span* ranges);

// Whether the bytes fetched for the entry's span (from its local header on) start with its
// local header, carry the same name and hold its whole compressed data.
int zip_local_record_matches(const unsigned char* local, uint64_t bytes, const zip_entry* entry);

// The smaller zip of chosen entries is written from the launcher's own fields, never from the
// server's header bytes: each local header and central record carries the entry's name, the
// UTF-8 flag, its method, time, CRC and sizes (the same in both), no data descriptor, and no
// extra field but zip64 where a figure needs one. An entry is its local header then exactly
// its compressed bytes.
constexpr size_t ZIP_OWN_LOCAL_HEADER_LIMIT = 30 + ZIP_NAME_LIMIT + 20;
// The length of the entry's own local header.
size_t zip_own_local_header_bytes(const zip_entry* entry);
// Writes it into out (room for ZIP_OWN_LOCAL_HEADER_LIMIT bytes): its length.
size_t zip_write_own_local_header(const zip_entry* entry, unsigned char* out);
// Bytes of the central directory and end records written below, at most.
uint64_t zip_own_directory_bound(const zip_entry* entries, size_t count);

// The central directory and end records of that smaller zip, entries in the archive's order:
// entry i's local header is at new_offsets[i] and the directory follows at directory_offset.
// Writes them into out: their length, or 0 when they do not fit in capacity.
size_t zip_write_directory(const zip_entry* entries, const uint64_t* new_offsets, size_t count,
                           uint64_t directory_offset, unsigned char* out, size_t capacity);
