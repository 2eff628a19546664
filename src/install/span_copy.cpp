#include "install/span_copy.h"

#include <cstring>

namespace {
constexpr size_t LOCAL_FIXED_BYTES = 30;

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
}  // namespace

span_copy start_span_copy(const zip_entry* entries, const zip_span* spans, size_t count,
                          int (*write)(void*, const unsigned char*, size_t), void* context, unsigned char* header) {
  return {entries, spans, count, write, context, header, 0, 0, 0, false};
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
    uint64_t span_bytes = span.end - span.begin;
    if (!copy->checked) {
      size_t room = ZIP_LOCAL_HEADER_LIMIT - copy->header_used;
      size_t taken = piece < room ? piece : room;
      memcpy(copy->header + copy->header_used, bytes, taken);
      copy->header_used += taken;
      bool complete = copy->header_used == span_bytes || copy->header_used == ZIP_LOCAL_HEADER_LIMIT ||
                      (copy->header_used >= LOCAL_FIXED_BYTES &&
                       copy->header_used >= LOCAL_FIXED_BYTES + u16(copy->header + 26) + u16(copy->header + 28));
      if (complete) {
        if (!zip_local_record_matches(copy->header, span_bytes, &copy->entries[copy->next])) return 0;
        copy->checked = true;
      }
    }
    if (!copy->checked && piece == left) return 0;  // the span ended inside its header
    if (piece > 0 && !copy->write(copy->context, bytes, piece)) return 0;
    copy->at += piece;
    bytes += piece;
    count -= piece;
    if (copy->at == span.end) {
      ++copy->next;
      copy->header_used = 0;
      copy->checked = false;
    }
  }
  return 1;
}

int span_copy_done(const span_copy* copy) { return copy->next == copy->count && copy->header_used == 0; }
