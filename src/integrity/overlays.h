// Locally modified client files that are approved by exact digest pairs, and the checks that
// an overlay in use is complete.
#pragma once

#include <cstddef>

enum overlay_kind { OVERLAY_NONE = -1, OVERLAY_JOB_UX = 0, OVERLAY_BESTIARY = 1, OVERLAY_SHOP = 2 };
constexpr int OVERLAY_COUNT = 3;

// path/path_length: the path exactly as written in the integrity list. Digests are digest
// texts. On approval writes the rule's journal line, stores the overlay to flag (or
// OVERLAY_NONE) and returns 1.
int approve_overlay_entry(const char* path, size_t path_length, const wchar_t* listed, const wchar_t* actual,
                          overlay_kind* flag);

// Hashes every file of the overlay under folder; 1 (with the overlay's journal line) when all
// carry an accepted digest, 0 at the first that does not.
int overlay_complete(const wchar_t* folder, overlay_kind overlay);
