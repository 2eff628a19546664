#include "install/span_copy.h"

#include <cstring>

namespace {
constexpr size_t LOCAL_FIXED_BYTES = 30;

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The server's header of the current span is whole and sound: the entry's own header goes out
// in its place, then the data bytes that came with it. 0 when write refused.
int start_entry(span_copy* copy, uint64_t span_bytes) {
  const zip_entry* entry = &copy->entries[copy->next];
  if (!zip_local_record_matches(copy->header, span_bytes, entry)) return 0;
  copy->checked = true;
  unsigned char own[ZIP_OWN_LOCAL_HEADER_LIMIT];
  size_t own_bytes = zip_write_own_local_header(entry, own);
  if (!copy->write(copy->context, own, own_bytes)) return 0;
  size_t header_bytes = LOCAL_FIXED_BYTES + u16(copy->header + 26) + u16(copy->header + 28);
  copy->data_left = entry->compressed_size;
  if (copy->header_used <= header_bytes) return 1;
  size_t early = copy->header_used - header_bytes;
  if (early > copy->data_left) early = static_cast<size_t>(copy->data_left);
  copy->data_left -= early;
  return early == 0 || copy->write(copy->context, copy->header + header_bytes, early);
}

// Takes up to piece bytes of the current span's header: how many it took, and whether the
// header is now whole in *complete.
size_t take_header(span_copy* copy, const unsigned char* bytes, size_t piece, uint64_t span_bytes, bool* complete) {
  size_t room = ZIP_LOCAL_HEADER_LIMIT - copy->header_used;
  size_t taken = piece < room ? piece : room;
  memcpy(copy->header + copy->header_used, bytes, taken);
  copy->header_used += taken;
  *complete = copy->header_used == span_bytes || copy->header_used == ZIP_LOCAL_HEADER_LIMIT ||
              (copy->header_used >= LOCAL_FIXED_BYTES &&
               copy->header_used >= LOCAL_FIXED_BYTES + u16(copy->header + 26) + u16(copy->header + 28));
  return taken;
}
}  // namespace

span_copy start_span_copy(const zip_entry* entries, const zip_span* spans, size_t count,
                          int (*write)(void*, const unsigned char*, size_t), void* context, unsigned char* header) {
  return {entries, spans, count, write, context, header, 0, 0, 0, false, 0};
}

int span_copy_resume_at(span_copy* copy, uint64_t offset) {
  if (copy->header_used != 0 || copy->checked) return 0;
  if (copy->next < copy->count && offset > copy->spans[copy->next].begin) return 0;
  copy->at = offset;
  return 1;
}

int take_span_bytes(void* context, const unsigned char* bytes, size_t count) {
  span_copy* copy = static_cast<span_copy*>(context);
  while (count > 0) {
    if (copy->next >= copy->count) return 1;  // a merged range's bytes after the last span
    const zip_span& span = copy->spans[copy->next];
    if (copy->at < span.begin) {
      uint64_t skip = span.begin - copy->at < count ? span.begin - copy->at : count;
      copy->at += skip;
      bytes += skip;
      count -= static_cast<size_t>(skip);
      continue;
    }
    uint64_t left = span.end - copy->at;
    size_t piece = left < count ? static_cast<size_t>(left) : count;
    if (!copy->checked) {
      bool complete = false;
      piece = take_header(copy, bytes, piece, span.end - span.begin, &complete);
      if (complete && !start_entry(copy, span.end - span.begin)) return 0;
      if (!complete && piece == left) return 0;  // the span ended inside its header
    } else if (copy->data_left > 0) {
      // The compressed data; whatever follows it in the span (a data descriptor, a gap) is dropped.
      size_t data = copy->data_left < piece ? static_cast<size_t>(copy->data_left) : piece;
      if (!copy->write(copy->context, bytes, data)) return 0;
      copy->data_left -= data;
    }
    copy->at += piece;
    bytes += piece;
    count -= piece;
    if (copy->at == span.end) {
      if (!copy->checked || copy->data_left != 0) return 0;
      ++copy->next;
      copy->header_used = 0;
      copy->checked = false;
    }
  }
  return 1;
}

int span_copy_done(const span_copy* copy) { return copy->next == copy->count && copy->header_used == 0; }

uint64_t span_copy_entry_bytes(const zip_entry* entry) {
  return zip_own_local_header_bytes(entry) + entry->compressed_size;
}
