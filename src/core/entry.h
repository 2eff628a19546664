// Mode dispatch shared by wWinMain (Windows) and main (Linux).
#pragma once

// argv holds argc arguments, the program path first; argc 0 when the command line could not
// be split. Returns the process exit code.
int launcher_main(int argc, wchar_t** argv);

// --verify-release MANIFEST SIGNATURE: 0 when both are valid, 2 otherwise.
int run_release_check(const wchar_t* manifest_path, const wchar_t* signature_path);
