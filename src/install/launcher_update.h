// The launcher's update of itself, a step of the worker's run between the checked manifest and
// the client. The launcher the signed release names (launcher_url and launcher_sha256; on Linux
// the optional launcher_linux_url and launcher_linux_sha256) is compared with the installed
// one by its SHA-256. A different one is fetched beside it (the launcher's own download, three
// attempts, at most LAUNCHER_DOWNLOAD_LIMIT bytes), checked against the digest, and started
// with --apply-self-update and this process's identifier; then this launcher closes. Every
// failure is journalled and the run goes on with the launcher as it is: a broken launcher
// publication never keeps a player from the game.
#pragma once

#include <cstdint>

#include "trust/manifest.h"

constexpr uint32_t LAUNCHER_DOWNLOAD_LIMIT = 67108864;  // 64 MiB
// Tries per published launcher: a digest tried this many times, or refused, is not tried again
// until the manifest names another one.
constexpr unsigned LAUNCHER_ATTEMPTS_MAX = 2;
// How long a started update must keep running to count as having taken over.
constexpr uint32_t HANDOVER_WATCH_MS = 3000;

enum launcher_update_outcome { LAUNCHER_GO_ON = 1, LAUNCHER_HANDED_OVER = 2 };
launcher_update_outcome update_launcher(const release_manifest* manifest);

// The tries, kept in "launcher-update.txt" in the root as "<digest> <tries>" for the last
// digest tried. root is the launcher root; digest 64 lower-case hexadecimal digits.
unsigned launcher_attempts(const wchar_t* root, const wchar_t* digest);
void record_launcher_attempts(const wchar_t* root, const wchar_t* digest, unsigned attempts);
// A launcher that failed: journalled, and never tried again for that digest.
void refuse_launcher(const wchar_t* root, const wchar_t* digest);

// Removes the update file that a finished or abandoned update left beside the installed
// launcher (Windows keeps it while the update that runs from it has not ended). A launcher
// that handed over to that file leaves it alone.
void remove_launcher_update_file();
