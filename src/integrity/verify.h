// Verification of a whole client folder against its integrity list.
#pragma once

#include <cstdint>

constexpr unsigned INTEGRITY_LIST_LIMIT = 16777216;
constexpr unsigned MINIMUM_VERIFIED_FILES = 1000;

// 1 when the folder's client-integrity.sha256 has the expected digest, every listed file
// matches it (or is approved as an overlay file), every overlay in use is complete, and at
// least 1,000 entries were verified. Refusals of files are journalled. The files are hashed
// on all the processors the process may use; what is journalled and published is the same
// as with one thread.
int verify_integrity(const wchar_t* folder, const wchar_t* expected_digest);

// verify_integrity with the files hashed by the given number of threads (1: on the calling
// thread only; 0: as verify_integrity chooses).
int verify_integrity_with_threads(const wchar_t* folder, const wchar_t* expected_digest, uint32_t threads);

// --verify-integrity FOLDER DIGEST: journal beside the folder; exit code 0, 2 or 3.
int run_integrity_check(const wchar_t* folder, const wchar_t* digest);
