// The light update: a few client files published one by one, each with a digest and a size
// fixed at build time (the integrity list's digest comes from the signed manifest), refreshed
// in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trust/manifest.h"

constexpr size_t PINNED_ROW_COUNT = 9;
constexpr size_t PINNED_URL_UNITS = 2048;

struct pinned_row {
  const wchar_t* status;       // status text set just before the row, or null
  const wchar_t* destination;  // relative to g_client, with '/' separators
  const wchar_t* server_path;  // on the release origin, without the leading '/'
  const wchar_t* digest;       // pinned digest text; null: the manifest's integrity_sha256
  uint64_t size;               // pinned size in bytes; the integrity list's: its largest size
};
extern const pinned_row k_pinned_rows[PINNED_ROW_COUNT];

// Downloads url into "launcher-delta.tmp" in g_root through the download job, stopped beyond
// size_cap bytes where the job can stop it (a larger file is refused in any case), compares
// its SHA-256 with the expected digest (any letter case) and moves it over the destination
// (relative to g_client), replacing it, written through. 1 when the destination now holds a
// file with that digest; 0 otherwise, the destination untouched and, unless the download
// itself failed, no temporary file left.
int replace_downloaded_file(const wchar_t* url, const wchar_t* destination, const wchar_t* expected_digest,
                            uint64_t size_cap);

// The rows in order, each after its status text. The first row that fails ends the refresh
// (0), leaving the rows before it replaced; 1 when all nine were replaced.
int refresh_pinned_files(const release_manifest* manifest);
