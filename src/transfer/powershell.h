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
// Extraction: empties VORNA380_STAGING_PATH (removed whole and created again), then writes each
// entry of the zip archive VORNA380_PACKAGE_PATH below it, refusing a name that would land
// outside and stopping an entry that grows past its declared size. Its exit code names the
// step that failed (extract_exit).
extern const wchar_t k_extract_script[];

// The four variables the scripts read. The child never inherits them from the launcher's
// environment: it sees only those of its own job.
constexpr size_t JOB_VARIABLE_NAMES = 4;
extern const wchar_t* const k_job_variable_names[JOB_VARIABLE_NAMES];

struct job_variable {
  const wchar_t* name;
  const wchar_t* value;
};
constexpr size_t JOB_VARIABLES = 2;

// The SHA-256 of a downloaded body, taken as the launcher wrote it to the destination (Linux);
// known stays 0 where the child writes the file itself (PowerShell).
struct body_digest {
  int known;
  uint64_t bytes;
  unsigned char digest[DIGEST_BYTES];
};

enum class job_kind { download, extract };

// One run of a job, made by download_job or extract_job. A download brings url into
// destination, at most download_cap bytes (0: no cap; the Linux port stops there, PowerShell
// has no such switch and the callers compare sizes afterwards in any case), and leaves its
// body's digest in digest when that is not null. An extraction expands package into staging.
struct job_parameters {
  job_kind kind;
  const wchar_t* url;
  const wchar_t* destination;
  const wchar_t* package;
  const wchar_t* staging;
  uint64_t download_cap;
  body_digest* digest;
};
job_parameters download_job(const wchar_t* url, const wchar_t* destination, uint64_t download_cap);
job_parameters extract_job(const wchar_t* package, const wchar_t* staging);
// The job's two variables, as its script reads them.
void job_variables(const job_parameters* job, job_variable variables[JOB_VARIABLES]);

// The extraction's exit codes: each failed step has its own, on both builds.
enum extract_exit : unsigned long {
  EXTRACT_DONE = 0,
  EXTRACT_STAGING_UNUSABLE = 2,    // the staging folder could not be emptied or made
  EXTRACT_ARCHIVE_UNREADABLE = 3,  // not a zip archive, or its directory cannot be read
  EXTRACT_ENTRY_REFUSED = 4,       // a name outside the folder, a link, a device...
  EXTRACT_ENTRY_OVERSIZED = 5,     // more bytes than the entry declares: stopped there
  EXTRACT_ENTRY_UNWRITTEN = 6,     // a local write failed or the entry's data is damaged
};

// The end of an extraction: a line naming the failed step (entry: the entry's name where the
// job knows it, or null), then finish_child's. 1 exactly when the code is 0.
int finish_extraction(unsigned long exit_code, const wchar_t* entry);

// Runs the job's script in the hidden child (working folder g_root) and waits for it: 1 when it
// exited with code 0. A script other than its kind's is refused. A download is ended below the
// minimum rate (download.h). Failures are journalled.
int powershell(const wchar_t* script, const job_parameters* job);

// The child's command line: the template with the script, cut at 8,191 units.
void format_powershell_command(wchar_t command[COMMAND_LINE_UNITS], const wchar_t* script);

// The end of every run: journals a non-zero exit code; 1 exactly when the code is 0.
int finish_child(unsigned long exit_code);
