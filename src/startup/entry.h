// Mode dispatch shared by wWinMain (Windows) and main (Linux).
#pragma once

// What each command-line mode runs. The launcher's own table is used by launcher_main; the
// dispatch takes it as a parameter so that the choice of mode can be checked on its own.
struct launcher_modes {
  int (*apply_self_update)(const wchar_t* process_id);
  int (*verify_release)(const wchar_t* manifest_path, const wchar_t* signature_path);
  int (*verify_integrity)(const wchar_t* folder, const wchar_t* list_digest);
  int (*uninstall)(int remove_accounts);
  int (*interactive)();
};

// argv holds argc arguments, the program path first; argc 0 when the command line could not
// be split. Only an exact, lower-case switch in second position with its exact argument count
// selects a mode; every other command line is the interactive start. Returns the exit code.
int dispatch_command_line(int argc, wchar_t** argv, const launcher_modes& modes);

// dispatch_command_line with the launcher's modes.
int launcher_main(int argc, wchar_t** argv);

// --verify-release MANIFEST SIGNATURE: 0 when both are valid, 2 otherwise.
int run_release_check(const wchar_t* manifest_path, const wchar_t* signature_path);
