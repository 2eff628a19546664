#include <errno.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "core/journal.h"
#include "core/os.h"
#include "core/os_posix.h"
#include "core/paths.h"
#include "core/system_path_posix.h"
#include "install/launcher_update.h"
#include "install/platform.h"

int make_launcher_runnable(const wchar_t* path) {
  utf8_path native(path);
  return native.ok() && chmod(native.text, 0755) == 0;
}

int start_launcher_update(const wchar_t* program, uint32_t process_id) {
  utf8_path path(program);
  utf8_path root(g_root);
  char id[16];
  snprintf(id, sizeof id, "%u", process_id);
  char* arguments[] = {path.text, const_cast<char*>("--apply-self-update"), id, nullptr};
  os_child started;
  int error = EINVAL;
  if (!path.ok() || !root.ok() || !os_start_detached(path.text, arguments, root.text, &started, &error)) {
    log_windows_error(L"Impossible de demarrer la nouvelle version du launcher", static_cast<uint32_t>(error));
    return 0;
  }
  // The update waits for this process: one that ends while this one still runs has failed.
  int status = 0;
  if (os_wait_child_within(started.pid, HANDOVER_WATCH_MS, &status)) {
    unsigned code = WIFEXITED(status) ? static_cast<unsigned>(WEXITSTATUS(status)) : 128u + WTERMSIG(status);
    write_log_with_number(L"La nouvelle version du launcher s'est arretee aussitot (code ", code, L").");
    return 0;
  }
  os_release_child(started.pid);
  return 1;
}
