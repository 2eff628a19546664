#include "integrity/overlays.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/journal.h"
#include "core/paths.h"
#include "core/text.h"
#include "release_profile.h"
#include "trust/digest.h"

namespace {
struct approval_row {
  const char* path;
  const wchar_t* listed;
  const wchar_t* approved[3];  // unused places are null
};

struct approval_rule {
  const approval_row* rows;
  size_t count;
  const wchar_t* journal_line;
  overlay_kind flag;
};

struct completeness_row {
  const wchar_t* path;  // relative, with backslashes
  const wchar_t* accepted[2];
};

#define D(label) VORNA380_DIGEST_##label

const approval_row air_descriptor_approval[] = {
    {"META-INF/AIR/application.xml", D(H0), {D(H1), D(H2), D(H3)}},
};

const approval_row job_ux_approvals[] = {
    {"ui/Orlune_Grimoire/Grimoire.swf", D(G1), {D(G2), D(G3)}},
    {"ui/Orlune_Grimoire/ui/jobTab.xml", D(J1), {D(J2), D(J3)}},
    {"ui/Orlune_Grimoire/Orlune_Grimoire.dm", D(K1), {D(K2)}},
};

// Which version of each file may replace which; row 21 repeats row 13 on purpose.
const approval_row bestiary_approvals[] = {
    {"ui/Orlune_Common/Common.swf", D(C1), {D(C2)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T1), {D(T2)}},
    {"ui/Orlune_ContextMenu/ContextMenu.swf", D(M1), {D(M2)}},
    {"ui/Orlune_Taxi/xml/dungeonSelection.xml", D(D1), {D(D2)}},
    {"ui/Orlune_Taxi/xml/dungeonSelection.xml", D(D1), {D(D3)}},
    {"ui/Orlune_Taxi/xml/dungeonSelection.xml", D(D2), {D(D3)}},
    {"ui/Orlune_Common/Common.swf", D(C2), {D(C3)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T2), {D(T3)}},
    {"ui/Orlune_ContextMenu/ContextMenu.swf", D(M2), {D(M3)}},
    {"ui/Orlune_Common/Common.swf", D(C4), {D(C5)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T4), {D(T3)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T4), {D(T5)}},
    {"ui/Orlune_ContextMenu/ContextMenu.swf", D(M3), {D(M4)}},
    {"ui/Orlune_Common/Common.swf", D(C4), {D(C6)}},
    {"ui/Orlune_Common/Common.swf", D(C4), {D(C7)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T4), {D(T6)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T4), {D(T7)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T4), {D(T8)}},
    {"ui/Orlune_Taxi/xml/dungeonSelection.xml", D(D1), {D(D4)}},
    {"ui/Orlune_Taxi/xml/dungeonSelection.xml", D(D2), {D(D4)}},
    {"ui/Orlune_ContextMenu/ContextMenu.swf", D(M3), {D(M4)}},
    {"ui/Orlune_Common/Common.swf", D(C8), {D(C9)}},
    {"ui/Orlune_Common/Common.swf", D(C8), {D(C10)}},
    {"ui/Orlune_Taxi/Taxi.swf", D(T4), {D(T9)}},
    {"ui/Orlune_ContextMenu/ContextMenu.swf", D(M3), {D(M5)}},
};

const approval_row updater_approval[] = {
    {"Moorbridge.exe", D(P0), {D(P1)}},
};

const approval_row shop_approvals[] = {
    {"data/common/Items.k5o", D(U1), {D(V1)}},         {"data/common/data.meta", D(U2), {D(V2)}},
    {"data/i18n/i18n_fr.k5i", D(U3), {D(V3)}},         {"data/i18n/data.meta", D(U4), {D(V4)}},
    {"ui/Orlune_Storage/Storage.swf", D(U5), {D(V5)}},
};

#define RULE(rows, line, flag) \
  { rows, sizeof rows / sizeof rows[0], line, flag }

// Tried in this order; the first row that approves ends the search.
const approval_rule approval_order[] = {
    RULE(air_descriptor_approval, L"Descripteur AIR historique signe accepte apres normalisation par Moorbridge.",
         OVERLAY_NONE),
    RULE(job_ux_approvals, L"Fichier UX Metiers local approuve par empreinte exacte.", OVERLAY_JOB_UX),
    RULE(bestiary_approvals, L"Fichier Bestiaire local approuve par empreinte exacte.", OVERLAY_BESTIARY),
    RULE(updater_approval, L"Moorbridge Vrel corrige approuve par empreinte exacte.", OVERLAY_NONE),
    RULE(shop_approvals, L"Fichier boutique Vorna380 local approuve par empreinte exacte.", OVERLAY_SHOP),
};

const completeness_row job_ux_files[] = {
    {L"ui\\Orlune_Grimoire\\ui\\items\\jobListItem.xml", {D(L1)}},
};

const completeness_row bestiary_files[] = {
    {L"ui\\Orlune_Common\\Common.swf", {D(C7), D(C6)}},
    {L"ui\\Orlune_Taxi\\Taxi.swf", {D(T8), D(T7)}},
    {L"ui\\Orlune_ContextMenu\\ContextMenu.swf", {D(M4)}},
    {L"ui\\Orlune_Taxi\\xml\\dungeonSelection.xml", {D(D4), D(D3)}},
    {L"ui\\Orlune_Taxi\\assets\\bestiary-skull.png", {D(S1)}},
};

const completeness_row shop_files[] = {
    {L"data\\common\\Items.k5o", {D(V1)}},         {L"data\\common\\data.meta", {D(V2)}},
    {L"data\\i18n\\i18n_fr.k5i", {D(V3)}},         {L"data\\i18n\\data.meta", {D(V4)}},
    {L"ui\\Orlune_Storage\\Storage.swf", {D(V5)}},
};

struct completeness_list {
  const completeness_row* rows;
  size_t count;
  const wchar_t* journal_line;
};

// Indexed by overlay_kind.
const completeness_list completeness_lists[OVERLAY_COUNT] = {
    {job_ux_files, 1, L"Overlay UX Metiers complet et controle."},
    {bestiary_files, 5, L"Overlay Bestiaire complet et controle."},
    {shop_files, 5, L"Overlay boutique Vorna380 complet et controle."},
};

#undef RULE
#undef D

bool row_approves(const approval_row& row, const char* path, size_t path_length, const wchar_t* listed,
                  const wchar_t* actual) {
  if (strlen(row.path) != path_length || memcmp(row.path, path, path_length) != 0) return false;
  if (!equal_ignoring_case(listed, row.listed)) return false;
  for (const wchar_t* approved : row.approved) {
    if (approved != nullptr && equal_ignoring_case(actual, approved)) return true;
  }
  return false;
}
}  // namespace

int approve_overlay_entry(const char* path, size_t path_length, const wchar_t* listed, const wchar_t* actual,
                          overlay_kind* flag) {
  for (const approval_rule& rule : approval_order) {
    for (size_t i = 0; i < rule.count; ++i) {
      if (row_approves(rule.rows[i], path, path_length, listed, actual)) {
        write_log(rule.journal_line);
        *flag = rule.flag;
        return 1;
      }
    }
  }
  return 0;
}

int overlay_complete(const wchar_t* folder, overlay_kind overlay) {
  const completeness_list& list = completeness_lists[overlay];
  wchar_t* buffers = static_cast<wchar_t*>(malloc(2 * PATH_UNITS * sizeof(wchar_t)));
  if (buffers == nullptr) return 0;
  wchar_t* relative = buffers;
  wchar_t* full = buffers + PATH_UNITS;
  const size_t folder_length = wcslen(folder);
  int complete = 1;
  for (size_t i = 0; complete && i < list.count; ++i) {
    const completeness_row& row = list.rows[i];
    copy_text(relative, PATH_UNITS, row.path);
    to_native_separators(relative);
    join_path(full, folder, relative);
    unsigned char digest[DIGEST_BYTES];
    wchar_t actual[DIGEST_TEXT_UNITS];
    complete = sha256_file_below(full, folder_length, digest);
    if (complete) {
      digest_hex(digest, actual);
      complete = equal_ignoring_case(actual, row.accepted[0]) ||
                 (row.accepted[1] != nullptr && equal_ignoring_case(actual, row.accepted[1]));
    }
  }
  free(buffers);
  if (complete) write_log(list.journal_line);
  return complete;
}
