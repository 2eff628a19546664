// The package download that survives a stop: the bytes it has stay on disk with a record of
// what they are ("Vorna380.package.resume": the package's SHA-256 from the signed manifest and
// the strong validator, the ETag, the server gave for it), and the next attempt, in the same
// run or at a later start, asks only for the rest with the launcher's own range download
// ("Range: bytes=N-" guarded by "If-Range"). Only a 206 for exactly the rest of a file of the
// manifest's size is taken: a changed file is answered whole, which the range refuses, and the
// download starts again from the first byte. Within one run a download that stopped on its way
// (it brought bytes) is tried again, resuming, PACKAGE_ATTEMPTS times in all with a doubling
// pause, on the next release host each time. The validator is the one the server gives for the package's first byte, asked just
// before the whole download begins (the download job's own answer is not the launcher's to
// read on Windows). The whole package's digest is checked by the caller as before.
#pragma once

#include <cstdint>

#include "transfer/powershell.h"
#include "trust/manifest.h"

constexpr unsigned PACKAGE_ATTEMPTS = 4;
constexpr uint32_t PACKAGE_RETRY_PAUSE_MS = 2000;  // the first pause; each next one twice as long

// Downloads the package at path (the manifest's URL and size): 1 when all of it is there.
// streamed gets the body's digest where one download wrote it all (see body_digest).
int download_package(const release_manifest* manifest, const wchar_t* path, body_digest* streamed);
// The bytes of a partial package that a resume can keep (0 when there is none for this
// manifest's package); a partial package of another one goes with its record.
uint64_t resumable_package_bytes(const release_manifest* manifest, const wchar_t* path);
// Removes the resume record (with the package, once it was checked or deleted).
void forget_package_resume(const wchar_t* path);
