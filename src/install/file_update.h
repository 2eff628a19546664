// Update and repair by the file: when the active client lacks or differs in only a few listed
// files, only those entries of the package are fetched (range requests against the package's
// central directory), extracted by the usual extraction job, and joined by hard links to the
// active client's matching files in the staging folder, which is then verified in full: the
// extracted files are hashed, and each linked one must still be the very file found matching.
#pragma once

#include <cstddef>
#include <cstdint>

#include "integrity/verify.h"
#include "trust/manifest.h"

// Taken only when the entries to fetch are at most a quarter of the package.
constexpr uint64_t FILE_UPDATE_SHARE = 4;
// Range requests for the entries, whatever their number: neighbours closer than the gap are
// fetched together, then wider gaps until the count fits.
constexpr size_t FILE_UPDATE_RANGES = 200;
constexpr uint64_t FILE_UPDATE_GAP_BYTES = 65536;

// Builds the staging folder from the active client and the fetched entries and verifies it
// against the manifest's list: 1 when it may be activated. 0 when this path does not apply or
// fails; the reason is journalled, the partial staging folder is left for the full path's
// extraction to replace, and no other leftover stays in g_root. known: null, or what the checks
// of the active client found matching earlier in the run, so that those files are not read again.
int update_by_file(const release_manifest* manifest, const wchar_t* staging, const file_identities* known);
