#include "startup/startup.h"

#include <cwchar>

#include "accounts/accounts.h"
#include "core/crash_point.h"
#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "install/install_worker.h"
#include "install/launcher_update.h"
#include "startup/build_number.h"
#include "startup/entries.h"
#include "startup/platform.h"
#include "trust/digest.h"
#include "ui/window.h"

namespace {
const wchar_t k_already_open[] = L"Le launcher Vorna380 est deja ouvert.";
const wchar_t k_install_failed[] = L"Impossible d'installer le launcher dans le profil Windows.";
const wchar_t k_relaunch_failed[] = L"Le launcher installe ne peut pas etre relance.";
const wchar_t k_worker_failed[] = L"Impossible de demarrer la verification.";

// The paths are PATH_UNITS buffers of their own, so that no mode touches the other's.
wchar_t g_executable[PATH_UNITS];
wchar_t g_installed[PATH_UNITS];
wchar_t g_previous[PATH_UNITS];

int installation_failure() {
  close_instance_lock();
  show_startup_box(k_install_failed, BOX_ERROR);
  return 1;
}

// Puts the running executable in the installed launcher's place, the launcher there kept as
// the previous copy first. Each copy is written beside its place, flushed and moved over it, so
// that a kill at any point leaves a whole launcher at the installed path.
int replace_installed_launcher() {
  uint64_t size = 0;
  if (os_file_size(g_installed, &size) && !os_copy_over(g_installed, g_previous)) return 0;
  crash_point("previous-launcher-kept");
  if (!os_copy_over(g_executable, g_installed)) return 0;
  crash_point("launcher-moved-over");
  return 1;
}

// A start from elsewhere by a launcher older than the installed one (a build number below
// its number) leaves the installed launcher in place and starts it.
int older_than_installed() {
  uint32_t installed = 0;
  uint32_t own = own_build_number();
  if (!read_build_number(g_installed, &installed) || own >= installed) return 0;
  write_log_with_number(L"Launcher demarre depuis un autre dossier plus ancien (build ", own, L") que le launcher installe:");
  write_log_with_number(L"le launcher installe (build ", installed, L") est demarre a sa place, sans etre remplace.");
  return 1;
}

// Nonzero when this process is the installed launcher and goes on. Otherwise the installed
// copy was replaced and started (or that failed), and exit_code is this process's end.
int runs_installed(int* exit_code) {
  if (same_launcher_path(g_executable, g_installed)) return 1;
  if (!older_than_installed() && !replace_installed_launcher()) {
    *exit_code = installation_failure();
  } else {
    release_instance_lock();
    *exit_code = 0;
    if (!start_installed_launcher(g_installed, g_root)) {
      show_startup_box(k_relaunch_failed, BOX_ERROR);
      *exit_code = 1;
    }
  }
  return 0;
}

int graphics_failure() {
  show_startup_box(k_graphics_failure_text, BOX_ERROR);
  dispose_ui_assets();
  close_instance_lock();
  return 1;
}

void shut_down() {
  close_install_worker_thread();
  // An update that ran from this file has long ended by now.
  remove_launcher_update_file();
  stop_account_bridge();
  dispose_ui_assets();
  release_instance_lock();
}
}  // namespace

unsigned long parse_process_id(const wchar_t* text) { return wcstoul(text, nullptr, 10); }

int run_interactive_start() {
  if (!take_instance_lock()) {
    show_startup_box(k_already_open, BOX_INFORMATION);
    return 0;
  }
  static wchar_t data_folder[PATH_UNITS];
  if (!running_executable_path(g_executable) || !user_data_folder(data_folder)) return installation_failure();
  join_path(g_root, data_folder, L"Vorna380");
  join_path(g_client, g_root, L"Client");
  join_path(g_log, g_root, L"launcher.log");
  join_path(g_installed, g_root, k_installed_launcher_name);
  join_path(g_previous, g_root, k_previous_launcher_name);
  if (!ensure_directory(g_root)) return installation_failure();
  int exit_code = 0;
  if (!runs_installed(&exit_code)) return exit_code;
  ensure_launcher_entries(g_installed, g_root);

  load_selected_account();
  start_account_bridge();
  if (!start_ui_graphics()) return graphics_failure();
  if (!create_launcher_window()) {
    dispose_ui_assets();
    close_instance_lock();
    return 1;
  }
  if (!start_install_worker_thread()) {
    g_window_calls->message_box(k_worker_failed, L"Vorna380", BOX_ERROR);
    g_window_calls->destroy();
  }
  run_message_loop();
  shut_down();
  return 0;
}

namespace {
// The update started but did not take over: the previous copy goes back in its place and is
// started, and this executable's digest is refused for later updates.
int roll_back(const wchar_t* root) {
  write_log(L"La nouvelle version du launcher n'a pas pris le relais: retour a la version precedente.");
  unsigned char digest[DIGEST_BYTES];
  wchar_t text[DIGEST_TEXT_UNITS];
  if (sha256_file(g_executable, digest)) {
    digest_hex(digest, text);
    refuse_launcher(root, text);
  }
  if (!os_copy_over(g_previous, g_installed)) {
    write_log(L"Remise en place de la version precedente du launcher impossible.");
    return 3;
  }
  crash_point("previous-launcher-restored");
  if (!start_installed_launcher(g_installed, root)) return 4;
  return 5;
}
}  // namespace

// The journal is the launcher's, so that the update's steps show there beside the worker's.
int run_self_update(const wchar_t* process_id) {
  unsigned long id = parse_process_id(process_id);
  if (id == 0 || !wait_for_process_end(id)) os_sleep_ms(SELF_UPDATE_PAUSE_MS);
  static wchar_t data_folder[PATH_UNITS];
  static wchar_t root[PATH_UNITS];
  if (!running_executable_path(g_executable) || !user_data_folder(data_folder)) return 2;
  join_path(root, data_folder, L"Vorna380");
  join_path(g_installed, root, k_installed_launcher_name);
  join_path(g_previous, root, k_previous_launcher_name);
  if (!ensure_directory(root)) return 3;
  join_path(g_log, root, L"launcher.log");
  if (!replace_installed_launcher()) {
    write_log(L"Remplacement du launcher installe impossible: il reste en place.");
    return 3;
  }
  write_log(L"Launcher installe remplace par la nouvelle version (l'ancienne est gardee a cote). Demarrage...");
  uint64_t size = 0;
  int rollback_possible = os_file_size(g_previous, &size);
  if (start_and_try_launcher(g_installed, root, LAUNCHER_TRIAL_MS)) {
    crash_point("launcher-started");
    return 0;
  }
  return rollback_possible ? roll_back(root) : 4;
}
