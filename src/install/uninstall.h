// The launcher's own files removed for good: the root (launcher, client, rollback folders,
// staging, package, journal, marks) and nothing outside it.
#pragma once

// Removes the root and everything below it, read-only files included. A link or a junction
// inside is removed itself, never followed, so nothing it points at is touched. 1 when nothing
// is left; else 0, the first failure journalled (in the root, which then still exists), what
// could be removed gone, so that running it again goes on where it stopped.
int remove_launcher_root(const wchar_t* root);
