// Runs the install worker once on a launcher root, as the interactive start does but with no
// window, for the benchmarks:  install_bench ROOT [HOST_URL...]   (exit 0 ready, 1 error).
// HOST_URLs ("https://host:port/"), when given, are the release hosts in place of the profile's.
#include <cstdio>
#include <cstdlib>

#include "core/paths.h"
#include "core/text.h"
#include "install/install_worker.h"
#include "transfer/release_hosts.h"

int main(int argc, char** argv) {
  wchar_t root[PATH_UNITS];
  if (argc < 2 || argc > 1 + static_cast<int>(RELEASE_HOSTS_MAX) ||
      mbstowcs(root, argv[1], PATH_UNITS - 1) == static_cast<size_t>(-1)) {
    fprintf(stderr, "usage: install_bench ROOT [HOST_URL...]\n");
    return 2;
  }
  static wchar_t hosts[RELEASE_HOSTS_MAX][256];
  for (int i = 2; i < argc; ++i) {
    if (mbstowcs(hosts[i - 2], argv[i], 255) == static_cast<size_t>(-1)) return 2;
    g_release_hosts[i - 2] = hosts[i - 2];
    g_release_hosts[i - 1] = nullptr;
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
