// Verification of a whole client folder against its integrity list.
#pragma once

constexpr unsigned INTEGRITY_LIST_LIMIT = 16777216;
constexpr unsigned MINIMUM_VERIFIED_FILES = 1000;

// 1 when the folder's client-integrity.sha256 has the expected digest, every listed file
// matches it (or is approved as an overlay file), every overlay in use is complete, and at
// least 1,000 entries were verified. Refusals of files are journalled.
int verify_integrity(const wchar_t* folder, const wchar_t* expected_digest);

// --verify-integrity FOLDER DIGEST: journal beside the folder; exit code 0, 2 or 3.
int run_integrity_check(const wchar_t* folder, const wchar_t* digest);
