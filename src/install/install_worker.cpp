// The install worker's one run, top to bottom:
//   load_manifest, check_release_order      the signed manifest, its expiry and sequence
//   update_launcher                         the launcher the release names (launcher_update.cpp)
//   active_client_ready                     the client valid as it is, or after the light update
//   stage_client                            a staged client, the update by the file (file_update.cpp),
//     keep_package_if_valid, full_path      or the package, downloaded or kept, extracted and checked
//   activate_and_finish                     the swap (activation.cpp), the marks, the package deleted
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
#include "install/launcher_update.h"
#include "install/package_download.h"
#include "install/leftovers.h"
#include "install/pinned_refresh.h"
#include "install/release_marks.h"
#include "install/platform.h"
#include "integrity/verify.h"
#include "release_profile.h"
#include "transfer/download.h"
#include "transfer/powershell.h"
#include "transfer/release_hosts.h"
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

// One run of the worker, allocated once by run_install_worker and handed to each step (its
// path buffers are too large for the worker's stack).
struct install_run {
  wchar_t manifest_copy[PATH_UNITS];
  wchar_t signature_copy[PATH_UNITS];
  wchar_t package[PATH_UNITS];
  wchar_t staging[PATH_UNITS];
  release_manifest manifest;
  // What the checks of the active client found matching in this run: a later check or the
  // comparison of the update by the file reads only the files that changed since.
  file_identities verified;
  int update_mark;   // the served release raises the sequence mark
  int files_linked;  // the staging folder shares the unchanged files with the active client
};

// Owns the run record: released with everything it holds on every way out.
struct run_record {
  install_run* run = static_cast<install_run*>(calloc(1, sizeof(install_run)));
  ~run_record() {
    if (run == nullptr) return;
    release_file_identities(&run->verified);
    free(run);
  }
  run_record() = default;
  run_record(const run_record&) = delete;
  run_record& operator=(const run_record&) = delete;
};

void origin_url(wchar_t url[URL_UNITS], const wchar_t* path, const wchar_t* query) {
  text_builder text = start_text(url, URL_UNITS);
  builder_append(&text, VORNA380_RELEASE_ORIGIN);
  builder_append(&text, path);
  builder_append(&text, query);
}

// A signed manifest stays valid for ever: an older release served again is refused. A mark
// that cannot be read still says a numbered release was installed, so an unnumbered one is
// older. 1 when the manifest's release is older; *stored gets the mark, *known whether it was read.
int release_is_older(const release_manifest* manifest, uint64_t* stored, int* known) {
  uint64_t mark = 0;
  int mark_known = read_sequence_mark(&mark);
  if (stored != nullptr) *stored = mark;
  if (known != nullptr) *known = mark_known;
  return mark_known ? manifest->sequence < mark : manifest->sequence == 0;
}

int error_ending(const wchar_t* text) {
  post_text(WM_LAUNCHER_ERROR, text);
  return 0;
}

// A client found valid may follow a run stopped between its activation and the end of it:
// the marker is brought in line and the package that run installed goes.
void finish_interrupted_installation(const install_run* run) {
  if (!release_marker_holds(run->manifest.version)) {
    write_log(L"Le marqueur de version ne correspond pas au client valide: il est reecrit.");
    write_release_marker(run->manifest.version);
  }
  uint64_t size = 0;
  if (os_file_size(run->package, &size)) {
    os_delete_file(run->package);
    write_log_with_path(L"Suppression du package d'une installation deja activee: ", run->package);
  }
  forget_package_resume(run->package);
}

// A numbered release that raises the mark raises it to its number.
int ready_ending(const install_run* run, const wchar_t* text) {
  if (run->update_mark && run->manifest.sequence != 0) write_sequence_mark(run->manifest.sequence);
  remove_launcher_update_file();
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

// The manifest and its signature, downloaded. fresh: past every cache between the launcher and
// the origin (a query that no cache has seen and that the origin ignores).
int download_pair(install_run* run, bool fresh) {
  wchar_t query[32];
  text_builder text = start_text(query, 32);
  if (fresh) {
    builder_append(&text, L"?fresh=");
    builder_append_uint(&text, os_monotonic_ms(), 1);
  }
  wchar_t url[URL_UNITS];
  origin_url(url, L"dl/Vorna380.release.manifest", query);
  if (!download_small(url, run->manifest_copy)) return 0;
  origin_url(url, L"dl/Vorna380.release.manifest.sig", query);
  return download_small(url, run->signature_copy);
}

// 1 when the downloaded signature holds for the downloaded manifest, read into run->manifest.
int pair_verifies(install_run* run) {
  uint32_t manifest_length = 0;
  uint32_t signature_length = 0;
  char* manifest = read_file(run->manifest_copy, MANIFEST_LIMIT, &manifest_length);
  char* signature = read_file(run->signature_copy, SIGNATURE_LIMIT, &signature_length);
  memset(&run->manifest, 0, sizeof run->manifest);
  int valid = manifest != nullptr && signature != nullptr &&
              verify_release_signature(reinterpret_cast<unsigned char*>(manifest), manifest_length,
                                       reinterpret_cast<unsigned char*>(signature), signature_length) &&
              parse_manifest(manifest, &run->manifest);
  free(manifest);
  free(signature);
  return valid;
}

// Downloads and checks the signed manifest into run->manifest: 1 on success, else the ending (0).
// A cache may hold the manifest of one release and the signature of the next while a release is
// published, or an older release than the one installed: such a pair is asked once more past
// every cache. Nothing is trusted on the way: the second pair goes through the same checks.
int load_manifest(install_run* run) {
  if (!download_pair(run, false)) return error_ending(k_manifest_download_failed);
  int valid = pair_verifies(run);
  if (!valid || release_is_older(&run->manifest, nullptr, nullptr)) {
    write_log(valid ? L"Release servie plus ancienne que celle installee: nouvelle demande sans cache."
                    : L"Manifeste et signature en desaccord: nouvelle demande sans cache.");
    if (!download_pair(run, true)) return error_ending(k_manifest_download_failed);
    valid = pair_verifies(run);
  }
  if (!valid) return error_ending(k_signature_invalid);
  int64_t now = 0;
  if (manifest_expiry_missing(&run->manifest)) {
    write_log(L"Release servie sans date d'expiration: ce launcher n'accepte que des releases qui expirent.");
    return error_ending(k_expired_release);
  }
  if (manifest_expired(&run->manifest, &now)) {
    journal_expired_release(run->manifest.expires, now);
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
int light_update(install_run* run) {
  int is_folder = 0;
  uint32_t error = 0;
  if (!examine_entry(g_client, &is_folder, &error)) return 0;
  if (!refresh_pinned_files(&run->manifest)) return 0;
  set_status(L"Launcher graphique importe sans telechargement complet. Verification...");
  crash_point("after-status-light-check");
  return verify_integrity_reusing(g_client, run->manifest.integrity_sha256, &run->verified, &run->verified);
}

// Where the download hashed the package as it wrote it, the file is not read again.
int package_is_release(install_run* run, const body_digest* streamed) {
  return streamed->known ? package_digest_matches(run->package, streamed->bytes, streamed->digest, &run->manifest)
                         : verify_package_file(run->package, &run->manifest);
}

// Steps from the download to the staged check: 1 when the staging folder is verified, else
// the ending (0).
int download_and_extract(install_run* run, int package_reusable) {
  if (!package_reusable) {
    set_download_progress(run->package, run->manifest.package_size);
    set_status(L"Telechargement automatique du client complet (premier lancement)...");
    crash_point("after-status-download");
    // Never more than the signed manifest announces; a package stopped earlier is resumed.
    int resumed = resumable_package_bytes(&run->manifest, run->package) > 0;
    body_digest streamed = {};
    int downloaded = download_package(&run->manifest, run->package, &streamed);
    set_indeterminate_progress();
    if (!downloaded) return error_ending(L"Le telechargement du client a echoue.");
    set_status(L"Verification SHA-256 du package telecharge...");
    crash_point("after-status-package-digest");
    int valid = package_is_release(run, &streamed);
    if (!valid && (resumed || release_host_count() > 1)) {
      // A package that fails, resumed or from one of several hosts, is fetched once more from
      // its first byte (from the next host), never more.
      release_host_failed();
      write_log(resumed ? L"Package reconstitue invalide: nouveau telechargement complet."
                        : L"Package invalide: nouveau telechargement complet depuis l'hote suivant.");
      os_delete_file(run->package);
      forget_package_resume(run->package);
      set_download_progress(run->package, run->manifest.package_size);
      downloaded = download_package(&run->manifest, run->package, &streamed);
      set_indeterminate_progress();
      valid = downloaded && package_is_release(run, &streamed);
    }
    if (!valid) {
      os_delete_file(run->package);
      forget_package_resume(run->package);
      return error_ending(L"Package altere, incomplet ou de taille incorrecte. Installation bloquee.");
    }
  }
  set_status(L"Extraction securisee du client...");
  crash_point("after-status-extraction");
  job_parameters extraction = extract_job(run->package, run->staging);
  if (!powershell(k_extract_script, &extraction)) return error_ending(L"L'extraction du client a echoue.");
  set_status(L"Verification de tous les fichiers extraits...");
  crash_point("after-status-extracted-check");
  if (!verify_integrity(run->staging, run->manifest.integrity_sha256)) {
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

namespace {
// An older release is refused; a numbered one is taken and its number becomes the mark. 1 to go
// on, else the ending.
int check_release_order(install_run* run) {
  uint64_t stored = 0;
  int mark_known = 0;
  if (release_is_older(&run->manifest, &stored, &mark_known)) {
    journal_older_release(run->manifest.sequence, stored);
    return error_ending(k_older_release);
  }
  run->update_mark = !mark_known || run->manifest.sequence > stored;
  return 1;
}

// The cheapest ways: the active client valid as it is, or after the light update. 1 when one
// of them ended the run ready.
int active_client_ready(install_run* run) {
  set_status(L"Controle complet des fichiers installes...");
  crash_point("after-status-installed-check");
  const wchar_t* ending = nullptr;
  if (verify_integrity_reusing(g_client, run->manifest.integrity_sha256, nullptr, &run->verified)) {
    ending = L"Client officiel valide. Pret a jouer.";
  } else if (light_update(run)) {
    ending = L"Launcher importe. Client officiel valide. Pret a jouer.";
  }
  if (ending == nullptr) return 0;
  finish_interrupted_installation(run);
  return ready_ending(run, ending);
}

// A package left behind that no longer verifies goes now, so that its bytes do not count
// against the free space. 1 when the package there is the release's.
int keep_package_if_valid(install_run* run) {
  set_status(L"Recherche d'un package deja telecharge et valide...");
  crash_point("after-status-package-check");
  int reusable = verify_package_file(run->package, &run->manifest);
  uint64_t size = 0;
  uint64_t partial = reusable ? 0 : resumable_package_bytes(&run->manifest, run->package);
  if (partial > 0) {
    write_log_with_number(L"Package partiel garde pour reprendre son telechargement: ", partial, L" octets.");
  } else if (!reusable && os_file_size(run->package, &size)) {
    os_delete_file(run->package);
    forget_package_resume(run->package);
    write_log_with_path(L"Suppression du package inutilisable avant le telechargement: ", run->package);
  }
  return reusable;
}

// The full path: the disk-space rule, then the package (reused or downloaded) extracted and
// checked. 1 with a verified staging folder, else the ending (0).
int full_path(install_run* run, int package_reusable) {
  // Whatever is in the staging folder now is stale; its bytes must not count against the free
  // space the extraction needs.
  set_aside_staging(run->staging);
  // The bytes of a partial package are part of the package already on disk.
  uint64_t free_bytes = 0;
  uint64_t partial = package_reusable ? 0 : resumable_package_bytes(&run->manifest, run->package);
  if (!query_free_bytes(g_root, &free_bytes) ||
      !enough_disk_space(free_bytes + partial, run->manifest.package_size)) {
    return error_ending(k_disk_space);
  }
  if (package_reusable) {
    set_status(L"Package deja telecharge et valide. Aucun nouveau telechargement necessaire...");
    crash_point("after-status-package-found");
  }
  return download_and_extract(run, package_reusable);
}

// A verified staging folder by the cheapest way left: one staged earlier, the update by the
// file, or the full path. 1 when staged, else the ending (0).
int stage_client(install_run* run) {
  set_status(L"Recherche d'un client deja telecharge et valide...");
  crash_point("after-status-staged-check");
  if (verify_integrity(run->staging, run->manifest.integrity_sha256)) {
    set_status(L"Client deja telecharge et valide. Reprise de l'activation sans telechargement...");
    crash_point("after-status-staged-found");
    return 1;
  }
  int package_reusable = keep_package_if_valid(run);
  // With an active client, only the files it lacks may need fetching.
  int is_folder = 0;
  uint32_t error = 0;
  run->files_linked = !package_reusable && examine_entry(g_client, &is_folder, &error) && is_folder &&
                      update_by_file(&run->manifest, run->staging, &run->verified);
  return run->files_linked || full_path(run, package_reusable);
}

int activate_and_finish(install_run* run) {
  wchar_t failure[FAILURE_TEXT_UNITS];
  if (!activate_staged_client(run->staging, failure, run->files_linked)) return error_ending(failure);
  write_release_marker(run->manifest.version);
  crash_point("after-release-marker");
  os_delete_file(run->package);
  forget_package_resume(run->package);
  crash_point("after-package-deleted");
  prune_rollback_folders();
  return ready_ending(run, L"Installation terminee. Pret a jouer.");
}
}  // namespace

int run_install_worker() {
  run_record record;
  install_run* run = record.run;
  if (run == nullptr) return error_ending(L"Memoire insuffisante pour l'installation.");
  join_path(run->manifest_copy, g_root, L"release.manifest.tmp");
  join_path(run->signature_copy, g_root, L"release.manifest.sig.tmp");
  join_path(run->package, g_root, L"Vorna380.package.zip");
  join_path(run->staging, g_root, L"Client.new");
  remove_run_leftovers();
  reset_release_hosts();

  set_status(L"Verification de la release officielle...");
  crash_point("after-status-manifest");
  if (!load_manifest(run) || !check_release_order(run)) return 0;
  if (update_launcher(&run->manifest) == LAUNCHER_HANDED_OVER) return 1;
  if (active_client_ready(run)) return 1;
  return stage_client(run) && activate_and_finish(run);
}
