// The hidden child process that does the two heavy jobs: downloading a large file over HTTPS
// and unpacking the client package into the staging folder. Each job's two parameters travel
// in the child's environment only: the child gets the launcher's environment with them added,
// and the launcher's own environment is never changed (another thread may be reading it).
#pragma once

#include <cstddef>
#include <cstdint>

#include "trust/digest.h"

constexpr size_t COMMAND_LINE_UNITS = 8192;

// The two script texts, verbatim.
// Download: VORNA380_DOWNLOAD_URL into VORNA380_DOWNLOAD_DEST, deleting an existing file first.
extern const wchar_t k_download_script[];
// Extraction: empties VORNA380_STAGING_PATH (removed whole and created again), then expands the
// zip archive VORNA380_PACKAGE_PATH into it.
extern const wchar_t k_extract_script[];

// The four variables the scripts read. The child never inherits them from the launcher's
// environment: it sees only those of its own job.
constexpr size_t JOB_VARIABLE_NAMES = 4;
extern const wchar_t* const k_job_variable_names[JOB_VARIABLE_NAMES];

struct job_variable {
  const wchar_t* name;
  const wchar_t* value;
};

// One run of a script: its two variables and, for a download, the most bytes it may bring
// (0: no cap). The Linux port stops a download beyond the cap; PowerShell has no such switch
// there, and the callers compare sizes afterwards in any case.
constexpr size_t JOB_VARIABLES = 2;

// The SHA-256 of a downloaded body, taken as the launcher wrote it to the destination (Linux);
// known stays 0 where the child writes the file itself (PowerShell).
struct body_digest {
  int known;
  uint64_t bytes;
  unsigned char digest[DIGEST_BYTES];
};

// digest: null, or where a download leaves its body's digest.
struct job_parameters {
  job_variable variables[JOB_VARIABLES];
  uint64_t download_cap;
  body_digest* digest;
};
job_parameters download_job(const wchar_t* url, const wchar_t* destination, uint64_t download_cap);
job_parameters extract_job(const wchar_t* package, const wchar_t* staging);

// Runs the script in the hidden child (working folder g_root) and waits for it: 1 when it exited
// with code 0. A download is ended below the minimum rate (download.h). Failures are journalled.
int powershell(const wchar_t* script, const job_parameters* job);

// The child's command line: the template with the script, cut at 8,191 units.
void format_powershell_command(wchar_t command[COMMAND_LINE_UNITS], const wchar_t* script);

// The end of every run: journals a non-zero exit code; 1 exactly when the code is 0.
int finish_child(unsigned long exit_code);
