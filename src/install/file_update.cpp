// The update and repair by the file, in the order build_staging runs it:
//   release_list, compare_listed_files    the release's list and which files already match
//   read_package_directory, choose_entries   the package's directory by range, the entries to fetch
//   room_for_entries, fetch_entries       the disk rule, then the spans into "Vorna380.files.zip"
//   extraction, join_matching_files       the entries into "Client.new", matching files linked in
//   update_by_file                        the programs closed, the last check, or a clean give-up
#include "install/file_update.h"
#include "install/span_copy.h"

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "integrity/compare.h"
#include "integrity/list.h"
#include "install/install_worker.h"
#include "install/leftovers.h"
#include "install/platform.h"
#include "install/processes.h"
#include "integrity/verify.h"
#include "release_profile.h"
#include "transfer/download.h"
#include "transfer/release_hosts.h"
#include "transfer/powershell.h"
#include "transfer/zip_directory.h"

namespace {
constexpr size_t LINE_UNITS = 512;
constexpr size_t URL_UNITS = 2048;

// The paths of one update, on the heap: the worker's stack is too small for them.
struct update_paths {
  wchar_t list_copy[PATH_UNITS];  // the release's list, when fetched
  wchar_t files_zip[PATH_UNITS];  // the smaller zip of the fetched entries
  wchar_t from[PATH_UNITS];
  wchar_t to[PATH_UNITS];
  wchar_t relative[PATH_UNITS];
  wchar_t folder[PATH_UNITS];
  wchar_t made[PATH_UNITS];  // the folder made last in staging
};

int give_up(const wchar_t* why) {
  wchar_t line[LINE_UNITS];
  text_builder text = start_text(line, LINE_UNITS);
  builder_append(&text, L"Echec de la mise a jour par fichier : ");
  builder_append(&text, why);
  builder_append(&text, L". Repli sur le telechargement complet.");
  write_log(line);
  return 0;
}

// Everything one run holds; released by release_run, but for the identities.
struct run_state {
  char* list = nullptr;
  uint32_t list_length = 0;
  list_entry* entries = nullptr;
  size_t entry_count = 0;
  unsigned char* matches = nullptr;
  file_identities identities = {};  // of the matching files, for the final check
  unsigned char* tail = nullptr;
  unsigned char* directory = nullptr;
  zip_entry* zip = nullptr;  // the package's entries, sorted by local offset
  size_t zip_count = 0;
  size_t zip_capacity = 0;
  size_t* by_name = nullptr;    // indexes into zip, sorted by name
  zip_entry* chosen = nullptr;  // the entries to fetch, in the package's order
  zip_span* spans = nullptr;
  uint64_t* new_offsets = nullptr;  // of each chosen entry in the smaller zip
  size_t chosen_count = 0;
  uint64_t fetched_bytes = 0;       // the chosen spans of the package
  uint64_t written_bytes = 0;       // the smaller zip's entries, before its directory
  uint64_t uncompressed_bytes = 0;  // what the server declares the chosen entries hold
  int write_failed = 0;             // the smaller zip could not be written here
  zip_span* ranges = nullptr;
  unsigned char* header = nullptr;
  unsigned char* written_directory = nullptr;
  os_file* file = nullptr;
  range_connection* connection = nullptr;  // shared by every range request of the run
  update_paths* paths = nullptr;           // freed by update_by_file
};

void release_run(run_state* run) {
  if (run->file != nullptr) os_close_file(run->file);
  close_range_connection(run->connection);
  free(run->list);
  free(run->entries);
  free(run->matches);
  free(run->tail);
  free(run->directory);
  free(run->zip);
  free(run->by_name);
  free(run->chosen);
  free(run->spans);
  free(run->new_offsets);
  free(run->ranges);
  free(run->header);
  free(run->written_directory);
  file_identities identities = run->identities;  // kept for the final check
  *run = run_state();
  run->identities = identities;
}

struct list_download {
  const release_manifest* manifest;
  update_paths* paths;
  uint32_t* length;
  char* text;
};

// One host's copy of the list: 1 when it matches the manifest's digest.
int fetch_release_list(const wchar_t* url, void* context) {
  list_download* list = static_cast<list_download*>(context);
  job_parameters download = download_job(url, list->paths->list_copy, INTEGRITY_LIST_LIMIT);
  if (powershell(k_download_script, &download)) {
    list->text = read_checked_list_file(list->paths->list_copy, list->manifest->integrity_sha256, list->length);
  }
  os_delete_file(list->paths->list_copy);
  return list->text != nullptr;
}

// The list of the release: the active client's when the light update already put it there,
// else the one the release hosts publish beside the package.
char* release_list(const release_manifest* manifest, update_paths* paths, uint32_t* length) {
  join_path(paths->from, g_client, L"client-integrity.sha256");
  char* text = read_checked_list_file(paths->from, manifest->integrity_sha256, length);
  if (text != nullptr) return text;
  wchar_t url[URL_UNITS];
  text_builder builder = start_text(url, URL_UNITS);
  builder_append(&builder, VORNA380_RELEASE_ORIGIN);
  builder_append(&builder, L"dl/client-integrity.sha256");
  list_download list = {manifest, paths, length, nullptr};
  on_release_hosts(url, fetch_release_list, &list);
  return list.text;
}

struct memory_sink {
  unsigned char* bytes;
  size_t used;
  size_t capacity;
};

int take_into_memory(void* context, const unsigned char* bytes, size_t count) {
  memory_sink* sink = static_cast<memory_sink*>(context);
  if (count > sink->capacity - sink->used) return 0;
  memcpy(sink->bytes + sink->used, bytes, count);
  sink->used += count;
  return 1;
}

// The bytes [begin, end) of the package in a malloc'd buffer; null on any failure.
unsigned char* fetch_to_memory(const release_manifest* manifest, uint64_t begin, uint64_t end,
                               range_connection* connection) {
  size_t count = static_cast<size_t>(end - begin);
  memory_sink sink = {static_cast<unsigned char*>(malloc(count > 0 ? count : 1)), 0, count};
  if (sink.bytes == nullptr) return nullptr;
  range_sink target = {take_into_memory, &sink};
  if (!download_range(manifest->package_url, begin, end, manifest->package_size, &target, connection) ||
      sink.used != count) {
    free(sink.bytes);
    return nullptr;
  }
  return sink.bytes;
}

int collect_entry(const zip_entry* entry, void* context) {
  run_state* run = static_cast<run_state*>(context);
  if (run->zip_count == run->zip_capacity) return 0;
  run->zip[run->zip_count++] = *entry;
  return 1;
}

int compare_names(const char* a, size_t a_bytes, const char* b, size_t b_bytes) {
  int order = memcmp(a, b, a_bytes < b_bytes ? a_bytes : b_bytes);
  if (order != 0) return order;
  return a_bytes < b_bytes ? -1 : (a_bytes > b_bytes ? 1 : 0);
}

// The package entry of that name (not a folder), or SIZE_MAX.
size_t find_entry(const run_state* run, const char* name, size_t bytes) {
  size_t low = 0;
  size_t high = run->zip_count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    const zip_entry& entry = run->zip[run->by_name[middle]];
    int order = compare_names(entry.name, entry.name_bytes, name, bytes);
    if (order == 0) return entry.is_folder ? SIZE_MAX : run->by_name[middle];
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return SIZE_MAX;
}

// Reads the package's end records and central directory into run->zip, sorted by offset.
const wchar_t* read_package_directory(const release_manifest* manifest, run_state* run, zip_directory_place* place) {
  uint64_t size = manifest->package_size;
  uint64_t tail_begin = size > ZIP_TAIL_BYTES ? size - ZIP_TAIL_BYTES : 0;
  run->connection = open_range_connection();
  run->tail = fetch_to_memory(manifest, tail_begin, size, run->connection);
  if (run->tail == nullptr) return L"fin du package non servie par plage (206)";
  if (!zip_locate_directory(run->tail, static_cast<size_t>(size - tail_begin), size, place) || place->size == 0 ||
      place->entries == 0 || place->size > ZIP_DIRECTORY_LIMIT || place->entries > ZIP_ENTRIES_LIMIT) {
    return L"fin du package illisible";
  }
  run->directory = fetch_to_memory(manifest, place->offset, place->offset + place->size, run->connection);
  if (run->directory == nullptr) return L"repertoire central non servi par plage (206)";
  run->zip_capacity = static_cast<size_t>(place->entries);
  run->zip = static_cast<zip_entry*>(malloc((run->zip_capacity > 0 ? run->zip_capacity : 1) * sizeof(zip_entry)));
  if (run->zip == nullptr) return L"memoire insuffisante";
  if (!zip_read_directory(run->directory, place, collect_entry, run)) return L"repertoire central refuse";
  std::sort(run->zip, run->zip + run->zip_count,
            [](const zip_entry& a, const zip_entry& b) { return a.local_offset < b.local_offset; });
  run->by_name = static_cast<size_t*>(malloc((run->zip_count > 0 ? run->zip_count : 1) * sizeof(size_t)));
  if (run->by_name == nullptr) return L"memoire insuffisante";
  for (size_t i = 0; i < run->zip_count; ++i) run->by_name[i] = i;
  const zip_entry* zip = run->zip;
  std::sort(run->by_name, run->by_name + run->zip_count, [zip](size_t a, size_t b) {
    return compare_names(zip[a].name, zip[a].name_bytes, zip[b].name, zip[b].name_bytes) < 0;
  });
  return nullptr;
}

// The package entry of a listed path: the list may separate with '\\' where zip names use '/'.
size_t find_listed_entry(const run_state* run, const list_entry& entry, char name[ZIP_NAME_LIMIT]) {
  size_t bytes = entry.length - ENTRY_PATH_OFFSET;
  if (bytes > ZIP_NAME_LIMIT) return SIZE_MAX;
  const char* path = entry.line + ENTRY_PATH_OFFSET;
  for (size_t i = 0; i < bytes; ++i) name[i] = path[i] == '\\' ? '/' : path[i];
  return find_entry(run, name, bytes);
}

// Adds without wrapping around: a sum past the top stays at the top.
uint64_t add_capped(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// Picks the entries of the listed files that do not match, with their spans: from the local
// header to the next entry's, or to the directory. Null, or why not.
const wchar_t* choose_entries(const zip_directory_place* place, run_state* run) {
  unsigned char* wanted = static_cast<unsigned char*>(calloc(run->zip_count > 0 ? run->zip_count : 1, 1));
  char* name = static_cast<char*>(malloc(ZIP_NAME_LIMIT));
  const wchar_t* why = wanted == nullptr || name == nullptr ? L"memoire insuffisante" : nullptr;
  for (size_t i = 0; i < run->entry_count && why == nullptr; ++i) {
    if (run->matches[i]) continue;
    size_t found = find_listed_entry(run, run->entries[i], name);
    if (found == SIZE_MAX) why = L"fichier liste absent du package";
    if (found != SIZE_MAX) wanted[found] = 1;
  }
  free(name);
  if (why != nullptr) {
    free(wanted);
    return why;
  }
  size_t count = 0;
  for (size_t i = 0; i < run->zip_count; ++i) count += wanted[i];
  run->chosen = static_cast<zip_entry*>(malloc((count > 0 ? count : 1) * sizeof(zip_entry)));
  run->spans = static_cast<zip_span*>(malloc((count > 0 ? count : 1) * sizeof(zip_span)));
  run->new_offsets = static_cast<uint64_t*>(malloc((count > 0 ? count : 1) * sizeof(uint64_t)));
  if (run->chosen == nullptr || run->spans == nullptr || run->new_offsets == nullptr) {
    free(wanted);
    return L"memoire insuffisante";
  }
  for (size_t i = 0; i < run->zip_count; ++i) {
    if (!wanted[i]) continue;
    const zip_entry& entry = run->zip[i];
    uint64_t end = i + 1 < run->zip_count ? run->zip[i + 1].local_offset : place->offset;
    run->chosen[run->chosen_count] = entry;
    run->spans[run->chosen_count] = {entry.local_offset, end};
    run->new_offsets[run->chosen_count] = run->written_bytes;
    // The spans sum to at most the archive's size, and each entry's header and data lie in it.
    run->fetched_bytes += end - entry.local_offset;
    run->written_bytes += span_copy_entry_bytes(&entry);
    run->uncompressed_bytes = add_capped(run->uncompressed_bytes, entry.uncompressed_size);
    ++run->chosen_count;
  }
  free(wanted);
  return count == 0 ? L"aucun fichier a telecharger" : nullptr;
}

int write_to_file(void* context, const unsigned char* bytes, size_t count) {
  run_state* run = static_cast<run_state*>(context);
  if (os_write_file(run->file, bytes, count)) return 1;
  run->write_failed = 1;
  return 0;
}

// Room for the smaller zip and for every chosen entry at the size the server declares (the
// extraction stops each entry there), with the usual reserve.
int room_for_entries(const run_state* run) {
  uint64_t needed = add_capped(run->written_bytes, zip_own_directory_bound(run->chosen, run->chosen_count));
  needed = add_capped(add_capped(needed, run->uncompressed_bytes), DISK_RESERVE_BYTES);
  uint64_t free_bytes = 0;
  return query_free_bytes(g_root, &free_bytes) && free_bytes >= needed;
}

// Fetches the chosen spans in few ranges into the smaller zip and ends it with its directory.
const wchar_t* fetch_entries(const release_manifest* manifest, run_state* run) {
  run->ranges = static_cast<zip_span*>(malloc(run->chosen_count * sizeof(zip_span)));
  run->header = static_cast<unsigned char*>(malloc(ZIP_LOCAL_HEADER_LIMIT));
  zip_span* spans = static_cast<zip_span*>(malloc(run->chosen_count * sizeof(zip_span)));
  if (run->ranges == nullptr || run->header == nullptr || spans == nullptr) {
    free(spans);
    return L"memoire insuffisante";
  }
  memcpy(spans, run->spans, run->chosen_count * sizeof(zip_span));  // the planner reorders its input
  size_t range_count =
      zip_plan_ranges(spans, run->chosen_count, FILE_UPDATE_GAP_BYTES, FILE_UPDATE_RANGES, run->ranges);
  free(spans);
  run->file = os_create_file(run->paths->files_zip);
  if (run->file == nullptr) return L"fichier des entrees impossible a creer";

  set_download_progress(run->paths->files_zip, run->written_bytes);
  span_copy copy = start_span_copy(run->chosen, run->spans, run->chosen_count, write_to_file, run, run->header);
  range_sink sink = {take_span_bytes, &copy};
  int fetched = 1;
  for (size_t i = 0; i < range_count && fetched; ++i) {
    fetched = span_copy_resume_at(&copy, run->ranges[i].begin) &&
              download_range(manifest->package_url, run->ranges[i].begin, run->ranges[i].end, manifest->package_size,
                             &sink, run->connection);
  }
  set_indeterminate_progress();
  if (run->write_failed) return L"ecriture locale du fichier des entrees impossible (disque plein ou refus)";
  if (!fetched || !span_copy_done(&copy)) return L"entree non servie par plage (206) ou en-tete local refuse";

  uint64_t capacity = zip_own_directory_bound(run->chosen, run->chosen_count);
  if (capacity > ZIP_DIRECTORY_LIMIT + ZIP_TAIL_BYTES) return L"repertoire des entrees trop grand";
  run->written_directory = static_cast<unsigned char*>(malloc(static_cast<size_t>(capacity)));
  if (run->written_directory == nullptr) return L"memoire insuffisante";
  size_t directory_bytes = zip_write_directory(run->chosen, run->new_offsets, run->chosen_count, run->written_bytes,
                                               run->written_directory, static_cast<size_t>(capacity));
  int written = directory_bytes != 0 && os_write_file(run->file, run->written_directory, directory_bytes);
  written = os_close_file(run->file) && written;
  run->file = nullptr;
  return written ? nullptr : L"ecriture locale du fichier des entrees impossible (disque plein ou refus)";
}

// Makes the folder holding path (the last one made is remembered).
int make_parent(update_paths* paths, const wchar_t* path) {
  size_t folder = folder_part_length(path);
  if (folder == 0 || folder >= PATH_UNITS) return 1;
  wmemcpy(paths->folder, path, folder);
  paths->folder[folder] = L'\0';
  if (wcscmp(paths->folder, paths->made) == 0) return 1;
  if (!ensure_directory(paths->folder)) return 0;
  copy_text(paths->made, PATH_UNITS, paths->folder);
  return 1;
}

// A link changes its file's change time (and USN): the identity found matching carries over to
// the link only when the file is, just before the link, still exactly that identity, and, just
// after it, the same file but for what a link changes. Otherwise the file is hashed again.
void link_identity(file_hasher* hasher, const update_paths* paths, const wchar_t* staging, file_identity* identity) {
  file_identity before = {};
  file_identity after = {};
  bool unchanged = hasher != nullptr && identify_file_below(hasher, paths->from, wcslen(g_client), &before) &&
                   same_file_identity(&before, identity);
  bool linked = unchanged && os_hard_link(paths->from, paths->to);
  if (linked && identify_file_below(hasher, paths->to, wcslen(staging), &after) &&
      same_file_but_links(&after, &before)) {
    *identity = after;
    return;
  }
  identity->taken = 0;
  if (!linked) os_hard_link(paths->from, paths->to);  // checked by its content instead
}

// Hard-links every matching listed file of the active client into staging, beside the
// extracted ones, and writes the checked list.
const wchar_t* join_matching_files(run_state* run, const wchar_t* staging) {
  update_paths* paths = run->paths;
  paths->made[0] = L'\0';
  file_hasher* hasher = create_file_hasher();
  const wchar_t* why = nullptr;
  for (size_t i = 0; i < run->entry_count && why == nullptr; ++i) {
    if (!run->matches[i]) continue;
    wchar_t listed[DIGEST_TEXT_UNITS];
    if (!parse_list_entry(run->entries[i].line, run->entries[i].length, listed, paths->relative)) {
      why = L"liste refusee";
      break;
    }
    to_native_separators(paths->relative);
    join_path(paths->from, g_client, paths->relative);
    join_path(paths->to, staging, paths->relative);
    uint64_t size = 0;
    if (!make_parent(paths, paths->to)) {
      why = L"dossier du client mis a jour impossible a creer";
    } else {
      link_identity(hasher, paths, staging, &run->identities.items[i]);
      if (!os_file_size(paths->to, &size)) why = L"lien vers le client installe impossible";
    }
  }
  free_file_hasher(hasher);
  if (why != nullptr) return why;
  join_path(paths->to, staging, L"client-integrity.sha256");
  if (!os_replace_file(paths->to, run->list, run->list_length, nullptr)) return L"liste impossible a ecrire";
  return nullptr;
}

// The whole path but the final check: null when staging was built, else why not.
const wchar_t* build_staging(const release_manifest* manifest, const wchar_t* staging, const file_identities* known,
                             run_state* run) {
  set_status(L"Comparaison du client installe avec la release officielle...");
  run->list = release_list(manifest, run->paths, &run->list_length);
  if (run->list == nullptr) return L"liste de la release indisponible";
  int malformed = 0;
  run->entries = split_list(run->list, &run->entry_count, &malformed);
  if (run->entries == nullptr || malformed) return L"liste de la release refusee";
  size_t slots = run->entry_count > 0 ? run->entry_count : 1;
  run->matches = static_cast<unsigned char*>(malloc(slots));
  run->identities.items = static_cast<file_identity*>(calloc(slots, sizeof(file_identity)));
  run->identities.count = run->entry_count;
  copy_text(run->identities.list_digest, DIGEST_TEXT_UNITS, manifest->integrity_sha256);
  // The list was checked against the same digest: the same entries in the same places.
  const file_identity* reused = identities_for_list(known, manifest->integrity_sha256, run->entry_count);
  if (run->matches == nullptr || run->identities.items == nullptr ||
      !compare_listed_files(g_client, run->entries, run->entry_count, reused, run->matches, run->identities.items)) {
    return L"memoire insuffisante";
  }

  set_status(L"Lecture du sommaire du package officiel...");
  zip_directory_place place = {};
  const wchar_t* why = read_package_directory(manifest, run, &place);
  if (why == nullptr) why = choose_entries(&place, run);
  if (why != nullptr) return why;
  if (run->fetched_bytes > manifest->package_size / FILE_UPDATE_SHARE) return L"trop de fichiers a telecharger";
  // What the server declares is not checked until the end: the disk must hold all of it.
  if (!room_for_entries(run)) return L"espace disque insuffisant pour les fichiers a telecharger";

  set_status(L"Telechargement des seuls fichiers modifies ou endommages...");
  why = fetch_entries(manifest, run);
  if (why != nullptr) return why;
  set_status(L"Extraction securisee des fichiers telecharges...");
  // The extraction empties the staging folder; a stale one is set aside first, since on
  // Windows its links to files a running game holds open cannot be deleted in place.
  if (!set_aside_staging(staging)) return L"ancien dossier Client.new impossible a ecarter";
  job_parameters extraction = extract_job(run->paths->files_zip, staging);
  int extracted = powershell(k_extract_script, &extraction);
  os_delete_file(run->paths->files_zip);
  if (!extracted) return L"extraction des fichiers telecharges impossible";
  // The programs of the active client could write into the files about to be linked: they are
  // closed first, so that each link and the last check see the files as they will be activated.
  set_status(L"Fermeture de l'ancienne version Vorna380 avant activation...");
  close_client_processes();
  return join_matching_files(run, staging);
}
}  // namespace

int update_by_file(const release_manifest* manifest, const wchar_t* staging, const file_identities* known) {
  run_state run;
  run.paths = static_cast<update_paths*>(malloc(sizeof(update_paths)));
  if (run.paths == nullptr) return give_up(L"memoire insuffisante");
  join_path(run.paths->list_copy, g_root, L"Vorna380.files.list");
  join_path(run.paths->files_zip, g_root, L"Vorna380.files.zip");
  const wchar_t* why = build_staging(manifest, staging, known, &run);
  update_paths* paths = run.paths;
  release_run(&run);  // the smaller zip is closed before it is deleted
  os_delete_file(paths->files_zip);
  free(paths);
  if (why == nullptr) {
    // Each linked file still the very file found matching, unchanged since, is not read
    // again; the extracted files and any other are hashed.
    set_status(L"Verification de tous les fichiers du client mis a jour...");
    if (!verify_integrity_reusing(staging, manifest->integrity_sha256, &run.identities, nullptr)) {
      why = L"un fichier ne correspond pas a la liste";
    }
  }
  release_file_identities(&run.identities);
  if (why == nullptr) return 1;
  give_up(why);
  // Nothing of a failed attempt stays: the full path starts from a clean root.
  set_aside_staging(staging);
  return 0;
}
