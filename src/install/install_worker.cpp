#include "install/install_worker.h"

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
#include "install/activation.h"
#include "install/file_update.h"
#include "install/leftovers.h"
#include "install/pinned_refresh.h"
#include "install/platform.h"
#include "integrity/verify.h"
#include "release_profile.h"
#include "transfer/download.h"
#include "transfer/powershell.h"
#include "trust/digest.h"
#include "trust/manifest.h"
#include "trust/signature.h"
#include "trust/utc_time.h"

namespace {
constexpr size_t URL_UNITS = 2048;
constexpr size_t LINE_UNITS = 256;

const wchar_t k_manifest_download_failed[] = L"Impossible de telecharger le manifeste de securite.";
const wchar_t k_signature_invalid[] = L"La signature de la release est invalide. Installation bloquee.";
const wchar_t k_older_release[] = L"Cette release est plus ancienne que celle deja installee. Installation bloquee.";
const wchar_t k_expired_release[] =
    L"Cette release a expire. Verifiez la date et l'heure de l'ordinateur. Installation bloquee.";
const wchar_t k_disk_space[] =
    L"Espace disque insuffisant. Il faut environ 6 Go libres pour installer ou reparer Vorna380.";

// The worker runs once at a time; path buffers and the record are too large for its stack.
wchar_t s_manifest_copy[PATH_UNITS];
wchar_t s_signature_copy[PATH_UNITS];
wchar_t s_package[PATH_UNITS];
wchar_t s_staging[PATH_UNITS];
wchar_t s_mark[PATH_UNITS];
wchar_t s_mark_temporary[PATH_UNITS];
release_manifest s_manifest;
// What the checks of the active client found matching in this run: a later check or the
// comparison of the update by the file reads only the files that changed since.
file_identities s_verified;

struct forget_verified_files {
  ~forget_verified_files() { release_file_identities(&s_verified); }
};

void origin_url(wchar_t url[URL_UNITS], const wchar_t* path) {
  text_builder text = start_text(url, URL_UNITS);
  builder_append(&text, VORNA380_RELEASE_ORIGIN);
  builder_append(&text, path);
}

int error_ending(const wchar_t* text) {
  post_text(WM_LAUNCHER_ERROR, text);
  return 0;
}

// A client found valid may follow a run stopped between its activation and the end of it:
// the marker is brought in line and the package that run installed goes.
void finish_interrupted_installation() {
  if (!release_marker_holds(s_manifest.version)) {
    write_log(L"Le marqueur de version ne correspond pas au client valide: il est reecrit.");
    write_release_marker(s_manifest.version);
  }
  uint64_t size = 0;
  if (os_file_size(s_package, &size)) {
    os_delete_file(s_package);
    write_log_with_path(L"Suppression du package d'une installation deja activee: ", s_package);
  }
}

// With update_mark, a numbered release raises the sequence mark to its number.
int ready_ending(const wchar_t* text, int update_mark) {
  if (update_mark && s_manifest.sequence != 0) write_sequence_mark(s_manifest.sequence);
  set_status(text);
  crash_point("after-status-ready");
  post_ready();
  return 1;
}

void journal_expired_release(int64_t expires, int64_t now) {
  wchar_t time[UTC_TIME_UNITS];
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  builder_append(&text, L"Release servie valable jusqu'au ");
  format_utc_time(expires, time);
  builder_append(&text, time);
  builder_append(&text, L", horloge de l'ordinateur a ");
  format_utc_time(now, time);
  builder_append(&text, time);
  builder_append(&text, L" (UTC).");
  write_log(line);
}

// Downloads and checks the signed manifest into s_manifest: 1 on success, else the ending (0).
int load_manifest() {
  wchar_t url[URL_UNITS];
  origin_url(url, L"dl/Vorna380.release.manifest");
  if (!download_small(url, s_manifest_copy)) return error_ending(k_manifest_download_failed);
  origin_url(url, L"dl/Vorna380.release.manifest.sig");
  if (!download_small(url, s_signature_copy)) return error_ending(k_manifest_download_failed);
  uint32_t manifest_length = 0;
  uint32_t signature_length = 0;
  char* manifest = read_file(s_manifest_copy, MANIFEST_LIMIT, &manifest_length);
  char* signature = read_file(s_signature_copy, SIGNATURE_LIMIT, &signature_length);
  memset(&s_manifest, 0, sizeof s_manifest);
  int valid = manifest != nullptr && signature != nullptr &&
              verify_release_signature(reinterpret_cast<unsigned char*>(manifest), manifest_length,
                                       reinterpret_cast<unsigned char*>(signature), signature_length) &&
              parse_manifest(manifest, &s_manifest);
  free(manifest);
  free(signature);
  if (!valid) return error_ending(k_signature_invalid);
  int64_t now = 0;
  if (manifest_expired(&s_manifest, &now)) {
    journal_expired_release(s_manifest.expires, now);
    return error_ending(k_expired_release);
  }
  return 1;
}

// stored 0: the mark could not be read.
void journal_older_release(uint64_t served, uint64_t stored) {
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  builder_append(&text, L"Release servie de sequence ");
  if (served == 0) {
    builder_append(&text, L"absente");
  } else {
    builder_append_uint(&text, served, 1);
  }
  if (stored == 0) {
    builder_append(&text, L", marqueur de sequence illisible.");
  } else {
    builder_append(&text, L", sequence deja installee ");
    builder_append_uint(&text, stored, 1);
    builder_append(&text, L".");
  }
  write_log(line);
}

// The light update, when something is at the active client path: 1 when it made it valid.
int light_update() {
  int is_folder = 0;
  uint32_t error = 0;
  if (!examine_entry(g_client, &is_folder, &error)) return 0;
  if (!refresh_pinned_files(&s_manifest)) return 0;
  set_status(L"Launcher graphique importe sans telechargement complet. Verification...");
  crash_point("after-status-light-check");
  return verify_integrity_reusing(g_client, s_manifest.integrity_sha256, &s_verified, &s_verified);
}

// Steps from the download to the staged check: 1 when the staging folder is verified, else
// the ending (0).
int download_and_extract(int package_reusable) {
  if (!package_reusable) {
    set_download_progress(s_package, s_manifest.package_size);
    set_status(L"Telechargement automatique du client complet (premier lancement)...");
    crash_point("after-status-download");
    // Never more than the signed manifest announces.
    job_parameters download = download_job(s_manifest.package_url, s_package, s_manifest.package_size);
    body_digest streamed = {};
    download.digest = &streamed;
    int downloaded = powershell(k_download_script, &download);
    set_indeterminate_progress();
    if (!downloaded) return error_ending(L"Le telechargement du client a echoue.");
    set_status(L"Verification SHA-256 du package telecharge...");
    crash_point("after-status-package-digest");
    // Where the download hashed the package as it wrote it, the file is not read again.
    int valid = streamed.known ? package_digest_matches(s_package, streamed.bytes, streamed.digest, &s_manifest)
                               : verify_package_file(s_package, &s_manifest);
    if (!valid) {
      os_delete_file(s_package);
      return error_ending(L"Package altere, incomplet ou de taille incorrecte. Installation bloquee.");
    }
  }
  set_status(L"Extraction securisee du client...");
  crash_point("after-status-extraction");
  job_parameters extraction = extract_job(s_package, s_staging);
  if (!powershell(k_extract_script, &extraction)) return error_ending(L"L'extraction du client a echoue.");
  set_status(L"Verification de tous les fichiers extraits...");
  crash_point("after-status-extracted-check");
  if (!verify_integrity(s_staging, s_manifest.integrity_sha256)) {
    return error_ending(L"Un fichier extrait ne correspond pas a la release officielle.");
  }
  return 1;
}
}  // namespace

int enough_disk_space(uint64_t free_bytes, uint64_t package_size) {
  // Twice a size near the top of the range would wrap around to a small figure: never enough.
  if (package_size > (UINT64_MAX / DISK_FACTOR) - DISK_RESERVE_BYTES) return 0;
  return free_bytes >= DISK_FACTOR * (package_size + DISK_RESERVE_BYTES);
}

int read_sequence_mark(uint64_t* sequence) {
  join_path(s_mark, g_root, L"release-sequence.txt");
  *sequence = 0;
  uint32_t length = 0;
  char* text = read_file(s_mark, SEQUENCE_MARK_LIMIT, &length);
  if (text == nullptr) {
    int is_folder = 0;
    uint32_t error = 0;
    if (!examine_entry(s_mark, &is_folder, &error) && error_means_missing(error)) return 1;
  } else {
    uint64_t value = 0;
    uint32_t digits = 0;
    while (digits < length && text[digits] >= '0' && text[digits] <= '9' && digits < SEQUENCE_DIGITS_MAX) {
      value = value * 10 + static_cast<uint64_t>(text[digits] - '0');
      ++digits;
    }
    uint32_t end = digits;
    while (end < length && (text[end] == ' ' || text[end] == '\t' || text[end] == '\r' || text[end] == '\n')) ++end;
    free(text);
    if (value != 0 && end == length) {
      *sequence = value;
      return 1;
    }
  }
  write_log(L"Marqueur de sequence illisible: seule une release numerotee est acceptee.");
  return 0;
}

void write_sequence_mark(uint64_t sequence) {
  join_path(s_mark, g_root, L"release-sequence.txt");
  join_path(s_mark_temporary, g_root, L"release-sequence.txt.tmp");
  char bytes[SEQUENCE_DIGITS_MAX + 2];
  int count = snprintf(bytes, sizeof bytes, "%llu", static_cast<unsigned long long>(sequence));
  size_t bytes_used = static_cast<size_t>(count);
  if (os_replace_file(s_mark, s_mark_temporary, bytes, bytes_used, nullptr) ||
      (os_remove_empty_folder(s_mark) && os_replace_file(s_mark, s_mark_temporary, bytes, bytes_used, nullptr))) {
    return;
  }
  write_log(L"Avertissement: le marqueur de sequence de la release n'a pas pu etre ecrit.");
}

namespace {
os_thread* g_worker_thread = nullptr;

void run_worker_thread(void*) { run_install_worker(); }
}  // namespace

int start_install_worker_thread() {
  g_worker_thread = os_thread_start(run_worker_thread, nullptr);
  return g_worker_thread != nullptr;
}

void close_install_worker_thread() {
  if (g_worker_thread != nullptr) os_thread_detach(g_worker_thread);
  g_worker_thread = nullptr;
}

int run_install_worker() {
  join_path(s_manifest_copy, g_root, L"release.manifest.tmp");
  join_path(s_signature_copy, g_root, L"release.manifest.sig.tmp");
  join_path(s_package, g_root, L"Vorna380.package.zip");
  join_path(s_staging, g_root, L"Client.new");
  remove_run_leftovers();

  set_status(L"Verification de la release officielle...");
  crash_point("after-status-manifest");
  if (!load_manifest()) return 0;
  // A signed manifest stays valid for ever: an older release served again is refused. A mark
  // that cannot be read still says a numbered release was installed, so an unnumbered one is
  // older; a numbered one is taken and its number becomes the mark.
  uint64_t stored = 0;
  int mark_known = read_sequence_mark(&stored);
  if (mark_known ? s_manifest.sequence < stored : s_manifest.sequence == 0) {
    journal_older_release(s_manifest.sequence, stored);
    return error_ending(k_older_release);
  }
  int update_mark = !mark_known || s_manifest.sequence > stored;

  set_status(L"Controle complet des fichiers installes...");
  crash_point("after-status-installed-check");
  forget_verified_files forget;
  if (verify_integrity_reusing(g_client, s_manifest.integrity_sha256, nullptr, &s_verified)) {
    finish_interrupted_installation();
    return ready_ending(L"Client officiel valide. Pret a jouer.", update_mark);
  }
  if (light_update()) {
    finish_interrupted_installation();
    return ready_ending(L"Launcher importe. Client officiel valide. Pret a jouer.", update_mark);
  }

  int files_linked = 0;  // the staging folder shares the unchanged files with the active client
  set_status(L"Recherche d'un client deja telecharge et valide...");
  crash_point("after-status-staged-check");
  if (verify_integrity(s_staging, s_manifest.integrity_sha256)) {
    set_status(L"Client deja telecharge et valide. Reprise de l'activation sans telechargement...");
    crash_point("after-status-staged-found");
  } else {
    set_status(L"Recherche d'un package deja telecharge et valide...");
    crash_point("after-status-package-check");
    int package_reusable = verify_package_file(s_package, &s_manifest);
    // A package cut short or of another release would only be replaced by the download: it
    // goes now, so that its bytes do not count against the free space.
    uint64_t size = 0;
    if (!package_reusable && os_file_size(s_package, &size)) {
      os_delete_file(s_package);
      write_log_with_path(L"Suppression du package inutilisable avant le telechargement: ", s_package);
    }
    // With an active client, only the files it lacks may need fetching.
    int is_folder = 0;
    uint32_t error = 0;
    files_linked = !package_reusable && examine_entry(g_client, &is_folder, &error) && is_folder &&
                   update_by_file(&s_manifest, s_staging, &s_verified);
    if (!files_linked) {
      // Whatever is in the staging folder now is stale; its bytes must not count against the
      // free space the extraction needs.
      set_aside_staging(s_staging);
      uint64_t free_bytes = 0;
      if (!query_free_bytes(g_root, &free_bytes) || !enough_disk_space(free_bytes, s_manifest.package_size)) {
        return error_ending(k_disk_space);
      }
      if (package_reusable) {
        set_status(L"Package deja telecharge et valide. Aucun nouveau telechargement necessaire...");
        crash_point("after-status-package-found");
      }
      if (!download_and_extract(package_reusable)) return 0;
    }
  }

  wchar_t failure[FAILURE_TEXT_UNITS];
  if (!activate_staged_client(s_staging, failure, files_linked)) return error_ending(failure);
  prune_rollback_folders();
  write_release_marker(s_manifest.version);
  crash_point("after-release-marker");
  os_delete_file(s_package);
  crash_point("after-package-deleted");
  return ready_ending(L"Installation terminee. Pret a jouer.", update_mark);
}
