// Runs the install worker once on a launcher root, as the interactive start does but with no
// window, for bench/bench-install.sh:  install_bench ROOT   (exit 0 ready, 1 error).
#include <cstdio>
#include <cstdlib>

#include "core/paths.h"
#include "core/text.h"
#include "install/install_worker.h"

int main(int argc, char** argv) {
  wchar_t root[PATH_UNITS];
  if (argc != 2 || mbstowcs(root, argv[1], PATH_UNITS - 1) == static_cast<size_t>(-1)) {
    fprintf(stderr, "usage: install_bench ROOT\n");
    return 2;
  }
  root[PATH_UNITS - 1] = L'\0';
  copy_text(g_root, PATH_UNITS, root);
  join_path(g_client, g_root, L"Client");
  join_path(g_log, g_root, L"launcher.log");
  // The interactive start makes its root before the worker runs.
  if (!ensure_directory(g_root)) {
    fprintf(stderr, "install_bench: cannot make %s\n", argv[1]);
    return 1;
  }
  return run_install_worker() ? 0 : 1;
}
