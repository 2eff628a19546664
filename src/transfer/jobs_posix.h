// The Linux port's two jobs, which powershell() dispatches on the job's kind: the download in
// download_job_posix.cpp (the curl program in a hidden child, the body written by the launcher)
// and the extraction in extract_job_posix.cpp (libarchive, in the launcher itself).
#pragma once

#include "transfer/powershell.h"

// Each returns what powershell() returns, and journals as it does.
int run_download_job(const job_parameters* job);
int run_extract_job(const job_parameters* job);
