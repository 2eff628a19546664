#include "accounts_window.h"

#include <thread>

#include "accounts/accounts.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "ui/window.h"

namespace {
void report_ready() {
  set_status(L"Client verifie.");
  if (g_window != nullptr) post_window_message(g_window, WM_LAUNCHER_READY, 0, 0);
}
}  // namespace

int run_accounts_window(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  copy_text(g_root, PATH_UNITS, argv[1]);
  join_path(g_client, g_root, L"Client");
  join_path(g_log, g_root, L"launcher.log");
  load_selected_account();
  start_account_bridge();
  int code = 1;
  if (start_ui_graphics() && create_launcher_window()) {
    std::thread worker(report_ready);
    run_message_loop();
    worker.join();
    code = 0;
  }
  stop_account_bridge();
  dispose_ui_assets();
  return code;
}
