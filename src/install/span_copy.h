// The bytes of chosen package entries, arriving in order from range answers, copied out span by
// span into a smaller zip: each span's local header must match its central record (name and room
// for the whole compressed data); the entry's own local header goes out in its place, then
// exactly its compressed bytes. Bytes between spans, and after an entry's data, are dropped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transfer/zip_directory.h"

// Bytes of one local header at most: fixed part, name, extra field.
constexpr size_t ZIP_LOCAL_HEADER_LIMIT = 30 + 65535 + 65535;

struct span_copy {
  const zip_entry* entries;  // entry i's span is spans[i]; sorted, not overlapping
  const zip_span* spans;
  size_t count;
  int (*write)(void* context, const unsigned char* bytes, size_t count);  // 0 stops the copy
  void* context;
  unsigned char* header;  // room for ZIP_LOCAL_HEADER_LIMIT bytes
  size_t next;            // the span being filled, or the next one
  uint64_t at;            // archive offset of the next byte handed over
  size_t header_used;
  bool checked;        // the current span's header was found sound
  uint64_t data_left;  // compressed bytes of the current entry still to write
};

// A copy of the spans with the header buffer; everything else starts at zero.
span_copy start_span_copy(const zip_entry* entries, const zip_span* spans, size_t count,
                          int (*write)(void*, const unsigned char*, size_t), void* context, unsigned char* header);

// Where the next range answer starts: 0 when a span was left unfinished (the copy has failed).
int span_copy_resume_at(span_copy* copy, uint64_t offset);

// A range_sink's take: bytes of the archive from copy->at on. 0 when a header does not match,
// a span ends inside its header, or write refused.
int take_span_bytes(void* context, const unsigned char* bytes, size_t count);

// 1 when every span was copied whole.
int span_copy_done(const span_copy* copy);

// What one entry takes in the smaller zip: its own local header and its compressed bytes.
uint64_t span_copy_entry_bytes(const zip_entry* entry);
