#include "startup/entries.h"

#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "startup/platform.h"

namespace {
// Says that the desktop shortcut was made once.
const wchar_t k_desktop_shortcut_made[] = L"desktop-shortcut.txt";
}  // namespace

int ensure_launcher_entries(const wchar_t* installed, const wchar_t* root) {
  int in_place = write_menu_entries(installed, root);
  wchar_t made[PATH_UNITS];
  join_path(made, root, k_desktop_shortcut_made);
  uint64_t size = 0;
  if (os_file_size(made, &size)) return in_place;
  if (!write_desktop_shortcut(installed, root)) {
    write_log(L"Raccourci du bureau impossible a creer.");
    return 0;
  }
  static const char k_note[] = "The desktop shortcut was made once; a deleted one is not made again.\n";
  return os_replace_file(made, k_note, sizeof k_note - 1, nullptr) && in_place;
}

int remove_launcher_entries(const wchar_t* installed) {
  int menu = remove_menu_entries(installed);
  return remove_desktop_shortcut(installed) && menu;
}
