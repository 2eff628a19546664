// The uninstall, in the order that keeps it safe to stop and run again: the running launcher and
// the game closed (this process then holds the instance lock, so no launcher starts meanwhile),
// the accounts, the entries that point at the launcher, then the root.
#include "accounts/accounts.h"
#include "core/journal.h"
#include "core/paths.h"
#include "install/processes.h"
#include "install/uninstall.h"
#include "startup/entries.h"
#include "startup/platform.h"
#include "startup/startup.h"

namespace {
constexpr unsigned CLOSE_TIMEOUT_MS = 10000;
wchar_t g_uninstalling[PATH_UNITS];
wchar_t g_uninstall_root[PATH_UNITS];
wchar_t g_uninstall_installed[PATH_UNITS];
}  // namespace

int run_uninstall(int remove_accounts) {
  static wchar_t data_folder[PATH_UNITS];
  if (!running_executable_path(g_uninstalling) || !user_data_folder(data_folder)) return 2;
  join_path(g_uninstall_root, data_folder, L"Vorna380");
  join_path(g_uninstall_installed, g_uninstall_root, k_installed_launcher_name);
  join_path(g_client, g_uninstall_root, L"Client");
  join_path(g_log, g_uninstall_root, L"launcher.log");
  write_log(L"Desinstallation de Vorna380...");
  if (!close_running_launcher(CLOSE_TIMEOUT_MS)) {
    write_log(L"Desinstallation abandonnee: le launcher ouvert ne se ferme pas.");
    return 3;
  }
  close_client_processes();
  int complete = 1;
  if (remove_accounts && !delete_all_accounts()) {
    write_log(L"Desinstallation: des comptes restent dans le coffre de mots de passe.");
    complete = 0;
  }
  if (!remove_launcher_entries(g_uninstall_installed)) complete = 0;
  if (!move_running_executable_out(g_uninstalling, g_uninstall_root)) complete = 0;
  if (!remove_launcher_root(g_uninstall_root)) complete = 0;
  if (!complete) write_log(L"Desinstallation incomplete: relancez-la pour supprimer ce qui reste.");
  release_instance_lock();
  return complete ? 0 : 4;
}
