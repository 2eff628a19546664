// Verification of a whole client folder against its integrity list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trust/digest.h"

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

// verify_integrity for a folder whose files may include ones hashed moments before, as
// compare_listed_files reports them: known[i] is the identity entry i's file had when it was
// found to have its listed digest. Such a file that is still the same file (the same file
// number of the same volume, size and last write time; a hard link to it is the same file) is
// not read again; every other file is hashed. known is used only for a list of known_count
// entries.
int verify_integrity_reusing(const wchar_t* folder, const wchar_t* expected_digest, const file_identity* known,
                             size_t known_count);

// --verify-integrity FOLDER DIGEST: journal beside the folder; exit code 0, 2 or 3.
int run_integrity_check(const wchar_t* folder, const wchar_t* digest);
