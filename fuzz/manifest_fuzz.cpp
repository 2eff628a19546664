// libFuzzer entry: arbitrary bytes as a manifest text. The parser reads the text up to its
// first zero byte, so the input is copied and terminated the way read_file hands it over.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/text.h"
#include "trust/manifest.h"
#include "trust/utc_time.h"

namespace {
// An accepted expiry time written out again reads back as the same second.
bool expiry_round_trips(int64_t expires) {
  if (expires == NO_EXPIRY) return true;
  wchar_t text[UTC_TIME_UNITS];
  format_utc_time(expires, text);
  char bytes[UTC_TIME_UNITS];
  size_t count = wide_to_utf8(text, wcslen(text), bytes, sizeof bytes);
  int64_t again = 0;
  return parse_utc_time(bytes, count, &again) && again == expires;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > MANIFEST_LIMIT) return 0;
  char* text = static_cast<char*>(malloc(size + 1));
  release_manifest* record = static_cast<release_manifest*>(calloc(1, sizeof(release_manifest)));
  if (text != nullptr && record != nullptr) {
    memcpy(text, data, size);
    text[size] = '\0';
    if (parse_manifest(text, record)) {
      // An accepted manifest has every field terminated within its capacity and obeys the
      // rules the installer relies on.
      if (wcsnlen(record->version, 65) == 65 || wcsnlen(record->package_url, 2048) == 2048 ||
          wcsnlen(record->game_executable, 128) == 128 || wcsnlen(record->launcher_url, 2048) == 2048 ||
          !valid_hex64(record->package_sha256) || !valid_hex64(record->integrity_sha256) ||
          !valid_hex64(record->launcher_sha256) || record->package_size <= 99999999 ||
          wcscmp(record->game_executable, L"Tarvo.exe") != 0 || strncmp(text, "VORNA380-RELEASE-V1\n", 20) != 0 ||
          !expiry_round_trips(record->expires)) {
        abort();
      }
    }
  }
  free(record);
  free(text);
  return 0;
}
