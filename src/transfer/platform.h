// What the Linux half of the jobs keeps in a file of its own: the extraction, done in the
// launcher with libarchive rather than in a child process.
#pragma once

// Expands every entry of the zip archive at package (UTF-8) below the open staging folder,
// stopping at the first entry refused or not written: true when all were written. Refused
// before anything is written for them: entries that are not a regular file or a folder, and
// names that are absolute or climb out with "..".
bool expand_zip(const char* package, int staging);
