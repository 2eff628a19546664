// Runs one of the launcher's two jobs from the command line, for the transfer benchmark:
// transfer_job download URL DEST | transfer_job extract PACKAGE STAGING. A download asks for
// the body's digest, as the install worker does.
// Exit code 0 when the job succeeded, 1 when it failed, 2 for a wrong command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "support/test_support.h"
#include "transfer/powershell.h"

int main(int argc, char** argv) {
  if (argc != 4 || (strcmp(argv[1], "download") != 0 && strcmp(argv[1], "extract") != 0)) {
    fprintf(stderr, "usage: transfer_job download URL DEST | transfer_job extract PACKAGE STAGING\n");
    return 2;
  }
  bool download = strcmp(argv[1], "download") == 0;
  std::wstring first = from_utf8(argv[2]);
  std::wstring second = from_utf8(argv[3]);
  job_parameters job =
      download ? download_job(first.c_str(), second.c_str(), 0) : extract_job(first.c_str(), second.c_str());
  body_digest digest = {};
  if (download) job.digest = &digest;
  return powershell(download ? k_download_script : k_extract_script, &job) ? 0 : 1;
}
