#include "install/leftovers.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/text.h"
#include "install/activation.h"
#include "install/platform.h"

namespace {
const wchar_t k_discard_prefix[] = L"Client.discard.";
const wchar_t k_rollback_prefix[] = L"Client.rollback.";

// Paths of the worker, which runs once at a time.
wchar_t s_path[PATH_UNITS];

int remove_or_journal(const wchar_t* path, const wchar_t* label) {
  uint32_t error = 0;
  if (remove_tree(path, &error)) return 1;
  log_windows_error(label, error);
  write_log_with_path(L"Dossier laisse en place pour un prochain demarrage: ", path);
  return 0;
}

void remove_discarded(const wchar_t* name, void*) {
  join_path(s_path, g_root, name);
  remove_or_journal(s_path, L"Suppression d'un ancien dossier de travail impossible");
}

// Rollback folder names, each in a slot of ROLLBACK_NAME_UNITS; grows as needed.
struct name_list {
  wchar_t* slots = nullptr;
  size_t count = 0;
  size_t capacity = 0;
  bool complete = true;  // every name found was kept
};

void collect_name(const wchar_t* name, void* context) {
  name_list* list = static_cast<name_list*>(context);
  if (wcslen(name) >= ROLLBACK_NAME_UNITS) return;  // never one of ours
  if (list->count == list->capacity) {
    size_t capacity = list->capacity == 0 ? 16 : list->capacity * 2;
    void* grown = realloc(list->slots, capacity * ROLLBACK_NAME_UNITS * sizeof(wchar_t));
    if (grown == nullptr) {
      list->complete = false;
      return;
    }
    list->slots = static_cast<wchar_t*>(grown);
    list->capacity = capacity;
  }
  copy_text(list->slots + list->count++ * ROLLBACK_NAME_UNITS, ROLLBACK_NAME_UNITS, name);
}
}  // namespace

int set_aside_staging(const wchar_t* staging) {
  int is_folder = 0;
  uint32_t error = 0;
  if (!examine_entry(staging, &is_folder, &error)) return error_means_missing(error);
  wchar_t name[ROLLBACK_NAME_UNITS];
  text_builder text = start_text(name, ROLLBACK_NAME_UNITS);
  builder_append(&text, k_discard_prefix);
  builder_append_uint(&text, os_system_time_1601(), 1);
  builder_append_char(&text, L'.');
  builder_append_uint(&text, own_process_id(), 1);
  join_path(s_path, g_root, name);
  if (!rename_entry_once(staging, s_path, &error)) {
    log_windows_error(L"Mise a l'ecart de l'ancien dossier Client.new impossible", error);
    return remove_or_journal(staging, L"Suppression de l'ancien dossier Client.new impossible");
  }
  remove_or_journal(s_path, L"Suppression de l'ancien dossier Client.new impossible");
  return 1;
}

void remove_run_leftovers() {
  const wchar_t* files[] = {L"Vorna380.files.zip", L"Vorna380.files.list"};
  for (const wchar_t* file : files) {
    join_path(s_path, g_root, file);
    uint64_t size = 0;
    if (!os_file_size(s_path, &size)) continue;
    os_delete_file(s_path);
    write_log_with_path(L"Suppression d'un fichier laisse par une execution interrompue: ", s_path);
  }
  visit_entries(g_root, k_discard_prefix, remove_discarded, nullptr);
}

void prune_rollback_folders() {
  name_list list;
  const wchar_t** sorted = nullptr;
  // Only a full listing says which folders are the newest.
  if (visit_entries(g_root, k_rollback_prefix, collect_name, &list) && list.complete &&
      list.count > ROLLBACK_FOLDERS_KEPT) {
    sorted = static_cast<const wchar_t**>(malloc(list.count * sizeof(const wchar_t*)));
  }
  if (sorted != nullptr) {
    for (size_t i = 0; i < list.count; ++i) sorted[i] = list.slots + i * ROLLBACK_NAME_UNITS;
    std::sort(sorted, sorted + list.count, [](const wchar_t* a, const wchar_t* b) { return wcscmp(a, b) < 0; });
    for (size_t i = 0; i + ROLLBACK_FOLDERS_KEPT < list.count; ++i) {
      join_path(s_path, g_root, sorted[i]);
      if (remove_or_journal(s_path, L"Suppression d'un ancien dossier de retour impossible")) {
        write_log_with_path(L"Ancien dossier de retour supprime: ", s_path);
      }
    }
  }
  free(sorted);
  free(list.slots);
}
