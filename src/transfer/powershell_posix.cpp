// The Linux port runs the same two jobs without PowerShell; this is the one place that picks
// the job, by its kind. Only the kind's own script text is accepted, as PowerShell would run
// nothing else.
#include <errno.h>

#include <cwchar>

#include "core/journal.h"
#include "transfer/jobs_posix.h"
#include "transfer/powershell.h"

int powershell(const wchar_t* script, const job_parameters* job) {
  bool download = job->kind == job_kind::download;
  if (wcscmp(script, download ? k_download_script : k_extract_script) != 0) {
    log_windows_error(L"Impossible de demarrer le processus auxiliaire", EINVAL);
    return 0;
  }
  return download ? run_download_job(job) : run_extract_job(job);
}
