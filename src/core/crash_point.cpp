// Test builds only: the check behind crash_point (crash_point.h).
#include "core/crash_point.h"

#ifdef VORNA380_CRASH_POINTS
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/platform.h"

namespace {
// Read once: the points are fixed for the life of the process.
const char* point_to_kill() {
  static const char* chosen = getenv("VORNA380_CRASH_AT");
  return chosen;
}
const char* point_to_pause() {
  static const char* chosen = getenv("VORNA380_PAUSE_AT");
  return chosen;
}

// chosen is name, or "<name>:<file>" when file is given. Point names are ASCII: the file's
// name is compared unit by unit.
bool is_point(const char* chosen, const char* name, const wchar_t* file) {
  if (chosen == nullptr) return false;
  if (file == nullptr) return strcmp(chosen, name) == 0;
  size_t length = strlen(name);
  if (strncmp(chosen, name, length) != 0 || chosen[length] != ':') return false;
  const char* wanted = chosen + length + 1;
  while (*wanted != '\0' && static_cast<wchar_t>(static_cast<unsigned char>(*wanted)) == *file) ++wanted, ++file;
  return *wanted == '\0' && *file == L'\0';
}

void pass_point(const char* name, const wchar_t* file) {
  if (is_point(point_to_kill(), name, file)) crash_now();
  if (is_point(point_to_pause(), name, file)) crash_pause();
}
}  // namespace

void crash_point(const char* name) { pass_point(name, nullptr); }

void crash_point_at_file(const char* name, const wchar_t* path) {
  const wchar_t* file = path;
  for (const wchar_t* at = path; *at != L'\0'; ++at) {
    if (*at == L'/' || *at == L'\\') file = at + 1;
  }
  pass_point(name, file);
}
#endif
