#include "accounts/platform.h"

#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "core/journal.h"
#include "core/status.h"
#include "core/text.h"

// A game that did not start fetches nothing: the account queued for it is wiped.
int launch_game() {
  static wchar_t path[PATH_UNITS];
  join_path(path, g_client, L"Tarvo.exe");
  if (!game_file_exists(path)) {
    clear_bridge_queue();
    return 0;
  }
  uint32_t error = 0;
  if (!start_game_process(path, g_client, &error)) {
    clear_bridge_queue();
    wchar_t line[512];
    text_builder builder = start_text(line, sizeof line / sizeof line[0]);
    builder_append(&builder, L"Echec ouverture Tarvo.exe ");
    builder_append_error_code(&builder, error);
    builder_append_char(&builder, L'.');
    write_log(line);
    return 0;
  }
  set_status(L"Jeu lance. Le launcher reste disponible.");
  return 1;
}
