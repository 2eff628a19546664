#include "install/launcher_update.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/crash_point.h"
#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "install/platform.h"
#include "transfer/download.h"
#include "transfer/release_hosts.h"
#include "trust/digest.h"

namespace {
constexpr size_t ATTEMPTS_BYTES = 96;
// Set once this launcher has handed over: the update now runs from its file.
std::atomic<int> g_handed_over{0};

// The paths of one update, on the heap with the rest of its state.
struct update_paths {
  wchar_t installed[PATH_UNITS];
  wchar_t update[PATH_UNITS];
};

void attempts_path(wchar_t path[PATH_UNITS], const wchar_t* root) { join_path(path, root, L"launcher-update.txt"); }

// The published launcher of this build: the Windows pair, or on Linux the Linux one.
void own_launcher(const release_manifest* manifest, const wchar_t** url, const wchar_t** digest) {
#ifdef _WIN32
  *url = manifest->launcher_url;
  *digest = manifest->launcher_sha256;
#else
  *url = manifest->launcher_linux_url;
  *digest = manifest->launcher_linux_sha256;
#endif
}

bool file_digest_is(const wchar_t* path, const wchar_t* expected) {
  unsigned char digest[DIGEST_BYTES];
  wchar_t text[DIGEST_TEXT_UNITS];
  if (!sha256_file(path, digest)) return false;
  digest_hex(digest, text);
  return wcscmp(text, expected) == 0;
}

void journal_with_digest(const wchar_t* before, const wchar_t* digest, const wchar_t* after) {
  wchar_t line[256];
  text_builder text = start_text(line, 256);
  builder_append(&text, before);
  builder_append(&text, digest);
  builder_append(&text, after);
  write_log(line);
}

// Fetches and checks the published launcher into paths->update: 1 when it is there and its
// digest is the manifest's; else journalled, nothing left. Bytes that do not match count as a
// try (the publication is broken); a failed download does not (the network may come back).
int fetch_checked_launcher(const update_paths* paths, const wchar_t* url, const wchar_t* digest, unsigned attempts) {
  set_status(L"Nouvelle version du launcher: telechargement...");
  crash_point("after-status-launcher-download");
  // Bytes that fail their digest send the download to the next release host, if any.
  for (unsigned host = 1;; ++host) {
    if (!download_with_retries(url, paths->update, LAUNCHER_DOWNLOAD_LIMIT,
                               L"Telechargement du launcher retabli a la tentative ",
                               L"/3 echouee pour le launcher publie.")) {
      write_log(L"Telechargement du launcher publie impossible: le launcher actuel continue.");
      return 0;
    }
    crash_point("launcher-downloaded");
    if (file_digest_is(paths->update, digest)) break;
    os_delete_file(paths->update);
    if (host >= release_host_count()) {
      record_launcher_attempts(g_root, digest, attempts + 1);
      journal_with_digest(L"Launcher publie refuse: son SHA-256 n'est pas ", digest,
                          L" (manifeste). Le launcher actuel continue.");
      return 0;
    }
    release_host_failed();
  }
  crash_point("launcher-verified");
  return 1;
}

launcher_update_outcome update_with(update_paths* paths, const release_manifest* manifest) {
  const wchar_t* url = nullptr;
  const wchar_t* digest = nullptr;
  own_launcher(manifest, &url, &digest);
  if (url[0] == L'\0') return LAUNCHER_GO_ON;
  join_path(paths->installed, g_root, k_installed_launcher_name);
  join_path(paths->update, g_root, k_launcher_update_name);
  // Only the installed launcher updates itself (a worker run from elsewhere, as by a test
  // program, has none in its root).
  uint64_t size = 0;
  if (!os_file_size(paths->installed, &size) || file_digest_is(paths->installed, digest)) return LAUNCHER_GO_ON;
  unsigned attempts = launcher_attempts(g_root, digest);
  if (attempts >= LAUNCHER_ATTEMPTS_MAX) {
    journal_with_digest(L"Launcher publie ", digest, L" deja refuse ou essaye sans succes: le launcher actuel continue.");
    return LAUNCHER_GO_ON;
  }
  journal_with_digest(L"Le manifeste publie un autre launcher: ", digest, L".");
  if (!fetch_checked_launcher(paths, url, digest, attempts)) return LAUNCHER_GO_ON;
  record_launcher_attempts(g_root, digest, attempts + 1);
  set_status(L"Nouvelle version du launcher verifiee. Redemarrage du launcher...");
  crash_point("after-status-launcher-handover");
  if (!make_launcher_runnable(paths->update) || !start_launcher_update(paths->update, own_process_id())) {
    refuse_launcher(g_root, digest);
    return LAUNCHER_GO_ON;
  }
  g_handed_over.store(1);
  crash_point("launcher-handed-over");
  write_log(L"Mise a jour du launcher confiee a la nouvelle version: ce launcher se ferme.");
  post_close();
  return LAUNCHER_HANDED_OVER;
}
}  // namespace

launcher_update_outcome update_launcher(const release_manifest* manifest) {
  update_paths* paths = static_cast<update_paths*>(malloc(sizeof(update_paths)));
  if (paths == nullptr) return LAUNCHER_GO_ON;
  launcher_update_outcome outcome = update_with(paths, manifest);
  free(paths);
  return outcome;
}

unsigned launcher_attempts(const wchar_t* root, const wchar_t* digest) {
  wchar_t* path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (path == nullptr) return 0;
  attempts_path(path, root);
  uint32_t length = 0;
  char* text = read_file(path, ATTEMPTS_BYTES, &length);
  free(path);
  unsigned attempts = 0;
  char recorded[DIGEST_TEXT_UNITS] = {};
  unsigned count = 0;
  if (text != nullptr && sscanf(text, "%64[0-9a-f] %u", recorded, &count) == 2) {
    bool same = strlen(recorded) == 64;
    for (size_t i = 0; same && i < 64; ++i) same = recorded[i] == static_cast<char>(digest[i]);
    if (same) attempts = count;
  }
  free(text);
  return attempts;
}

void record_launcher_attempts(const wchar_t* root, const wchar_t* digest, unsigned attempts) {
  wchar_t* path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (path == nullptr) return;
  attempts_path(path, root);
  // The digest is plain hexadecimal: one byte a unit.
  char text[ATTEMPTS_BYTES];
  size_t used = 0;
  for (; digest[used] != L'\0' && used < DIGEST_TEXT_UNITS - 1; ++used) text[used] = static_cast<char>(digest[used]);
  int tail = snprintf(text + used, sizeof text - used, " %u\n", attempts);
  if (tail > 0) os_replace_file(path, text, used + static_cast<size_t>(tail), nullptr);
  free(path);
}

void refuse_launcher(const wchar_t* root, const wchar_t* digest) {
  journal_with_digest(L"Launcher ", digest, L" refuse: il ne sera plus essaye tant que le manifeste le publie.");
  record_launcher_attempts(root, digest, LAUNCHER_ATTEMPTS_MAX);
}

void remove_launcher_update_file() {
  if (g_handed_over.load()) return;
  wchar_t* path = static_cast<wchar_t*>(malloc(PATH_UNITS * sizeof(wchar_t)));
  if (path == nullptr) return;
  join_path(path, g_root, k_launcher_update_name);
  uint64_t size = 0;
  if (os_file_size(path, &size)) os_delete_file(path);
  free(path);
}
