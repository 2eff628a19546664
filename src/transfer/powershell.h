// The hidden child process that does the two heavy jobs: downloading a large file over HTTPS
// and unpacking the client package into the staging folder. The jobs take their parameters
// from environment variables of the launcher's own process, which the child inherits.
#pragma once

#include <cstddef>

constexpr size_t COMMAND_LINE_UNITS = 8192;

// The two script texts, verbatim.
// Download: VORNA380_DOWNLOAD_URL into VORNA380_DOWNLOAD_DEST, deleting an existing file first.
extern const wchar_t k_download_script[];
// Extraction: empties VORNA380_STAGING_PATH (removed whole and created again), then expands the
// zip archive VORNA380_PACKAGE_PATH into it.
extern const wchar_t k_extract_script[];

// Runs the script in the hidden child (working folder g_root) and waits for it without a time
// limit: 1 when it exited with code 0. Failures are journalled.
int powershell(const wchar_t* script);

// Sets a variable of the launcher's own environment for the next child; 1 on success.
int set_environment_variable(const wchar_t* name, const wchar_t* value);

// The child's command line: the template with the script, cut at 8,191 units.
void format_powershell_command(wchar_t command[COMMAND_LINE_UNITS], const wchar_t* script);

// The end of every run: journals a non-zero exit code; 1 exactly when the code is 0.
int finish_child(unsigned long exit_code);
