#include "install/uninstall.h"

#include "core/journal.h"
#include "install/platform.h"

int remove_launcher_root(const wchar_t* root) {
  uint32_t error = 0;
  if (remove_tree(root, &error)) return 1;
  log_windows_error(L"Suppression du dossier du launcher incomplete", error);
  return 0;
}
