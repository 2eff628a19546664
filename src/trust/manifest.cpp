#include "trust/manifest.h"

#include <cstring>
#include <cwchar>

#include "core/os.h"
#include "core/text.h"
#include "release_profile.h"
#include "trust/utc_time.h"

namespace {
constexpr int64_t SECONDS_1601_TO_1970 = 11644473600;
const char k_magic[] = "VORNA380-RELEASE-V1\n";

int begins_with(const wchar_t* text, const wchar_t* prefix) { return wcsncmp(text, prefix, wcslen(prefix)) == 0; }

// Leading white space and a plus sign are accepted and overflow saturates, as _wcstoui64
// does. A minus sign is not: _wcstoui64 would wrap "-1" round to an enormous size, and a
// negative number is no byte count. Sets *end to the first unconverted character.
uint64_t parse_unsigned(const wchar_t* text, const wchar_t** end) {
  const wchar_t* p = text;
  while (*p == L' ' || (*p >= L'\t' && *p <= L'\r')) ++p;
  if (*p == L'+') ++p;
  if (*p < L'0' || *p > L'9') {
    *end = text;
    return 0;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    uint64_t digit = static_cast<uint64_t>(*p - L'0');
    if (value > (UINT64_MAX - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  *end = p;
  return overflow ? UINT64_MAX : value;
}
}  // namespace

int valid_hex64(const wchar_t* text) {
  for (int i = 0; i < 64; ++i) {
    wchar_t c = text[i];
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return 0;
  }
  return text[64] == L'\0';
}

namespace {
// The value of the first line "key=...", up to the next line feed or the end of the text, or
// null when no line starts with the key.
const char* find_manifest_value(const char* text, const char* key, size_t* bytes) {
  size_t key_length = strlen(key);
  const char* line = text;
  while (*line != '\0') {
    if (strncmp(line, key, key_length) == 0 && line[key_length] == '=') {
      const char* value = line + key_length + 1;
      const char* value_end = strchr(value, '\n');
      *bytes = value_end != nullptr ? static_cast<size_t>(value_end - value) : strlen(value);
      return value;
    }
    const char* next = strchr(line, '\n');
    if (next == nullptr) return nullptr;
    line = next + 1;
  }
  return nullptr;
}

// An absent "sequence" leaves 0; a present one must be 1 to 19 digits worth at least 1.
int parse_sequence(const char* text, uint64_t* sequence) {
  size_t bytes = 0;
  const char* value = find_manifest_value(text, "sequence", &bytes);
  *sequence = 0;
  if (value == nullptr) return 1;
  if (bytes == 0 || bytes > SEQUENCE_DIGITS_MAX) return 0;
  uint64_t number = 0;
  for (size_t i = 0; i < bytes; ++i) {
    if (value[i] < '0' || value[i] > '9') return 0;
    number = number * 10 + static_cast<uint64_t>(value[i] - '0');  // 19 digits never overflow
  }
  *sequence = number;
  return number >= 1;
}

// An absent "expires" leaves NO_EXPIRY; a present one must be a well-formed UTC time.
int parse_expiry(const char* text, int64_t* expires) {
  size_t bytes = 0;
  const char* value = find_manifest_value(text, "expires", &bytes);
  *expires = NO_EXPIRY;
  return value == nullptr || parse_utc_time(value, bytes, expires);
}
}  // namespace

int copy_manifest_value(wchar_t* output, size_t capacity, const char* text, const char* key) {
  if (text == nullptr || capacity == 0) return 0;
  size_t bytes = 0;
  const char* value = find_manifest_value(text, key, &bytes);
  if (value == nullptr || bytes == 0 || bytes >= capacity) return 0;
  size_t units = utf8_to_wide(value, bytes, output, capacity - 1);
  if (units == 0) return 0;
  output[units] = L'\0';
  return 1;
}

namespace {
void parse_linux_launcher(const char* text, release_manifest* manifest) {
  bool valid = copy_manifest_value(manifest->launcher_linux_url, 2048, text, "launcher_linux_url") &&
               copy_manifest_value(manifest->launcher_linux_sha256, 65, text, "launcher_linux_sha256") &&
               begins_with(manifest->launcher_linux_url, VORNA380_RELEASE_ORIGIN) &&
               valid_hex64(manifest->launcher_linux_sha256);
  if (!valid) {
    manifest->launcher_linux_url[0] = L'\0';
    manifest->launcher_linux_sha256[0] = L'\0';
  }
}
}  // namespace

int parse_manifest(const char* text, release_manifest* manifest) {
  if (text == nullptr || strncmp(text, k_magic, sizeof k_magic - 1) != 0) return 0;
  wchar_t size_text[32];
  if (!copy_manifest_value(manifest->version, 65, text, "version") ||
      !copy_manifest_value(manifest->package_url, 2048, text, "package_url") ||
      !copy_manifest_value(size_text, 32, text, "package_size") ||
      !copy_manifest_value(manifest->package_sha256, 65, text, "package_sha256") ||
      !copy_manifest_value(manifest->integrity_sha256, 65, text, "integrity_sha256") ||
      !copy_manifest_value(manifest->game_executable, 128, text, "game_executable") ||
      !copy_manifest_value(manifest->launcher_url, 2048, text, "launcher_url") ||
      !copy_manifest_value(manifest->launcher_sha256, 65, text, "launcher_sha256")) {
    return 0;
  }
  const wchar_t* end = nullptr;
  manifest->package_size = parse_unsigned(size_text, &end);
  if (manifest->package_size <= 99999999 || *end != L'\0') return 0;
  if (!parse_sequence(text, &manifest->sequence) || !parse_expiry(text, &manifest->expires)) return 0;
  if (!begins_with(manifest->package_url, VORNA380_RELEASE_ORIGIN)) return 0;
  if (!begins_with(manifest->launcher_url, VORNA380_RELEASE_ORIGIN)) return 0;
  if (!valid_hex64(manifest->package_sha256) || !valid_hex64(manifest->integrity_sha256) ||
      !valid_hex64(manifest->launcher_sha256)) {
    return 0;
  }
  parse_linux_launcher(text, manifest);
  return wcscmp(manifest->game_executable, L"Tarvo.exe") == 0;
}

int manifest_expiry_missing(const release_manifest* manifest) {
  return VORNA380_RELEASE_EXPIRY_REQUIRED && manifest->expires == NO_EXPIRY;
}

int manifest_expired_at(const release_manifest* manifest, int64_t now) {
  return manifest_expiry_missing(manifest) || now > manifest->expires;
}

int manifest_expired(const release_manifest* manifest, int64_t* now) {
  // A clock that cannot be read counts as late as can be: every expiring manifest is refused.
  uint64_t ticks = os_system_time_1601();
  *now = ticks == 0 ? INT64_MAX : static_cast<int64_t>(ticks / 10000000) - SECONDS_1601_TO_1970;
  return manifest_expired_at(manifest, *now);
}
