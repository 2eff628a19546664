#include "install/activation.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/crash_point.h"
#include "core/journal.h"
#include "core/os.h"
#include "core/status.h"
#include "core/text.h"
#include "install/platform.h"
#include "install/processes.h"

namespace {
// "<text before>(<label> <code>)<text after>" into the failure buffer.
void format_failure(wchar_t* failure, const wchar_t* before, uint32_t code, const wchar_t* after) {
  text_builder text = start_text(failure, FAILURE_TEXT_UNITS);
  builder_append(&text, before);
  builder_append_error_code(&text, code);
  builder_append(&text, after);
}

void append_hex8(text_builder* text, uint32_t value) {
  static const wchar_t digits[] = L"0123456789abcdef";
  for (int shift = 28; shift >= 0; shift -= 4) builder_append_char(text, digits[(value >> shift) & 0xF]);
}

// Before the swap: the staging folder is still there, the client's programs are closed, and
// the old client (if any) is moved aside into rollback. 1 to go on; 0 with the failure text.
int move_old_client_aside(const wchar_t* staging, wchar_t* failure, wchar_t* rollback) {
  int is_folder = 0;
  uint32_t error = 0;
  if (!examine_entry(staging, &is_folder, &error) || !is_folder) {
    write_log(L"Le dossier Client.new valide est introuvable au moment de l'activation.");
    copy_text(failure, FAILURE_TEXT_UNITS,
              L"Le client valide n'est plus disponible. Relancez le launcher pour le verifier.");
    return 0;
  }

  set_status(L"Fermeture de l'ancienne version Vorna380 avant activation...");
  crash_point("after-status-closing-processes");
  close_client_processes();

  if (!examine_entry(g_client, &is_folder, &error)) {
    if (error_means_missing(error)) return 1;
    log_windows_error(L"Controle du client actif impossible", error);
    format_failure(failure, L"Impossible de controler l'ancien client ", error, L".");
    return 0;
  }
  if (!is_folder) {
    write_log(L"Le chemin Client actif existe mais n'est pas un dossier.");
    copy_text(failure, FAILURE_TEXT_UNITS, L"Le chemin du client actif est invalide. Aucun fichier n'a ete remplace.");
    return 0;
  }
  wchar_t name[ROLLBACK_NAME_UNITS];
  rollback_name(os_system_time_1601(), own_process_id(), name);
  join_path(rollback, g_root, name);
  uint32_t activation_error = 0;
  if (!move_directory_with_retry(g_client, rollback, L"Mise en securite de l'ancien client impossible",
                                 &activation_error)) {
    rollback[0] = L'\0';
    format_failure(failure, L"Activation bloquee par l'ancien client ", activation_error,
                   L". Le client valide est conserve pour une nouvelle tentative.");
    return 0;
  }
  crash_point("between-activation-moves");
  return 1;
}

// The swap failed after the old client went aside: it is moved back, or named in the journal.
int restore_old_client(wchar_t* failure, wchar_t* rollback, uint32_t activation_error) {
  uint32_t restore_error = 0;
  if (move_directory_with_retry(rollback, g_client, L"Restauration de l'ancien client impossible", &restore_error)) {
    rollback[0] = L'\0';
    format_failure(failure, L"Activation interrompue ", activation_error,
                   L". L'ancien client a ete restaure et le client valide est conserve.");
    return 0;
  }
  // The text sends the player to the journal: the old client's only copy is named here.
  write_log_with_path(L"Dossier de secours de l'ancien client: ", rollback);
  text_builder text = start_text(failure, FAILURE_TEXT_UNITS);
  builder_append(&text, L"Activation interrompue (erreur ");
  builder_append_uint(&text, activation_error, 1);
  builder_append(&text, L") et restauration bloquee (erreur ");
  builder_append_uint(&text, restore_error, 1);
  builder_append(&text, L"). Le dossier de secours est conserve dans le journal.");
  return 0;
}

int activate(const wchar_t* staging, wchar_t* failure, wchar_t* rollback, int shares_files) {
  rollback[0] = L'\0';
  if (!move_old_client_aside(staging, failure, rollback)) return 0;
  uint32_t activation_error = 0;
  if (move_directory_with_retry(staging, g_client, L"Activation du nouveau client impossible", &activation_error)) {
    crash_point("after-activation-move");
    if (rollback[0] != L'\0' && shares_files) {
      write_log_with_path(
          L"Ancien client conserve comme dossier de retour; ses fichiers inchanges sont les memes "
          L"fichiers que ceux du client actif (liens physiques, pas une copie): ",
          rollback);
    } else if (rollback[0] != L'\0') {
      write_log_with_path(L"Ancien client conserve comme sauvegarde locale: ", rollback);
    }
    return 1;
  }
  if (rollback[0] == L'\0') {
    format_failure(failure, L"Activation interrompue ", activation_error,
                   L". Le client valide est conserve pour une nouvelle tentative.");
    return 0;
  }
  return restore_old_client(failure, rollback, activation_error);
}
}  // namespace

int activate_staged_client(const wchar_t* staging, wchar_t failure[FAILURE_TEXT_UNITS], int shares_files) {
  set_status(L"Installation de la release validee...");
  crash_point("after-status-activation");
  failure[0] = L'\0';
  // The rollback path, on the heap: a path buffer is too large for the worker's stack.
  wchar_t* rollback = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (rollback == nullptr) {
    copy_text(failure, FAILURE_TEXT_UNITS, L"Memoire insuffisante pour l'activation. Aucun fichier n'a ete remplace.");
    return 0;
  }
  int activated = activate(staging, failure, rollback, shares_files);
  free(rollback);
  return activated;
}

int move_directory_with_retry(const wchar_t* source, const wchar_t* destination, const wchar_t* label,
                              uint32_t* error) {
  uint32_t code = 0;
  for (uint32_t attempts_left = MOVE_ATTEMPTS; attempts_left > 0;) {
    if (rename_entry_once(source, destination, &code)) {
      *error = 0;
      return 1;
    }
    if (!move_error_is_retryable(code)) break;
    os_sleep_ms(MOVE_RETRY_PAUSE_MS);
    --attempts_left;
  }
  *error = code;
  log_windows_error(label, code);
  return 0;
}

void rollback_name(uint64_t system_time, uint32_t process_id, wchar_t name[ROLLBACK_NAME_UNITS]) {
  text_builder text = start_text(name, ROLLBACK_NAME_UNITS);
  builder_append(&text, L"Client.rollback.");
  append_hex8(&text, static_cast<uint32_t>(system_time >> 32));
  append_hex8(&text, static_cast<uint32_t>(system_time));
  builder_append_char(&text, L'.');
  builder_append_uint(&text, process_id, 1);
}
