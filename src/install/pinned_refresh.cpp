#include "install/pinned_refresh.h"

#include "core/crash_point.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/status.h"
#include "core/text.h"
#include "integrity/verify.h"
#include "release_profile.h"
#include "transfer/powershell.h"
#include "transfer/release_hosts.h"
#include "trust/digest.h"

const pinned_row k_pinned_rows[PINNED_ROW_COUNT] = {
    {L"Mise a jour legere du launcher graphique...", L"Moorbridge.exe", L"dl/Moorbridge.exe",
     VORNA380_DIGEST_PIN_UPDATER, VORNA380_PIN_UPDATER_SIZE},
    {nullptr, L"Moorbridge_d.exe", L"dl/Moorbridge_d.exe", VORNA380_DIGEST_PIN_UPDATER, VORNA380_PIN_UPDATER_SIZE},
    {nullptr, L"Vorna380.LauncherUi.dll", L"dl/Vorna380.LauncherUi.dll", VORNA380_DIGEST_PIN_LAUNCHER_UI,
     VORNA380_PIN_LAUNCHER_UI_SIZE},
    {L"Import des ateliers gemmotaille...", L"data/common/Skills.k5o", L"dl/client-delta/Skills.k5o",
     VORNA380_DIGEST_PIN_SKILLS, VORNA380_PIN_SKILLS_SIZE},
    {nullptr, L"data/common/data.meta", L"dl/client-delta/common-data.meta", VORNA380_DIGEST_PIN_COMMON_META,
     VORNA380_PIN_COMMON_META_SIZE},
    {L"Import du routage Bestiaire...", L"ui/Orlune_Common/Common.swf", L"dl/client-delta/Common.swf",
     VORNA380_DIGEST_C10, VORNA380_C10_SIZE},
    {nullptr, L"ui/Orlune_Taxi/Taxi.swf", L"dl/client-delta/Taxi.swf", VORNA380_DIGEST_T9, VORNA380_T9_SIZE},
    {nullptr, L"ui/Orlune_ContextMenu/ContextMenu.swf", L"dl/client-delta/ContextMenu.swf", VORNA380_DIGEST_M5,
     VORNA380_M5_SIZE},
    {nullptr, L"client-integrity.sha256", L"dl/client-integrity.sha256", nullptr, INTEGRITY_LIST_LIMIT},
};

namespace {
// Paths of the file being refreshed. The refresh runs on the install worker only; path
// buffers are too large for a worker's stack.
wchar_t s_destination[PATH_UNITS];
wchar_t s_temporary[PATH_UNITS];

// Test builds can stop after each of the refresh's three status lines.
void pass_status_point(size_t row) {
  if (row == 0) {
    crash_point("after-status-light-launcher");
  } else if (row == 3) {
    crash_point("after-status-light-skills");
  } else if (row == 5) {
    crash_point("after-status-light-bestiary");
  }
}
}  // namespace

namespace {
struct pinned_download {
  const wchar_t* expected_digest;
  uint64_t size_cap;
};

// One host's copy of the file into s_temporary: 1 when it has the pinned size and digest.
int fetch_pinned_file(const wchar_t* url, void* context) {
  const pinned_download* file = static_cast<const pinned_download*>(context);
  os_delete_file(s_temporary);
  // The Linux job stops at the cap; PowerShell brings the whole file, so the size is checked
  // before the file is read.
  job_parameters download = download_job(url, s_temporary, file->size_cap);
  if (!powershell(k_download_script, &download)) return 0;
  unsigned char digest[DIGEST_BYTES];
  wchar_t actual[DIGEST_TEXT_UNITS];
  uint64_t size = 0;
  if (!os_file_size(s_temporary, &size) || size > file->size_cap || !sha256_file(s_temporary, digest)) return 0;
  digest_hex(digest, actual);
  crash_point("pinned-file-downloaded");
  return equal_ignoring_case(actual, file->expected_digest);
}
}  // namespace

int replace_downloaded_file(const wchar_t* url, const wchar_t* destination, const wchar_t* expected_digest,
                            uint64_t size_cap) {
  join_path(s_destination, g_client, destination);
  join_path(s_temporary, g_root, L"launcher-delta.tmp");
  pinned_download file = {expected_digest, size_cap};
  if (on_release_hosts(url, fetch_pinned_file, &file) && os_move_over(s_temporary, s_destination)) return 1;
  os_delete_file(s_temporary);
  return 0;
}

int refresh_pinned_files(const release_manifest* manifest) {
  for (size_t index = 0; index < PINNED_ROW_COUNT; ++index) {
    const pinned_row& row = k_pinned_rows[index];
    if (row.status != nullptr) set_status(row.status);
    pass_status_point(index);
    wchar_t url[PINNED_URL_UNITS];
    text_builder text = start_text(url, PINNED_URL_UNITS);
    builder_append(&text, VORNA380_RELEASE_ORIGIN);
    builder_append(&text, row.server_path);
    const wchar_t* digest = row.digest != nullptr ? row.digest : manifest->integrity_sha256;
    if (!replace_downloaded_file(url, row.destination, digest, row.size)) return 0;
  }
  return 1;
}
