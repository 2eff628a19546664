// Runs the install worker once on a launcher root with no window, as the interactive start
// does:  crash_runner ROOT   (exit 0 ready, 1 error, 2 usage).
#include <cstdio>

#include "core/paths.h"
#include "core/text.h"
#include "install/install_worker.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: crash_runner ROOT\n");
    return 2;
  }
  copy_text(g_root, PATH_UNITS, argv[1]);
  join_path(g_client, g_root, L"Client");
  join_path(g_log, g_root, L"launcher.log");
  // The interactive start makes its root before the worker runs.
  if (!ensure_directory(g_root)) return 1;
  return run_install_worker() ? 0 : 1;
}
