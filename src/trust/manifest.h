// The signed release manifest: its record, parser and digest-text rule. The signature over it
// is checked first (trust/signature.h).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t MANIFEST_LIMIT = 1048576;

// Filled by parse_manifest; the caller zero-fills it first.
struct release_manifest {
  wchar_t version[65];
  wchar_t package_url[2048];
  uint64_t package_size;
  wchar_t package_sha256[65];
  wchar_t integrity_sha256[65];
  wchar_t game_executable[128];
  wchar_t launcher_url[2048];
  wchar_t launcher_sha256[65];
  // The Linux port's launcher, from the optional pair "launcher_linux_url" and
  // "launcher_linux_sha256": both empty when the pair is absent, incomplete or not valid (that
  // port then does not update itself; the release stays acceptable).
  wchar_t launcher_linux_url[2048];
  wchar_t launcher_linux_sha256[65];
  uint64_t sequence;  // release number from the optional "sequence" key; 0 when absent
  int64_t expires;    // last second of the release's life (optional "expires"); NO_EXPIRY when absent
};

constexpr int64_t NO_EXPIRY = INT64_MAX;

// 1 when text (zero-terminated, exactly the signed bytes) is an acceptable manifest and
// every field of the record is filled.
int parse_manifest(const char* text, release_manifest* manifest);

// The optional release number: 1 to 19 decimal digits, no sign, no spaces, at least 1.
constexpr size_t SEQUENCE_DIGITS_MAX = 19;

// Finds the first line "key=value", converts the value from strict UTF-8 into output.
// 0 when missing, empty, capacity bytes or longer, or not valid UTF-8.
int copy_manifest_value(wchar_t* output, size_t capacity, const char* text, const char* key);

// 1 when text is exactly 64 lower-case hexadecimal digits.
int valid_hex64(const wchar_t* text);

// 1 when the manifest names an expiry time and now (seconds since 1970 UTC) lies past it, or
// names none where this build requires one (manifest_expiry_missing); the named second itself
// still belongs to the release's life. There is no allowance for a clock
// that runs fast: releases are published to expire days ahead.
int manifest_expired_at(const release_manifest* manifest, int64_t now);
// 1 when this build requires an expiry time (the profile's release_expiry_required) and the
// manifest names none: such a manifest counts as expired, so that a release signed before
// expiry existed cannot be handed to a new player for ever.
int manifest_expiry_missing(const release_manifest* manifest);
// The same against the system clock, whose reading is left in *now for the journal.
int manifest_expired(const release_manifest* manifest, int64_t* now);
