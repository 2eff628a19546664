// The Linux download job against the real release server: what the curl child sees in its
// environment, the size cap, where redirects may lead, and the body's digest.
#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

#include "support/journal_lines.h"
#include "support/release_server.h"
#include "support/test_support.h"
#include "transfer/job_support.h"

namespace {
const char k_child_failed[] = "Le processus auxiliaire a echoue (code 1).";

class DownloadJobPosix : public release_server_test {
 protected:
  temp_dir dir;
  root_scope root{dir.path};
  journal_capture journal{dir / L"launcher.log"};
  std::wstring destination = dir / L"Vorna380.package.zip";
};

std::string proc_file(const std::string& path) { return read_bytes(from_utf8(path)); }

// The environment of this process's curl child, once it runs curl; empty when none was seen.
std::string curl_child_environment() {
  std::string parent = " " + std::to_string(getpid()) + " ";
  DIR* processes = opendir("/proc");
  std::string environment;
  while (struct dirent* entry = processes != nullptr ? readdir(processes) : nullptr) {
    std::string folder = std::string("/proc/") + entry->d_name;
    std::string stat = proc_file(folder + "/stat");
    size_t end = stat.rfind(')');
    // "PID (comm) STATE PPID ...": a child of this process that already runs curl.
    if (end == std::string::npos || stat.size() < end + 3 + parent.size() ||
        stat.compare(end + 3, parent.size(), parent) != 0 || proc_file(folder + "/comm") != "curl\n") {
      continue;
    }
    environment = proc_file(folder + "/environ");
  }
  if (processes != nullptr) closedir(processes);
  return environment;
}

// The entries of the four job variables, and of one the test passes on.
std::set<std::string> job_entries(const std::string& environment) {
  std::set<std::string> entries;
  for (size_t at = 0, end; at < environment.size(); at = end + 1) {
    end = environment.find('\0', at);
    if (end == std::string::npos) end = environment.size();
    std::string entry = environment.substr(at, end - at);
    for (const wchar_t* name : k_job_variable_names) {
      if (entry.rfind(to_utf8(name) + "=", 0) == 0) entries.insert(entry);
    }
    if (entry.rfind("VORNA380_PASSED_ON=", 0) == 0) entries.insert(entry);
  }
  return entries;
}
}  // namespace

TEST_F(DownloadJobPosix, TheChildSeesItsJobsVariablesAndTheLauncherKeepsItsOwn) {
  std::string body = fault_file(L"exact-1mib.bin") + fault_file(L"exact-1mib.bin");
  ASSERT_TRUE(serve_file(L"dl/environment.bin", body));
  std::wstring url = origin_url(L"slow/dl/environment.bin");  // half a second: time to look
  setenv("VORNA380_DOWNLOAD_URL", "left by the launcher's caller", 1);
  setenv("VORNA380_STAGING_PATH", "of another job", 1);
  setenv("VORNA380_PASSED_ON", "kept", 1);
  std::atomic<int> result{-1};
  std::thread job([&] { result = run_download(url, destination); });
  std::string seen;
  while (result == -1 && seen.empty()) seen = curl_child_environment();
  job.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(read_bytes(destination), body);
  EXPECT_EQ(job_entries(seen),
            (std::set<std::string>{"VORNA380_DOWNLOAD_DEST=" + to_utf8(destination),
                                   "VORNA380_DOWNLOAD_URL=" + to_utf8(url), "VORNA380_PASSED_ON=kept"}));
  EXPECT_STREQ(getenv("VORNA380_DOWNLOAD_URL"), "left by the launcher's caller");
  EXPECT_STREQ(getenv("VORNA380_STAGING_PATH"), "of another job");
  EXPECT_EQ(getenv("VORNA380_DOWNLOAD_DEST"), nullptr);
  for (const char* name : {"VORNA380_DOWNLOAD_URL", "VORNA380_STAGING_PATH", "VORNA380_PASSED_ON"}) unsetenv(name);
}

TEST_F(DownloadJobPosix, StopsOnceTheBodyExceedsTheCap) {
  std::string body = fault_file(L"exact-1mib.bin");
  ASSERT_EQ(run_download(origin_url(L"fault/exact-1mib.bin"), destination, body.size()), 1);
  EXPECT_EQ(read_bytes(destination), body);
  EXPECT_EQ(run_download(origin_url(L"fault/exact-1mib.bin"), destination, body.size() - 1), 0);
  EXPECT_LT(read_bytes(destination).size(), body.size());
  EXPECT_EQ(journal.messages(),
            (std::vector<std::string>{"Taille attendue du fichier depassee: telechargement arrete.", k_child_failed}));
}

TEST_F(DownloadJobPosix, RedirectsAreFollowedOnlyWithinTheOrigin) {
  std::string small = fault_file(L"small.txt");
  ASSERT_EQ(run_download(origin_url(L"fault/redirect"), destination), 1);
  EXPECT_EQ(read_bytes(destination), small);
  // The other origin serves the file with a trusted certificate, but is not the release's.
  ASSERT_EQ(run_download(server_url(OTHER_ORIGIN_PORT_OFFSET, true, L"fault/small.txt"), destination), 1);
  EXPECT_EQ(run_download(origin_url(L"fault/redirect-other-origin"), destination), 0);
  EXPECT_NE(read_bytes(destination), small);
  EXPECT_EQ(journal.messages(),
            (std::vector<std::string>{"Redirection refusee: elle quitte l'origine de la release.", k_child_failed}));
}

TEST_F(DownloadJobPosix, TheBodyIsHashedAsItIsWritten) {
  // Through a redirect: only the final answer's body counts.
  std::string small = fault_file(L"small.txt");
  body_digest streamed = {};
  std::wstring url = origin_url(L"fault/redirect");
  job_parameters job = download_job(url.c_str(), destination.c_str(), 0);
  job.digest = &streamed;
  ASSERT_EQ(powershell(k_download_script, &job), 1);
  ASSERT_EQ(streamed.known, 1);
  EXPECT_EQ(streamed.bytes, small.size());
  wchar_t text[DIGEST_TEXT_UNITS];
  digest_hex(streamed.digest, text);
  EXPECT_EQ(to_utf8(text), sha256_hex(small));
  // A failed download leaves no digest behind.
  url = origin_url(L"fault/status-404");
  job = download_job(url.c_str(), destination.c_str(), 0);
  job.digest = &streamed;
  EXPECT_EQ(powershell(k_download_script, &job), 0);
  EXPECT_EQ(streamed.known, 0);
}
