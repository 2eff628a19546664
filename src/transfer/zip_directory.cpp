// A zip read from its end and a smaller zip written of some of its entries:
//   zip_locate_directory       the end record and zip64 end record in the archive's tail
//   zip_read_directory         each central record checked (read_entry, valid_name, zip64 fields)
//   zip_plan_ranges            entry spans merged into few range requests
//   zip_write_own_local_header, zip_write_directory   the smaller zip's headers, from own fields
#include "transfer/zip_directory.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint32_t END_SIGNATURE = 0x06054b50;
constexpr uint32_t END64_LOCATOR_SIGNATURE = 0x07064b50;
constexpr uint32_t END64_SIGNATURE = 0x06064b50;
constexpr uint32_t CENTRAL_SIGNATURE = 0x02014b50;
constexpr uint32_t LOCAL_SIGNATURE = 0x04034b50;
constexpr size_t END_BYTES = 22;
constexpr size_t END64_LOCATOR_BYTES = 20;
constexpr size_t END64_BYTES = 56;
constexpr size_t CENTRAL_BYTES = 46;
constexpr uint64_t LOCAL_BYTES = 30;
constexpr uint16_t ZIP64_EXTRA = 0x0001;
constexpr uint16_t FLAG_ENCRYPTED = 0x0001;
constexpr uint16_t FLAG_STRONG_ENCRYPTION = 0x0040;
constexpr uint16_t HOST_UNIX = 3;
constexpr uint32_t UNIX_TYPE_MASK = 0170000;
constexpr uint32_t UNIX_REGULAR = 0100000;
constexpr uint32_t UNIX_FOLDER = 0040000;

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const unsigned char* p) { return u16(p) | (static_cast<uint32_t>(u16(p + 2)) << 16); }
uint64_t u64(const unsigned char* p) { return u32(p) | (static_cast<uint64_t>(u32(p + 4)) << 32); }

// The zip64 end record the locator before the end record points to, inside the tail.
int read_end64(const unsigned char* tail, size_t tail_size, uint64_t archive_size, size_t end_at,
               zip_directory_place* place, uint64_t* records_begin) {
  if (end_at < END64_LOCATOR_BYTES) return 0;
  const unsigned char* locator = tail + end_at - END64_LOCATOR_BYTES;
  if (u32(locator) != END64_LOCATOR_SIGNATURE || u32(locator + 4) != 0 || u32(locator + 16) > 1) return 0;
  uint64_t record_offset = u64(locator + 8);
  uint64_t tail_begin = archive_size - tail_size;
  uint64_t locator_offset = tail_begin + end_at - END64_LOCATOR_BYTES;
  if (record_offset < tail_begin || record_offset > locator_offset || locator_offset - record_offset < END64_BYTES) {
    return 0;
  }
  const unsigned char* record = tail + (record_offset - tail_begin);
  if (u32(record) != END64_SIGNATURE || u32(record + 16) != 0 || u32(record + 20) != 0) return 0;
  if (u64(record + 24) != u64(record + 32)) return 0;  // entries on this disk, entries in all
  place->entries = u64(record + 32);
  place->size = u64(record + 40);
  place->offset = u64(record + 48);
  *records_begin = record_offset;
  return 1;
}

bool valid_name(const char* name, size_t bytes, bool is_folder) {
  if (bytes == 0 || bytes > ZIP_NAME_LIMIT || name[0] == '/') return false;
  size_t end = is_folder ? bytes - 1 : bytes;  // a folder's one trailing '/'
  size_t part = 0;
  for (size_t i = 0; i <= end; ++i) {
    char c = i < end ? name[i] : '/';
    if (c == '\0' || c == '\\' || c == ':') return false;
    if (c != '/') continue;
    size_t length = i - part;
    if (length == 0 || (length == 1 && name[part] == '.') ||
        (length == 2 && name[part] == '.' && name[part + 1] == '.')) {
      return false;
    }
    part = i + 1;
  }
  return true;
}

// The 64-bit figures of the zip64 extra field, in the order the fixed fields that hold
// 0xFFFFFFFF name them.
bool read_zip64_extra(const unsigned char* extra, size_t bytes, zip_entry* entry, bool wide_uncompressed,
                      bool wide_compressed, bool wide_offset) {
  if (!wide_uncompressed && !wide_compressed && !wide_offset) return true;
  for (size_t at = 0; at + 4 <= bytes;) {
    uint16_t id = u16(extra + at);
    size_t size = u16(extra + at + 2);
    if (at + 4 + size > bytes) return false;
    if (id == ZIP64_EXTRA) {
      const unsigned char* field = extra + at + 4;
      size_t used = 0;
      uint64_t* wanted[3] = {wide_uncompressed ? &entry->uncompressed_size : nullptr,
                             wide_compressed ? &entry->compressed_size : nullptr,
                             wide_offset ? &entry->local_offset : nullptr};
      for (uint64_t* value : wanted) {
        if (value == nullptr) continue;
        if (used + 8 > size) return false;
        *value = u64(field + used);
        used += 8;
      }
      return true;
    }
    at += 4 + size;
  }
  return false;
}

// One central record at bytes[0..left): 0 when it breaks a rule, else its length.
size_t read_entry(const unsigned char* record, size_t left, uint64_t data_end, zip_entry* entry) {
  if (left < CENTRAL_BYTES || u32(record) != CENTRAL_SIGNATURE) return 0;
  size_t name_bytes = u16(record + 28);
  size_t extra_bytes = u16(record + 30);
  size_t comment_bytes = u16(record + 32);
  size_t length = CENTRAL_BYTES + name_bytes + extra_bytes + comment_bytes;
  if (length > left) return 0;
  uint16_t made_by_host = static_cast<uint16_t>(u16(record + 4) >> 8);
  uint16_t flags = u16(record + 8);
  entry->record = record;
  entry->record_bytes = length;
  entry->method = u16(record + 10);
  entry->crc32 = u32(record + 16);
  entry->dos_time = u32(record + 12);
  entry->made_by = u16(record + 4);
  entry->external_attributes = u32(record + 38);
  entry->compressed_size = u32(record + 20);
  entry->uncompressed_size = u32(record + 24);
  entry->local_offset = u32(record + 42);
  entry->name = reinterpret_cast<const char*>(record + CENTRAL_BYTES);
  entry->name_bytes = name_bytes;
  entry->is_folder = name_bytes > 0 && entry->name[name_bytes - 1] == '/';
  uint32_t unix_type = (u32(record + 38) >> 16) & UNIX_TYPE_MASK;
  if ((flags & (FLAG_ENCRYPTED | FLAG_STRONG_ENCRYPTION)) != 0 || u16(record + 34) != 0) return 0;
  if (entry->method != 0 && entry->method != 8) return 0;
  if (made_by_host == HOST_UNIX && unix_type != 0 && unix_type != (entry->is_folder ? UNIX_FOLDER : UNIX_REGULAR)) {
    return 0;  // a link, a device, a FIFO, or a type that contradicts the name
  }
  if (!valid_name(entry->name, name_bytes, entry->is_folder)) return 0;
  if (!read_zip64_extra(record + CENTRAL_BYTES + name_bytes, extra_bytes, entry,
                        entry->uncompressed_size == 0xFFFFFFFFu, entry->compressed_size == 0xFFFFFFFFu,
                        entry->local_offset == 0xFFFFFFFFu)) {
    return 0;
  }
  if (entry->method == 0 && entry->compressed_size != entry->uncompressed_size) return 0;
  if (entry->is_folder && entry->uncompressed_size != 0) return 0;
  // The local header and the data lie before the central directory.
  if (entry->local_offset > data_end || data_end - entry->local_offset < LOCAL_BYTES + name_bytes ||
      data_end - entry->local_offset - LOCAL_BYTES - name_bytes < entry->compressed_size) {
    return 0;
  }
  return length;
}

void put16(unsigned char* p, uint64_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint64_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, (v >> 16) & 0xFFFF);
}
void put64(unsigned char* p, uint64_t v) {
  put32(p, v & 0xFFFFFFFFu);
  put32(p + 4, v >> 32);
}

constexpr uint16_t FLAG_UTF8 = 0x0800;
constexpr uint16_t VERSION_ZIP64 = 45;
constexpr uint16_t VERSION_PLAIN = 20;
constexpr uint32_t WIDE = 0xFFFFFFFFu;

// Which figures of an entry need the zip64 field: its sizes, and in the directory its offset.
struct wide_figures {
  bool uncompressed;
  bool compressed;
  bool offset;
  size_t extra_bytes() const { return uncompressed || compressed || offset ? 4 + 8 * count() : 0; }
  size_t count() const { return size_t{uncompressed} + size_t{compressed} + size_t{offset}; }
};

// A local header's zip64 field holds both sizes when either needs it.
wide_figures wide_of(const zip_entry* entry, uint64_t offset, bool in_directory) {
  bool uncompressed = entry->uncompressed_size >= WIDE;
  bool compressed = entry->compressed_size >= WIDE;
  if (!in_directory) return {uncompressed || compressed, uncompressed || compressed, false};
  return {uncompressed, compressed, offset >= WIDE};
}

// The zip64 extra field with the figures that need it, in the order the format gives them.
unsigned char* put_zip64_extra(unsigned char* p, const wide_figures& wide, const zip_entry* entry, uint64_t offset) {
  if (wide.extra_bytes() == 0) return p;
  put16(p, ZIP64_EXTRA);
  put16(p + 2, 8 * wide.count());
  p += 4;
  if (wide.uncompressed) put64(p, entry->uncompressed_size), p += 8;
  if (wide.compressed) put64(p, entry->compressed_size), p += 8;
  if (wide.offset) put64(p, offset), p += 8;
  return p;
}

// The fields local headers and central records share, from "version needed" to the name length.
void put_common_fields(unsigned char* p, const zip_entry* entry, const wide_figures& wide) {
  put16(p, wide.extra_bytes() != 0 ? VERSION_ZIP64 : VERSION_PLAIN);
  put16(p + 2, FLAG_UTF8);
  put16(p + 4, entry->method);
  put32(p + 6, entry->dos_time);
  put32(p + 10, entry->crc32);
  put32(p + 14, wide.compressed ? WIDE : entry->compressed_size);
  put32(p + 18, wide.uncompressed ? WIDE : entry->uncompressed_size);
  put16(p + 22, entry->name_bytes);
  put16(p + 24, wide.extra_bytes());
}

size_t merge(const zip_span* sorted, size_t count, uint64_t gap, zip_span* ranges) {
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    if (used > 0 && (sorted[i].begin <= ranges[used - 1].end || sorted[i].begin - ranges[used - 1].end <= gap)) {
      ranges[used - 1].end = std::max(ranges[used - 1].end, sorted[i].end);
    } else {
      ranges[used++] = sorted[i];
    }
  }
  return used;
}
}  // namespace

int zip_locate_directory(const unsigned char* tail, size_t tail_size, uint64_t archive_size,
                         zip_directory_place* place) {
  if (tail == nullptr || tail_size < END_BYTES || tail_size > archive_size) return 0;
  // The end record is the last one whose comment runs exactly to the end of the archive.
  size_t end_at = tail_size - END_BYTES;
  for (;; --end_at) {
    if (u32(tail + end_at) == END_SIGNATURE && end_at + END_BYTES + u16(tail + end_at + 20) == tail_size) break;
    if (end_at == 0 || tail_size - end_at > END_BYTES + 65535) return 0;
  }
  const unsigned char* end = tail + end_at;
  if (u16(end + 4) != 0 || u16(end + 6) != 0 || u16(end + 8) != u16(end + 10)) return 0;  // one disk only
  place->entries = u16(end + 10);
  place->size = u32(end + 12);
  place->offset = u32(end + 16);
  uint64_t records_begin = archive_size - tail_size + end_at;
  if (place->entries == 0xFFFF || place->size == 0xFFFFFFFFu || place->offset == 0xFFFFFFFFu) {
    if (!read_end64(tail, tail_size, archive_size, end_at, place, &records_begin)) return 0;
  }
  if (place->entries > ZIP_ENTRIES_LIMIT || place->size > ZIP_DIRECTORY_LIMIT) return 0;
  if (place->entries > place->size / CENTRAL_BYTES) return 0;
  return place->offset <= records_begin && place->size <= records_begin - place->offset;
}

int zip_read_directory(const unsigned char* bytes, const zip_directory_place* place,
                       int (*visit)(const zip_entry* entry, void* context), void* context) {
  size_t size = static_cast<size_t>(place->size);
  size_t at = 0;
  for (uint64_t i = 0; i < place->entries; ++i) {
    zip_entry entry;
    size_t length = read_entry(bytes + at, size - at, place->offset, &entry);
    if (length == 0 || !visit(&entry, context)) return 0;
    at += length;
  }
  return at == size;
}

size_t zip_plan_ranges(zip_span* spans, size_t count, uint64_t gap_bytes, size_t max_ranges, zip_span* ranges) {
  if (count == 0) return 0;
  std::sort(spans, spans + count, [](const zip_span& a, const zip_span& b) { return a.begin < b.begin; });
  uint64_t gap = gap_bytes;
  size_t used = merge(spans, count, gap, ranges);
  while (max_ranges > 0 && used > max_ranges) {
    gap = gap == 0 ? 1 : (gap > UINT64_MAX / 2 ? UINT64_MAX : gap * 2);
    used = merge(spans, count, gap, ranges);
  }
  return used;
}

int zip_local_record_matches(const unsigned char* local, uint64_t bytes, const zip_entry* entry) {
  if (bytes < LOCAL_BYTES || u32(local) != LOCAL_SIGNATURE) return 0;
  uint64_t name_bytes = u16(local + 26);
  uint64_t header = LOCAL_BYTES + name_bytes + u16(local + 28);
  if (name_bytes != entry->name_bytes || header > bytes || bytes - header < entry->compressed_size) return 0;
  return memcmp(local + LOCAL_BYTES, entry->name, entry->name_bytes) == 0;
}

size_t zip_own_local_header_bytes(const zip_entry* entry) {
  return LOCAL_BYTES + entry->name_bytes + wide_of(entry, 0, false).extra_bytes();
}

size_t zip_write_own_local_header(const zip_entry* entry, unsigned char* out) {
  wide_figures wide = wide_of(entry, 0, false);
  put32(out, LOCAL_SIGNATURE);
  put_common_fields(out + 4, entry, wide);
  memcpy(out + LOCAL_BYTES, entry->name, entry->name_bytes);
  return static_cast<size_t>(put_zip64_extra(out + LOCAL_BYTES + entry->name_bytes, wide, entry, 0) - out);
}

uint64_t zip_own_directory_bound(const zip_entry* entries, size_t count) {
  uint64_t bytes = END_BYTES + END64_BYTES + END64_LOCATOR_BYTES;
  for (size_t i = 0; i < count; ++i) bytes += CENTRAL_BYTES + entries[i].name_bytes + 4 + 3 * 8;
  return bytes;
}

size_t zip_write_directory(const zip_entry* entries, const uint64_t* new_offsets, size_t count,
                           uint64_t directory_offset, unsigned char* out, size_t capacity) {
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    const zip_entry* entry = &entries[i];
    wide_figures wide = wide_of(entry, new_offsets[i], true);
    size_t record_bytes = CENTRAL_BYTES + entry->name_bytes + wide.extra_bytes();
    if (record_bytes > capacity - used || new_offsets[i] > directory_offset) return 0;
    unsigned char* p = out + used;
    memset(p, 0, CENTRAL_BYTES);
    put32(p, CENTRAL_SIGNATURE);
    put16(p + 4, entry->made_by);
    put_common_fields(p + 6, entry, wide);
    put32(p + 38, entry->external_attributes);
    put32(p + 42, wide.offset ? WIDE : new_offsets[i]);
    memcpy(p + CENTRAL_BYTES, entry->name, entry->name_bytes);
    put_zip64_extra(p + CENTRAL_BYTES + entry->name_bytes, wide, entry, new_offsets[i]);
    used += record_bytes;
  }
  uint64_t directory_size = used;
  bool wide = count >= 0xFFFF || directory_offset >= 0xFFFFFFFFu || directory_size >= 0xFFFFFFFFu;
  size_t end_bytes = END_BYTES + (wide ? END64_BYTES + END64_LOCATOR_BYTES : 0);
  if (end_bytes > capacity - used) return 0;
  unsigned char* p = out + used;
  memset(p, 0, end_bytes);
  if (wide) {
    put32(p, END64_SIGNATURE);
    put64(p + 4, END64_BYTES - 12);
    put16(p + 12, 45);
    put16(p + 14, 45);
    put64(p + 24, count);
    put64(p + 32, count);
    put64(p + 40, directory_size);
    put64(p + 48, directory_offset);
    p += END64_BYTES;
    put32(p, END64_LOCATOR_SIGNATURE);
    put64(p + 8, directory_offset + directory_size);
    put32(p + 16, 1);
    p += END64_LOCATOR_BYTES;
  }
  put32(p, END_SIGNATURE);
  put16(p + 8, count >= 0xFFFF ? 0xFFFF : count);
  put16(p + 10, count >= 0xFFFF ? 0xFFFF : count);
  put32(p + 12, directory_size >= 0xFFFFFFFFu ? 0xFFFFFFFFu : directory_size);
  put32(p + 16, directory_offset >= 0xFFFFFFFFu ? 0xFFFFFFFFu : directory_offset);
  return used + end_bytes;
}
