// Opens the launcher window without the install worker: a small worker thread puts it in the
// state a scenario names, through the same status channel the install worker uses. The
// screenshot test drives it from outside.
//   window_demo wait|download|download-rate|verify|ready|ready-account|error JOURNAL [SCRATCH_FOLDER]
// download-rate: a 300 MiB package resumed at 100 MiB that grows by 1 MiB every 100 ms for 5 s,
// so that the band shows its rate and time left.
#include <chrono>
#include <cwchar>
#include <string>
#include <thread>

#include "accounts/accounts.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "support/test_support.h"
#include "ui/window.h"
#include "window_demo.h"

namespace {
void post_ready() {
  if (g_window != nullptr) post_window_message(g_window, WM_LAUNCHER_READY, 0, 0);
}

void play_scenario(std::wstring scenario, std::wstring scratch) {
  if (scenario == L"wait") {
    set_status(
        L"Verification de l'integrite du client en cours. Les fichiers sont compares un par un avec la "
        L"liste signee de la version publiee, merci de patienter...");
  } else if (scenario == L"download") {
    // Half of a 3 MiB package is already on disk: 515 pixels of bar.
    std::wstring package = join(scratch, L"Vorna380.package.zip");
    write_bytes(package, std::string(1572864, 'z'));
    copy_text(g_progress_file, PATH_UNITS, package.c_str());
    g_progress_total = 3145728;
    g_progress_mode.exchange(PROGRESS_DOWNLOAD);
    invalidate_window(g_window);
    set_status(L"Telechargement du client Vorna 3.80...");
  } else if (scenario == L"download-rate") {
    std::wstring package = join(scratch, L"Vorna380.package.zip");
    write_bytes(package, std::string(100u << 20, 'z'));
    copy_text(g_progress_file, PATH_UNITS, package.c_str());
    g_progress_total = 300u << 20;
    g_progress_mode.exchange(PROGRESS_DOWNLOAD);
    set_status(L"Reprise du telechargement du client Vorna 3.80...");
    std::string mebibyte(1u << 20, 'z');
    for (int step = 0; step < 50; ++step) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      append_bytes(package, mebibyte);
    }
  } else if (scenario == L"verify") {
    set_status(L"Verification des fichiers du client...");
    set_verify_progress(3, 7);
  } else if (scenario == L"ready" || scenario == L"ready-account") {
    set_verify_progress(7, 7);
    set_indeterminate_progress();
    set_status(L"Client verifie.");
    post_ready();
  } else if (scenario == L"error") {
    set_status(L"Telechargement du manifeste de version...");
    post_text(WM_LAUNCHER_ERROR, L"La signature du manifeste de version est invalide. Le client n'a pas ete modifie.");
  }
}
}  // namespace

int run_window_demo(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::wstring scenario = argv[1];
  copy_text(g_log, PATH_UNITS, argv[2]);
  std::wstring scratch = argc > 3 ? argv[3] : L"";
  if (scenario == L"ready-account") copy_text(g_selected_account, ACCOUNT_NAME_UNITS, L"joueur.vorna");

  if (!start_ui_graphics()) {
    show_startup_box(k_graphics_failure_text, BOX_ERROR);
    dispose_ui_assets();
    return 1;
  }
  if (!create_launcher_window()) {
    dispose_ui_assets();
    return 1;
  }
  std::thread worker(play_scenario, scenario, scratch);
  run_message_loop();
  worker.join();
  dispose_ui_assets();
  return 0;
}
