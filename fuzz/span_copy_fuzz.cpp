// libFuzzer entry: arbitrary bytes as a package whose every entry is fetched, handed over in
// pieces of sizes taken from the input. Whatever is accepted must be exactly each entry's own
// local header followed by its compressed bytes, in order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "install/span_copy.h"
#include "transfer/zip_directory.h"

namespace {
int keep(const zip_entry* entry, void* context) {
  static_cast<std::vector<zip_entry>*>(context)->push_back(*entry);
  return 1;
}

int collect(void* context, const unsigned char* bytes, size_t count) {
  std::vector<unsigned char>* out = static_cast<std::vector<unsigned char>*>(context);
  out->insert(out->end(), bytes, bytes + count);
  return 1;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t piece = 1 + data[0] % 64;  // the first byte chooses the pieces' size
  zip_directory_place place;
  std::vector<zip_entry> entries;
  size_t tail = size < ZIP_TAIL_BYTES ? size : ZIP_TAIL_BYTES;
  if (!zip_locate_directory(data + size - tail, tail, size, &place) ||
      !zip_read_directory(data + place.offset, &place, keep, &entries)) {
    return 0;
  }
  std::sort(entries.begin(), entries.end(),
            [](const zip_entry& a, const zip_entry& b) { return a.local_offset < b.local_offset; });
  std::vector<zip_span> spans;
  uint64_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    uint64_t end = i + 1 < entries.size() ? entries[i + 1].local_offset : place.offset;
    spans.push_back({entries[i].local_offset, end});
    total += span_copy_entry_bytes(&entries[i]);
  }
  if (entries.empty()) return 0;
  std::vector<unsigned char> header(ZIP_LOCAL_HEADER_LIMIT);
  std::vector<unsigned char> out;
  span_copy copy = start_span_copy(entries.data(), spans.data(), spans.size(), collect, &out, header.data());
  if (!span_copy_resume_at(&copy, spans[0].begin)) abort();
  bool taken = true;
  for (uint64_t at = spans[0].begin; at < place.offset && taken; at += piece) {
    size_t count = static_cast<size_t>(std::min<uint64_t>(piece, place.offset - at));
    taken = take_span_bytes(&copy, data + at, count);
  }
  if (!taken || !span_copy_done(&copy)) return 0;
  if (out.size() != total) abort();
  uint64_t from = 0;
  std::vector<unsigned char> own(ZIP_OWN_LOCAL_HEADER_LIMIT);
  for (size_t i = 0; i < entries.size(); ++i) {
    uint64_t bytes = span_copy_entry_bytes(&entries[i]);
    size_t own_bytes = zip_write_own_local_header(&entries[i], own.data());
    if (memcmp(out.data() + from, own.data(), own_bytes) != 0) abort();
    if (!zip_local_record_matches(out.data() + from, bytes, &entries[i])) abort();
    from += bytes;
  }
  return 0;
}
