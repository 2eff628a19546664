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

// The identity of every listed file that a check found to have its listed digest, by its
// place in the list of that digest; taken 0 for every other entry.
struct file_identities {
  wchar_t list_digest[DIGEST_TEXT_UNITS];
  file_identity* items;  // count of them, malloc'd
  size_t count;
};
void release_file_identities(file_identities* identities);
// known's identities when they are those of a list of that digest and count entries, else null.
const file_identity* identities_for_list(const file_identities* known, const wchar_t* list_digest, size_t count);

// verify_integrity for a folder some of whose files were found matching moments before, within
// one run, by an earlier check or comparison (hard links to those files included). An entry
// whose file still has the identity known for it (the same file number of the same volume,
// size and last write time) is not read again; every other file is hashed. known: null, or
// identities for the list of expected_digest. found: null, or where the identities this check
// found go, replacing what it held (it may be known itself); a check that fails keeps those
// of the entries before the failure.
int verify_integrity_reusing(const wchar_t* folder, const wchar_t* expected_digest, const file_identities* known,
                             file_identities* found);

// --verify-integrity FOLDER DIGEST: journal beside the folder; exit code 0, 2 or 3.
int run_integrity_check(const wchar_t* folder, const wchar_t* digest);
