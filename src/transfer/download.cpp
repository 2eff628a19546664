#include "transfer/download.h"

#include "core/journal.h"
#include "core/os.h"
#include "core/text.h"

const wchar_t k_user_agent[] = L"Vorna380-Secure-Launcher/1.0";

namespace {
constexpr size_t ATTEMPT_LINE_UNITS = 192;

void journal_attempt(const wchar_t* before, unsigned attempt, const wchar_t* after) {
  wchar_t line[ATTEMPT_LINE_UNITS];
  text_builder builder = start_text(line, ATTEMPT_LINE_UNITS);
  builder_append(&builder, before);
  builder_append_uint(&builder, attempt, 1);
  builder_append(&builder, after);
  write_log(line);
}
}  // namespace

int download_small(const wchar_t* url, const wchar_t* destination) {
  for (unsigned attempt = 1; attempt <= DOWNLOAD_ATTEMPTS; ++attempt) {
    if (download_small_once(url, destination)) {
      if (attempt > 1) journal_attempt(L"Telechargement du manifeste retabli a la tentative ", attempt, L"/3.");
      return 1;
    }
    journal_attempt(L"Tentative reseau ", attempt, L"/3 echouee pour le manifeste securise.");
    if (attempt < DOWNLOAD_ATTEMPTS) os_sleep_ms(RETRY_PAUSE_MS * attempt);
  }
  return 0;
}
