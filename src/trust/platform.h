// What each platform half of the release trust supplies to its portable files, besides the
// public operations of digest.h and signature.h.
#pragma once

#include <cstdint>

// The size of the regular file at path (opened as sha256_file opens it); 0 when it cannot be
// opened or queried.
int query_file_size(const wchar_t* path, uint64_t* size);
