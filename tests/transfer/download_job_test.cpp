// The download job against the real release server, on both builds: the package download and
// its extraction into a client that verifies, failed downloads, the minimum rate and odd paths.
// Linux also: what the curl child sees in its environment, the size cap, where redirects may
// lead, and the body's digest.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

#include "integrity/verify.h"
#include "support/journal_lines.h"
#include "support/release_server.h"
#include "support/test_support.h"
#include "transfer/job_support.h"
#include "trust/digest.h"
#include "trust/manifest.h"

namespace {
class PowershellJob : public release_server_test, protected job_scratch {
 protected:
  // The manifest of a published fixture release, parsed.
  static release_manifest manifest_of(const std::wstring& release) {
    release_manifest manifest = {};
    std::string text = read_bytes(fixture_path(L"releases/" + release + L"/dl/Vorna380.release.manifest"));
    EXPECT_EQ(parse_manifest(text.c_str(), &manifest), 1);
    return manifest;
  }
};
}  // namespace

TEST_F(PowershellJob, DownloadsThePackageAndExtractsAClientThatVerifies) {
  ASSERT_TRUE(serve_release(L"good"));
  release_manifest manifest = manifest_of(L"good");
  std::wstring package = dir / L"Vorna380.package.zip";
  ASSERT_TRUE(write_bytes(package, "an older, partial package"));
  ASSERT_EQ(run_download(manifest.package_url, package), 1);
  EXPECT_EQ(verify_package_file(package.c_str(), &manifest), 1);

  std::wstring staging = dir / L"Client.new";
  ASSERT_TRUE(make_dirs(join(staging, L"stale")));
  ASSERT_TRUE(write_bytes(join(staging, L"stale/left.bin"), "from an earlier extraction"));
  ASSERT_EQ(run_extract(package, staging), 1);
  EXPECT_FALSE(file_exists(join(staging, L"stale")));
  EXPECT_EQ(verify_integrity(staging.c_str(), manifest.integrity_sha256), 1);
  for (const std::string& message : journal.messages()) EXPECT_FALSE(is_child_failure(message)) << message;
}

TEST_F(PowershellJob, AFailedDownloadNeverLeavesTheOldFile) {
  std::wstring destination = dir / L"launcher-delta.tmp";
  std::vector<std::wstring> urls = {origin_url(L"fault/status-404"), origin_url(L"fault/status-500"),
                                    server_url(UNTRUSTED_PORT_OFFSET, true, L"fault/small.txt"),
                                    origin_url(L"fault/cut/exact-1mib.bin")};
#ifndef _WIN32
  // curl is told to speak https only (PowerShell itself would fetch an http URL).
  urls.push_back(server_url(PLAIN_HTTP_PORT_OFFSET, false, L"fault/small.txt"));
#endif
  for (const std::wstring& url : urls) {
    SCOPED_TRACE(to_utf8(url));
    ASSERT_TRUE(write_bytes(destination, "the previous pinned file"));
    EXPECT_EQ(run_download(url, destination), 0);
    // Deleted first; a cut body may leave what arrived, never the old content.
    EXPECT_NE(read_bytes(destination), "the previous pinned file");
    EXPECT_LT(read_bytes(destination).size(), fault_file(L"exact-1mib.bin").size());
  }
  std::vector<std::string> messages = journal.messages();
  ASSERT_EQ(messages.size(), urls.size());
  for (const std::string& message : messages) EXPECT_TRUE(is_child_failure(message)) << message;
}

TEST_F(PowershellJob, ADownloadBelowTheMinimumRateIsEnded) {
  short_rate_window window;
  const std::string k_child_failed = "Le processus auxiliaire a echoue (code 1).";
  ASSERT_TRUE(serve_file(L"dl/trickle.bin", std::string(256, 't')));  // half a minute at 8 bytes/s
  std::wstring url = origin_url(L"trickle/dl/trickle.bin");
  std::wstring package = dir / L"Vorna380.package.zip";
  EXPECT_EQ(run_download(url, package), 0);
  EXPECT_LT(read_bytes(package).size(), 256u);
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{too_slow_line(url), k_child_failed}));
#ifdef _WIN32
  // The stand-in writes half the body, then nothing for a minute.
  SetEnvironmentVariableW(L"VORNA380_STANDIN_FAULT", L"stall=60000");
  url = origin_url(L"fault/exact-1mib.bin");
  EXPECT_EQ(run_download(url, package), 0);
  SetEnvironmentVariableW(L"VORNA380_STANDIN_FAULT", nullptr);
  EXPECT_EQ(read_bytes(package).size(), fault_file(L"exact-1mib.bin").size() / 2);
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{too_slow_line(origin_url(L"trickle/dl/trickle.bin")),
                                                          k_child_failed, too_slow_line(url), k_child_failed}));
#endif
}

TEST_F(PowershellJob, PathsWithSpacesQuotesAndBracketsReachTheJobUnchanged) {
#ifdef _WIN32
  std::wstring odd = dir / L"dossier 'a' [b] (c) $d %e% & f";
#else
  std::wstring odd = dir / L"dossier 'a' \"b\" [c] (d) $e %f% & g";
#endif
  ASSERT_TRUE(make_dirs(odd));
  std::string body = fault_file(L"exact-1mib.bin");
  ASSERT_TRUE(serve_file(L"dl/odd [1] name.bin", body));
  // Through the throttled path, which serves the same tree.
  std::wstring file = join(odd, L"fichier [1] 'x'.bin");
  ASSERT_EQ(run_download(origin_url(L"slow/dl/odd%20[1]%20name.bin"), file), 1);
  EXPECT_EQ(read_bytes(file), body);

  std::wstring package = join(odd, L"paquet [1] 'x'.zip");
  ASSERT_TRUE(write_bytes(package, read_bytes(fixture_path(L"zips/sound.zip"))));
  std::wstring staging = join(odd, L"Client [new] 'x'");
  ASSERT_EQ(run_extract(package, staging), 1);
  EXPECT_EQ(read_bytes(join(staging, L"data/common/Items.k5o")), "items\n");
  EXPECT_EQ(journal.messages(), std::vector<std::string>{});
}

#ifndef _WIN32
namespace {
const char k_child_failed[] = "Le processus auxiliaire a echoue (code 1).";

class DownloadJobPosix : public release_server_test, protected job_scratch {
 protected:  std::wstring destination = dir / L"Vorna380.package.zip";
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
#endif  // !_WIN32
