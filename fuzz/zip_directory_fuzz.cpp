// libFuzzer entry: arbitrary bytes as a whole package read from its end. Whatever the reader
// accepts must lie inside the bytes, obey the name rules, and make a smaller zip that reads
// back to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transfer/zip_directory.h"

namespace {
int keep(const zip_entry* entry, void* context) {
  static_cast<std::vector<zip_entry>*>(context)->push_back(*entry);
  return 1;
}

bool read(const uint8_t* data, size_t size, zip_directory_place* place, std::vector<zip_entry>* entries) {
  size_t tail = size < ZIP_TAIL_BYTES ? size : ZIP_TAIL_BYTES;
  if (!zip_locate_directory(data + size - tail, tail, size, place)) return false;
  if (place->offset + place->size > size) abort();
  return zip_read_directory(data + place->offset, place, keep, entries);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zip_directory_place place;
  std::vector<zip_entry> entries;
  if (!read(data, size, &place, &entries)) return 0;
  std::vector<uint64_t> offsets;
  for (const zip_entry& e : entries) {
    if (e.name_bytes == 0 || e.name[0] == '/' || memchr(e.name, '\\', e.name_bytes) != nullptr) abort();
    if (e.local_offset > place.offset || place.offset - e.local_offset < e.compressed_size) abort();
    offsets.push_back(e.local_offset);
  }
  // The same records at the same places: a directory that reads back alike.
  std::vector<uint8_t> rebuilt(data, data + place.offset);
  std::vector<uint8_t> directory(zip_own_directory_bound(entries.data(), entries.size()));
  size_t written = zip_write_directory(entries.data(), offsets.data(), entries.size(), place.offset, directory.data(),
                                       directory.size());
  if (written == 0) abort();
  rebuilt.insert(rebuilt.end(), directory.begin(), directory.begin() + written);
  zip_directory_place again;
  std::vector<zip_entry> reread;
  if (!read(rebuilt.data(), rebuilt.size(), &again, &reread) || reread.size() != entries.size()) abort();
  for (size_t i = 0; i < entries.size(); ++i) {
    const zip_entry& a = reread[i];
    const zip_entry& b = entries[i];
    if (a.local_offset != b.local_offset || a.name_bytes != b.name_bytes || memcmp(a.name, b.name, a.name_bytes) != 0 ||
        a.compressed_size != b.compressed_size || a.uncompressed_size != b.uncompressed_size || a.crc32 != b.crc32 ||
        a.method != b.method) {
      abort();
    }
  }
  return 0;
}
