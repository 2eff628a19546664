#include "startup/build_number.h"

#include <cstdlib>
#include <cstring>

#include "launcher_build.h"
#include "core/paths.h"

namespace {
constexpr char k_prefix[] = "VORNA380-BUILD-NUMBER:";
constexpr size_t PREFIX_BYTES = sizeof k_prefix - 1;
constexpr size_t DIGITS = 10;
constexpr uint32_t LAUNCHER_FILE_LIMIT = 268435456;

// Kept in the executable whatever the optimiser does: own_build_number reads it.
extern const char k_marker[];
const char k_marker[] = VORNA380_BUILD_MARKER;

// The ten digits and ';' after a prefix at text: 1 with their value.
bool marked_number(const char* text, uint32_t* number) {
  uint64_t value = 0;
  for (size_t i = 0; i < DIGITS; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  if (text[DIGITS] != ';' || value > UINT32_MAX) return false;
  *number = static_cast<uint32_t>(value);
  return true;
}
}  // namespace

uint32_t own_build_number() {
  uint32_t number = 0;
  find_build_number(k_marker, static_cast<uint32_t>(strlen(k_marker)), &number);
  return number;
}

int find_build_number(const char* bytes, uint32_t count, uint32_t* number) {
  size_t whole = PREFIX_BYTES + DIGITS + 1;
  for (size_t at = 0; at + whole <= count; ++at) {
    const void* found = memchr(bytes + at, 'V', count - at);
    if (found == nullptr) return 0;
    at = static_cast<size_t>(static_cast<const char*>(found) - bytes);
    if (at + whole > count) return 0;
    if (memcmp(bytes + at, k_prefix, PREFIX_BYTES) == 0 && marked_number(bytes + at + PREFIX_BYTES, number)) return 1;
  }
  return 0;
}

int read_build_number(const wchar_t* path, uint32_t* number) {
  uint32_t length = 0;
  char* bytes = read_file(path, LAUNCHER_FILE_LIMIT, &length);
  if (bytes == nullptr) return 0;
  int found = find_build_number(bytes, length, number);
  free(bytes);
  return found;
}
