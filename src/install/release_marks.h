// The two marks a run leaves in g_root, both written whole or not at all (a temporary beside the
// mark, flushed, moved over it): the release marker "installed-release.txt", the version of the
// active client, and the sequence mark "release-sequence.txt", the highest release number
// installed here, which refuses an older release served again.
#pragma once

#include <cstdint>

constexpr uint32_t SEQUENCE_MARK_LIMIT = 64;  // largest sequence mark file read

// Writes the version, in UTF-8 without line end, into "installed-release.txt". Failures only
// write journal lines.
void write_release_marker(const wchar_t* version);
// 1 when "installed-release.txt" holds exactly that version, as written above.
int release_marker_holds(const wchar_t* version);

// The highest release sequence installed here into *sequence: 1 with the number (1 to 19
// digits, then only spaces, tabs, CR or LF), or with 0 when there is no such file (no numbered
// release was ever installed here); 0, journalled, when something is there that cannot be read
// as such a number.
int read_sequence_mark(uint64_t* sequence);
// Replaces the mark with the sequence (an empty folder in its place is removed first). Failures
// only write journal lines.
void write_sequence_mark(uint64_t sequence);
