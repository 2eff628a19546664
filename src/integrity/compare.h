// Which files of a folder already match an integrity list, so that only the others need to be
// fetched. Nothing here accepts a folder: verify_integrity still decides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "integrity/list.h"
#include "trust/digest.h"

// Hashes the folder's file of every entry: matches[i] is 1 when entry i's file has its listed
// digest, 0 when it is missing, unreadable or different; identities[i] is then the identity of
// the file that matched (taken 0 for the others), for verify_integrity_reusing. known: null, or
// count identities of files found matching earlier in the run, read again only if changed.
// 1 when every entry was examined; 0 when out of memory. Drives the verification progress
// display as verify_integrity does.
int compare_listed_files(const wchar_t* folder, const list_entry* entries, size_t count, const file_identity* known,
                         unsigned char* matches, file_identity* identities);
